#include "Page.h"

#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <cctype>
#include <climits>

#include "FeedLinks.h"

namespace extract {

TDocument ParsePage(std::string_view page, std::string_view contentType) {
    if (page.empty() || page.size() > INT_MAX) return nullptr;
    // A caller may hand over the header ("text/html; charset=utf-8") or only
    // the charset it named.
    std::string header(contentType);
    if (!header.empty() && AsciiLower(header).find("charset") == std::string::npos &&
        header.find('/') == std::string::npos)
        header = "text/html; charset=" + header;
    const std::string encoding = discover::PageEncoding(page, header);
    // HUGE lifts libxml2's fixed limits on text node size and nesting; the
    // extraction's own walks have none to hit.
    // The encoding is settled here; the parser must not switch on a <meta>.
    const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET |
                        HTML_PARSE_NODEFDTD | HTML_PARSE_IGNORE_ENC | HTML_PARSE_COMPACT | XML_PARSE_HUGE;
    // Fed in pieces, the parser keeps only what it has not read yet instead
    // of a converted copy of the whole page beside the tree.
    htmlParserCtxtPtr parser = htmlCreatePushParserCtxt(nullptr, nullptr, nullptr, 0, nullptr, XML_CHAR_ENCODING_NONE);
    if (parser == nullptr) return nullptr;
    htmlCtxtUseOptions(parser, options);
    if (xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(encoding.c_str()))
        xmlSwitchToEncoding(parser, handler);
    constexpr std::size_t kPiece = 256 * 1024;
    for (std::size_t at = 0; at < page.size(); at += kPiece)
        htmlParseChunk(parser, page.data() + at, static_cast<int>(std::min(kPiece, page.size() - at)), 0);
    htmlParseChunk(parser, nullptr, 0, 1);
    TDocument document(parser->myDoc);
    parser->myDoc = nullptr;
    htmlFreeParserCtxt(parser);
    return document;
}

bool IsElement(const xmlNode* node) { return node != nullptr && node->type == XML_ELEMENT_NODE; }

std::string_view NameOf(const xmlNode* node) {
    return node != nullptr && node->name != nullptr ? std::string_view(reinterpret_cast<const char*>(node->name))
                                                    : std::string_view();
}

bool Named(const xmlNode* node, std::string_view name) { return IsElement(node) && NameOf(node) == name; }

bool IsHeading(const xmlNode* node) {
    const std::string_view name = NameOf(node);
    return IsElement(node) && name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6';
}

std::string Attribute(const xmlNode* node, const char* name) {
    for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
        if (xmlStrcasecmp(a->name, reinterpret_cast<const xmlChar*>(name)) != 0) continue;
        std::string value;
        for (const xmlNode* t = a->children; t != nullptr; t = t->next)
            if (t->content != nullptr) value += reinterpret_cast<const char*>(t->content);
        return value;
    }
    return {};
}

bool HasAttribute(const xmlNode* node, const char* name) {
    for (const xmlAttr* a = node->properties; a != nullptr; a = a->next)
        if (xmlStrcasecmp(a->name, reinterpret_cast<const xmlChar*>(name)) == 0) return true;
    return false;
}

void SetAttribute(xmlNode* node, const char* name, const std::string& value) {
    xmlSetProp(node, reinterpret_cast<const xmlChar*>(name), reinterpret_cast<const xmlChar*>(value.c_str()));
}

xmlNode* FirstElementChild(const xmlNode* node) {
    for (xmlNode* child = node->children; child != nullptr; child = child->next)
        if (IsElement(child)) return child;
    return nullptr;
}

xmlNode* NextElement(const xmlNode* node) {
    for (xmlNode* next = node->next; next != nullptr; next = next->next)
        if (IsElement(next)) return next;
    return nullptr;
}

xmlNode* FindFirst(xmlNode* root, std::string_view name) {
    xmlNode* found = nullptr;
    Walk(root, [&](xmlNode* node) {
        if (found == nullptr && Named(node, name)) found = node;
        return found == nullptr;
    });
    return found;
}

bool HasAncestor(const xmlNode* node, std::string_view name, int levels) {
    for (const xmlNode* up = node->parent; up != nullptr && levels-- > 0; up = up->parent)
        if (Named(up, name)) return true;
    return false;
}

void Remove(xmlNode* node) {
    xmlUnlinkNode(node);
    xmlFreeNode(node);
}

bool IsBlank(unsigned char c) { return plat::IsBlank(static_cast<char>(c), plat::Blanks::Html); }

std::string CollapseBlanks(std::string_view text) { return plat::CollapseBlanks(text, plat::Blanks::Html); }

std::size_t VisibleLength(std::string_view text) {
    std::size_t length = 0;
    bool blank = true;
    for (const char c : text) {
        const bool isBlank = IsBlank(static_cast<unsigned char>(c));
        // A UTF-8 continuation byte is part of the character before it.
        if (!isBlank && (static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++length;
        else if (isBlank && !blank)
            ++length;
        blank = isBlank;
    }
    return length;
}

std::size_t CommaCount(std::string_view text) {
    std::size_t count = std::count(text.begin(), text.end(), ',');
    for (const std::string_view wide : {"\xEF\xBC\x8C", "\xE3\x80\x81"})
        for (std::size_t at = text.find(wide); at != std::string_view::npos; at = text.find(wide, at + 3)) ++count;
    return count;
}

std::string TextOf(const xmlNode* node, std::size_t limit) {
    std::string text;
    const xmlNode* at = node->children;
    for (std::size_t nodes = 0; at != nullptr && text.size() <= limit && nodes <= limit; ++nodes) {
        if ((at->type == XML_TEXT_NODE || at->type == XML_CDATA_SECTION_NODE) && at->content != nullptr)
            text += reinterpret_cast<const char*>(at->content);
        else if (Named(at, "br"))
            text += ' ';
        if (IsElement(at) && at->children != nullptr) {
            at = at->children;
            continue;
        }
        while (at != node && at->next == nullptr) at = at->parent;
        at = at == node ? nullptr : at->next;
    }
    return CollapseBlanks(text);
}

}  // namespace extract
