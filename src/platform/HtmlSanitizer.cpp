#include "HtmlSanitizer.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Text.h"

namespace html {

namespace {

using plat::AsciiLower;
using plat::AsciiLowerInPlace;
using plat::Blanks;
using plat::IsBlank;  // with Blanks::Html: the fragments are HTML, where a VT is text

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

enum class Verdict {
    Keep,    // the element and its allowed attributes
    Unwrap,  // not the element, but its children
    Drop,    // neither the element nor anything inside it
};

// Article markup a reader expects to see.
const std::set<std::string, std::less<>>& KeptElements() {
    static const std::set<std::string, std::less<>> names = {
        "a",       "abbr",    "address", "article", "aside",   "b",      "bdi",        "bdo",    "big",    "blockquote",
        "br",      "caption", "center",  "cite",    "code",    "col",    "colgroup",   "data",   "dd",     "del",
        "details", "dfn",     "div",     "dl",      "dt",      "em",     "figcaption", "figure", "footer", "h1",
        "h2",      "h3",      "h4",      "h5",      "h6",      "header", "hr",         "i",      "img",    "ins",
        "kbd",     "li",      "main",    "mark",    "ol",      "p",      "picture",    "pre",    "q",      "rp",
        "rt",      "ruby",    "s",       "samp",    "section", "small",  "source",     "span",   "strike", "strong",
        "sub",     "summary", "sup",     "table",   "tbody",   "td",     "tfoot",      "th",     "thead",  "time",
        "tr",      "tt",      "u",       "ul",      "var",     "wbr",
    };
    return names;
}

// Elements whose content is code, styling, a foreign document or a control's
// value: nothing of them belongs in an article.
const std::set<std::string, std::less<>>& DroppedElements() {
    static const std::set<std::string, std::less<>> names = {
        "applet", "audio",    "base",     "basefont", "button",   "canvas",  "datalist", "dialog",   "embed",
        "frame",  "frameset", "head",     "iframe",   "input",    "link",    "map",      "math",     "meta",
        "meter",  "noembed",  "noframes", "object",   "optgroup", "option",  "output",   "param",    "plaintext",
        "portal", "progress", "script",   "select",   "slot",     "style",   "svg",      "template", "textarea",
        "title",  "track",    "video",    "xmp",      "keygen",   "isindex", "marquee",
    };
    return names;
}

// Elements that never have content, written without an end tag. The parser
// knows HTML 4 and puts what follows some newer ones (source, embed, wbr)
// inside them: that content belongs to their parent, so it is written
// after them, and kept even when the element itself goes.
bool IsVoid(std::string_view name) {
    static const std::set<std::string, std::less<>> names = {
        "area",  "base",    "basefont", "br",   "col",  "embed", "frame",  "hr",    "img",
        "input", "isindex", "keygen",   "link", "meta", "param", "source", "track", "wbr",
    };
    return names.count(name) != 0;
}

// libxml2's HTML parser compares every attribute of a tag with all those
// before it, so its work grows with the square of a tag's attributes: one
// tag with 20,000 of them, or 2,000 tags with 500 each, take many seconds.
// No article needs more than a handful; a fragment past these bounds is
// shown as plain text instead of being parsed.
constexpr std::size_t kMaxAttributesPerTag = 512;
constexpr std::size_t kMaxAttributeWork = 8'000'000;  // sum of squares over the tags

// A lexical look at the fragment's tags, reading attribute values the way
// the parser does (quoted, or up to a blank or '>').
bool HasTooManyAttributes(std::string_view text) {
    std::size_t work = 0;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while ((i = text.find('<', i)) != std::string_view::npos) {
        ++i;
        if (i >= n || !std::isalpha(static_cast<unsigned char>(text[i]))) continue;
        while (i < n && !IsBlank(text[i], Blanks::Html) && text[i] != '>') ++i;  // the tag name
        std::size_t attributes = 0;
        while (i < n && text[i] != '>') {
            if (IsBlank(text[i], Blanks::Html) || text[i] == '/') {
                ++i;
            } else if (text[i] == '=') {
                ++i;
                while (i < n && IsBlank(text[i], Blanks::Html)) ++i;
                if (i < n && (text[i] == '"' || text[i] == '\'')) {
                    const std::size_t close = text.find(text[i], i + 1);
                    i = close == std::string_view::npos ? n : close + 1;
                } else {
                    while (i < n && !IsBlank(text[i], Blanks::Html) && text[i] != '>') ++i;
                }
            } else {
                if (++attributes > kMaxAttributesPerTag) return true;
                while (i < n && !IsBlank(text[i], Blanks::Html) && text[i] != '=' && text[i] != '>') ++i;
            }
        }
        work += attributes * attributes;
        if (work > kMaxAttributeWork) return true;
    }
    return false;
}

Verdict VerdictFor(xmlNodePtr element, std::string_view name) {
    if (name == "source") {
        // A picture's alternative images; audio and video sources are media.
        const xmlNodePtr parent = element->parent;
        const bool inPicture = parent && parent->type == XML_ELEMENT_NODE && parent->name &&
                               std::strcmp(reinterpret_cast<const char*>(parent->name), "picture") == 0;
        return inPicture ? Verdict::Keep : Verdict::Drop;
    }
    if (KeptElements().count(name)) return Verdict::Keep;
    if (DroppedElements().count(name)) return Verdict::Drop;
    // html, body, form, fieldset, label, noscript, font, unknown elements:
    // their text is the article's, their markup is not needed.
    return Verdict::Unwrap;
}

enum class AttributeKind { Text, LinkUrl, ImageUrl, SourceSet };

// The attributes kept, per element ("*" for every element).
bool AllowedAttribute(std::string_view element, std::string_view attribute, AttributeKind& kind) {
    kind = AttributeKind::Text;
    if (attribute == "title" || attribute == "lang" || attribute == "dir") return true;
    if (element == "a") {
        if (attribute == "href") return kind = AttributeKind::LinkUrl, true;
        return attribute == "hreflang";
    }
    if (element == "img" || element == "source") {
        if (attribute == "src" && element == "img") return kind = AttributeKind::ImageUrl, true;
        if (attribute == "srcset") return kind = AttributeKind::SourceSet, true;
        return attribute == "alt" || attribute == "width" || attribute == "height" || attribute == "sizes" ||
               (element == "source" && (attribute == "type" || attribute == "media"));
    }
    if (element == "blockquote" || element == "q" || element == "del" || element == "ins") {
        if (attribute == "cite") return kind = AttributeKind::LinkUrl, true;
        return attribute == "datetime";
    }
    if (element == "td" || element == "th")
        return attribute == "colspan" || attribute == "rowspan" || attribute == "headers" || attribute == "scope" ||
               attribute == "abbr" || attribute == "align" || attribute == "valign";
    if (element == "col" || element == "colgroup") return attribute == "span";
    if (element == "ol") return attribute == "start" || attribute == "type" || attribute == "reversed";
    if (element == "ul") return attribute == "type";
    if (element == "li" || element == "data") return attribute == "value";
    if (element == "time") return attribute == "datetime";
    if (element == "abbr" || element == "dfn") return attribute == "title";
    if (element == "details") return attribute == "open";
    if (element == "p" || element == "div" || element == "h1" || element == "h2" || element == "h3" ||
        element == "h4" || element == "h5" || element == "h6" || element == "table" || element == "tr")
        return attribute == "align";
    return false;
}

// The scheme of an address as a browser reads it: tabs and line breaks
// anywhere are ignored, and so are leading blanks and control characters.
// "" for an address without one (a relative address).
std::string SchemeOf(std::string_view url) {
    std::string cleaned;
    for (char c : url)
        if (c != '\t' && c != '\n' && c != '\r') cleaned += c;
    std::size_t start = 0;
    while (start < cleaned.size() && static_cast<unsigned char>(cleaned[start]) <= ' ') ++start;
    std::string scheme;
    for (std::size_t i = start; i < cleaned.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(cleaned[i]);
        if (c == ':') return scheme.empty() ? std::string(":") : scheme;
        if (c == '/' || c == '?' || c == '#') return {};
        const bool schemeChar = std::isalpha(c) || (i > start && (std::isdigit(c) || c == '+' || c == '-' || c == '.'));
        // Anything else before a colon: not a scheme a browser accepts, so
        // the address is odd; treat it as one we do not allow.
        if (!schemeChar) return std::string(":");
        scheme += AsciiLower(static_cast<char>(c));
    }
    return {};
}

bool SchemeAllowed(std::string_view url, bool mailtoToo) {
    const std::string scheme = SchemeOf(url);
    return scheme.empty() || scheme == "http" || scheme == "https" || (mailtoToo && scheme == "mailto");
}

// srcset, split into candidates the way a browser splits it: blanks and
// commas before a candidate are skipped; its address runs to the next blank,
// and trailing commas of the address end the candidate; otherwise its
// descriptors run to the next comma outside parentheses. Every address must
// be one an image may be loaded from.
bool SourceSetAllowed(std::string_view value) {
    std::size_t pos = 0;
    const std::size_t n = value.size();
    for (;;) {
        while (pos < n && (IsBlank(value[pos], Blanks::Html) || value[pos] == ',')) ++pos;
        if (pos >= n) return true;
        const std::size_t start = pos;
        while (pos < n && !IsBlank(value[pos], Blanks::Html)) ++pos;
        std::string_view url = value.substr(start, pos - start);
        const bool endsCandidate = url.back() == ',';
        while (!url.empty() && url.back() == ',') url.remove_suffix(1);
        if (!url.empty() && !IsSafeImageUrl(url)) return false;
        if (endsCandidate) continue;
        bool inParentheses = false;
        for (; pos < n; ++pos) {
            const char c = value[pos];
            if (inParentheses) {
                if (c == ')') inParentheses = false;
            } else if (c == '(') {
                inParentheses = true;
            } else if (c == ',') {
                ++pos;
                break;
            }
        }
    }
}

void AppendEscaped(std::string& out, const xmlChar* text, bool inAttribute) {
    if (text) plat::AppendMarkupEscaped(out, reinterpret_cast<const char*>(text), inAttribute);
}

std::string AttributeText(xmlNodePtr element, xmlAttrPtr attr) {
    xmlChar* value = xmlNodeListGetString(element->doc, attr->children, 1);
    std::string text = value ? reinterpret_cast<const char*>(value) : "";
    if (value) xmlFree(value);
    return text;
}

void AppendStartTag(std::string& out, xmlNodePtr element, std::string_view name) {
    out += '<';
    out += name;
    for (xmlAttrPtr attr = element->properties; attr; attr = attr->next) {
        if (!attr->name || attr->ns) continue;
        std::string attribute = reinterpret_cast<const char*>(attr->name);
        AsciiLowerInPlace(attribute);
        AttributeKind kind;
        if (!AllowedAttribute(name, attribute, kind)) continue;
        const std::string value = AttributeText(element, attr);
        if ((kind == AttributeKind::LinkUrl && !IsSafeLinkUrl(value)) ||
            (kind == AttributeKind::ImageUrl && !IsSafeImageUrl(value)) ||
            (kind == AttributeKind::SourceSet && !SourceSetAllowed(value)))
            continue;
        out += ' ';
        out += attribute;
        out += "=\"";
        AppendEscaped(out, reinterpret_cast<const xmlChar*>(value.c_str()), true);
        out += '"';
    }
    out += '>';
}

bool HasAttribute(xmlNodePtr element, const char* name) {
    for (xmlAttrPtr attr = element->properties; attr; attr = attr->next)
        if (attr->name && xmlStrcasecmp(attr->name, reinterpret_cast<const xmlChar*>(name)) == 0) return true;
    return false;
}

std::string LowerName(xmlNodePtr element) {
    return AsciiLower(element->name ? reinterpret_cast<const char*>(element->name) : "");
}

// Writes the allowed part of the tree from `first` on. Iterative, with an
// explicit stack, so a deeply nested fragment cannot exhaust the stack.
void WriteAllowed(xmlNodePtr first, std::string& out) {
    struct Pending {
        xmlNodePtr next;     // where to go on after the children
        std::string endTag;  // "" for an unwrapped element
    };
    std::vector<Pending> stack;
    xmlNodePtr node = first;
    for (;;) {
        while (node) {
            if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
                AppendEscaped(out, node->content, false);
                node = node->next;
                continue;
            }
            if (node->type != XML_ELEMENT_NODE) {  // comments, processing instructions
                node = node->next;
                continue;
            }
            const std::string name = LowerName(node);
            Verdict verdict = VerdictFor(node, name);
            // An image that may not be loaded is no image.
            if (verdict == Verdict::Keep && name == "img") {
                bool usable = false;
                for (xmlAttrPtr attr = node->properties; attr; attr = attr->next)
                    if (attr->name && xmlStrcasecmp(attr->name, reinterpret_cast<const xmlChar*>("src")) == 0)
                        usable = IsSafeImageUrl(AttributeText(node, attr));
                if (!usable && !HasAttribute(node, "srcset")) verdict = Verdict::Drop;
            }
            if (verdict == Verdict::Drop && !IsVoid(name)) {
                node = node->next;
                continue;
            }
            if (verdict == Verdict::Keep) AppendStartTag(out, node, name);
            const bool withEndTag = verdict == Verdict::Keep && !IsVoid(name);
            stack.push_back({node->next, withEndTag ? name : std::string()});
            node = node->children;
        }
        if (stack.empty()) break;
        Pending done = std::move(stack.back());
        stack.pop_back();
        if (!done.endTag.empty()) out += "</" + done.endTag + ">";
        node = done.next;
    }
}

// ---- nesting past the parser's limit ----

// libxml2's HTML parser stops at this depth and drops the rest of its input
// (lifting the limit would let end tags that match nothing cost the square
// of the depth).
constexpr std::size_t kParserDepth = 256;
// The nesting FlattenDeepTags keeps, well inside the parser's limit.
constexpr std::size_t kFlattenDepth = 200;

DocPtr ParseBody(std::string_view fragment) {
    // Parsed inside a body, so the parser does not wrap leading text in a
    // paragraph of its own.
    std::string document = "<body>";
    document.append(fragment);
    const int options = HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NODEFDTD;
    return DocPtr(htmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr, "UTF-8", options));
}

std::size_t TreeDepth(xmlDocPtr doc) {
    std::size_t depth = 0, deepest = 0;
    xmlNodePtr node = doc->children;
    while (node) {
        deepest = std::max(deepest, depth);
        if (node->children) {
            node = node->children;
            ++depth;
            continue;
        }
        while (node && !node->next) {
            node = node->parent == reinterpret_cast<xmlNodePtr>(doc) ? nullptr : node->parent;
            --depth;
        }
        if (node) node = node->next;
    }
    return deepest;
}

// Elements the parser never opens (HTML 4's empty elements).
bool ParserTreatsAsEmpty(std::string_view name) {
    static const std::set<std::string, std::less<>> names = {
        "area", "base", "basefont", "br", "col", "frame", "hr", "img", "input", "isindex", "link", "meta", "param",
    };
    return names.count(name) != 0;
}

// The fragment with every tag nested deeper than kFlattenDepth left out and
// all its text kept. The count is the parser's upper bound: an end tag
// closes only the innermost open element and only when it names it, while
// the parser closes at least that much (and opens at most html, body and a
// paragraph of its own), so it never nests deeper than counted here.
std::string FlattenDeepTags(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::vector<std::string> open;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const std::size_t lt = text.find('<', i);
        out.append(text.substr(i, lt == std::string_view::npos ? n - i : lt - i));
        if (lt == std::string_view::npos) break;
        i = lt + 1;
        const bool end = i < n && text[i] == '/';
        const std::size_t nameStart = i + (end ? 1 : 0);
        if (nameStart >= n || !std::isalpha(static_cast<unsigned char>(text[nameStart]))) {
            out += '<';  // not a tag: text, or a comment the parser skips alike
            continue;
        }
        std::size_t j = nameStart;
        while (j < n && !IsBlank(text[j], Blanks::Html) && text[j] != '>' && text[j] != '/') ++j;
        std::string name = AsciiLower(text.substr(nameStart, j - nameStart));
        while (j < n && text[j] != '>') {  // attributes, quoted values read as the parser reads them
            if (text[j] == '=') {
                ++j;
                while (j < n && IsBlank(text[j], Blanks::Html)) ++j;
                if (j < n && (text[j] == '"' || text[j] == '\'')) {
                    const std::size_t close = text.find(text[j], j + 1);
                    j = close == std::string_view::npos ? n : close + 1;
                }
            } else {
                ++j;
            }
        }
        if (j >= n) {
            out += '<';  // never closed: the rest is text
            continue;
        }
        const std::size_t tagEnd = j + 1;
        bool keep = true;
        if (end) {
            if (!open.empty() && open.back() == name)
                open.pop_back();
            else
                keep = open.size() < kFlattenDepth;
        } else if (!ParserTreatsAsEmpty(name)) {
            keep = open.size() < kFlattenDepth;
            if (keep) open.push_back(std::move(name));
        }
        if (keep) out.append(text.substr(lt, tagEnd - lt));
        i = tagEnd;
    }
    return out;
}

// The fragment's text without any markup, for a fragment that nests too
// deep even when flattened: nothing in it can form a tag.
std::string TextOnly(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '<') {
            const std::size_t close = text.find('>', i);
            if (close != std::string_view::npos) {
                i = close;
                continue;
            }
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

bool IsSafeLinkUrl(std::string_view url) { return SchemeAllowed(url, true); }

bool IsSafeImageUrl(std::string_view url) { return SchemeAllowed(url, false); }

std::string SanitizeFragment(std::string_view fragment) {
    if (fragment.empty() || fragment.size() > static_cast<std::size_t>(INT_MAX) - 16) return {};
    // A fragment of plain text needs no parser.
    if (fragment.find_first_of("<&") == std::string_view::npos || HasTooManyAttributes(fragment)) {
        std::string plain(fragment);
        std::string out;
        AppendEscaped(out, reinterpret_cast<const xmlChar*>(plain.c_str()), false);
        return out;
    }
    DocPtr doc = ParseBody(fragment);
    // At its depth limit the parser stops and drops the rest; the fragment
    // is parsed again with its deepest tags left out, or as bare text.
    if (doc && TreeDepth(doc.get()) >= kParserDepth - 6) doc = ParseBody(FlattenDeepTags(fragment));
    if (doc && TreeDepth(doc.get()) >= kParserDepth - 6) return TextOnly(fragment);
    if (!doc) return {};
    std::string out;
    out.reserve(fragment.size());
    WriteAllowed(doc->children, out);
    return out;
}

}  // namespace html
