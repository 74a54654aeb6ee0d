#include "XmlDom.h"

#include "Text.h"

#include "AtomicFile.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/entities.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>

namespace xml {

namespace {

constexpr const char* kNotSingleText = "Element does not contain a single text node";
constexpr const char* kStaleHandle = "XML node used after its document was reloaded or closed";

// Internal entities longer than this are dropped rather than expanded: a
// feed has no business declaring large ones, and it bounds the work.
constexpr std::size_t kMaxEntityText = 64 * 1024;

// libxml2 reports some problems (encoding errors among them) on its
// generic channel, which prints to stderr; the parse error we raise already
// says what went wrong.
void IgnoreLibxmlMessage(void*, const char*, ...) {}

void InitLibxml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

std::string S(const xmlChar* s) { return s ? std::string(reinterpret_cast<const char*>(s)) : std::string(); }

// Owns a string libxml2 allocated.
std::string TakeString(xmlChar* s) {
    std::string result = S(s);
    if (s) xmlFree(s);
    return result;
}

xmlNodePtr N(void* p) { return static_cast<xmlNodePtr>(p); }

std::string QualifiedName(xmlNodePtr node) {
    std::string name = S(node->name);
    if ((node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) && node->ns && node->ns->prefix)
        return S(node->ns->prefix) + ":" + name;
    return name;
}

// QualifiedName(node) == name, without building the string: lookups by name
// run for every attribute and child of every element a caller searches.
bool HasQualifiedName(xmlNodePtr node, std::string_view name) {
    const std::string_view local = node->name ? reinterpret_cast<const char*>(node->name) : "";
    if ((node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) && node->ns && node->ns->prefix) {
        const std::string_view prefix = reinterpret_cast<const char*>(node->ns->prefix);
        return name.size() == prefix.size() + 1 + local.size() && name.substr(0, prefix.size()) == prefix &&
               name[prefix.size()] == ':' && name.substr(prefix.size() + 1) == local;
    }
    return name == local;
}

bool HasQualifiedName(xmlAttrPtr attr, std::string_view name) {
    return HasQualifiedName(reinterpret_cast<xmlNodePtr>(attr), name);
}

// An attribute's value. Nearly always a single text node, read in place;
// anything else is joined by libxml2.
std::string AttributeValue(xmlNodePtr owner, xmlAttrPtr attr) {
    const xmlNodePtr value = attr->children;
    if (!value) return {};
    if (!value->next && value->type == XML_TEXT_NODE) return S(value->content);
    return TakeString(xmlNodeListGetString(owner->doc, value, 1));
}

// The namespace rule of child lookup: a parent in no namespace accepts any
// child; a parent in a namespace only children in the same one (URIs
// compared without regard to letter case).
bool SameNamespaceOrFree(xmlNsPtr parentNs, xmlNsPtr childNs) {
    if (!parentNs || parentNs == childNs) return true;
    if (!childNs) return false;
    return parentNs->href == childNs->href || xmlStrcasecmp(parentNs->href, childNs->href) == 0;
}

bool IsWhitespaceOnly(const xmlChar* text) {
    if (!text) return true;
    for (const xmlChar* p = text; *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') return false;
    return true;
}

bool IsTextLike(xmlNodePtr node) { return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE; }

// Entity references are expanded by this layer, not by libxml2 (whose
// substitution mode would also pull in external entities), so the budget
// libxml2 keeps for its own substitution does not apply here: this one
// does. A document may grow through entity references by at most
// kExpansionFactor times its own size and never beyond kMaxExpandedText (the
// download cap), so a small feed that names a large entity thousands of
// times is refused instead of becoming hundreds of megabytes.
constexpr std::size_t kExpansionFactor = 8;
constexpr std::size_t kMaxExpandedText = 32 * 1024 * 1024;

class EntityBudget {
public:
    EntityBudget(std::size_t inputSize, const std::string& source)
        : FLimit(std::min(kMaxExpandedText, inputSize * kExpansionFactor)), FSource(source) {}

    // Appends the text of one entity reference to `out`. Internal entities
    // holding plain text are expanded; anything else (external, undeclared,
    // holding markup or further references, or larger than kMaxEntityText)
    // is dropped, so the tree holds plain text and CDATA only. Raises
    // XmlError when the document's expansions pass the budget.
    void Expand(xmlDocPtr doc, const xmlChar* name, std::string& out) {
        ++FReferences;
        xmlEntityPtr entity = xmlGetDocEntity(doc, name);
        if (!entity || entity->etype != XML_INTERNAL_GENERAL_ENTITY || !entity->content) return;
        const char* content = reinterpret_cast<const char*>(entity->content);
        const std::size_t length = std::strlen(content);
        if (length > kMaxEntityText || std::memchr(content, '&', length) || std::memchr(content, '<', length)) return;
        FUsed += length;
        if (FUsed > FLimit) {
            std::ostringstream message;
            message << "XML document refused";
            if (!FSource.empty()) message << " ('" << FSource << "')";
            message << ": entity expansion limit exceeded, its first " << FReferences
                    << " entity references expand to more than " << FLimit << " bytes (the limit is "
                    << kExpansionFactor << " times the document's size, at most 32 MiB)";
            throw XmlError(message.str());
        }
        out.append(content, length);
    }

private:
    std::size_t FLimit;
    std::size_t FUsed = 0;
    std::size_t FReferences = 0;
    const std::string& FSource;
};

bool IsTextOrReference(xmlNodePtr node) {
    return node && (node->type == XML_TEXT_NODE || node->type == XML_ENTITY_REF_NODE);
}

void FreeNode(xmlNodePtr node) {
    xmlUnlinkNode(node);
    xmlFreeNode(node);
}

// Replaces the run of text and entity-reference nodes starting at `first`
// by one text node holding their joined, expanded text (no node when that
// text is empty). Returns that node, or the node after the run.
xmlNodePtr JoinTextRun(xmlNodePtr first, EntityBudget& budget) {
    if (first->type == XML_TEXT_NODE && !IsTextOrReference(first->next)) return first;
    std::string text;
    xmlNodePtr end = first;
    for (; IsTextOrReference(end); end = end->next) {
        if (end->type == XML_TEXT_NODE) {
            if (end->content) text += reinterpret_cast<const char*>(end->content);
        } else {
            budget.Expand(end->doc, end->name, text);
        }
    }
    // One buffer per run: appending to a text node once per reference would
    // copy the growing text again for every reference.
    xmlNodePtr parent = first->parent;
    xmlNodePtr before = first->prev;
    for (xmlNodePtr node = first; node != end;) {
        xmlNodePtr next = node->next;
        FreeNode(node);
        node = next;
    }
    if (text.empty()) return end;
    xmlNodePtr joined =
        xmlNewDocTextLen(parent->doc, reinterpret_cast<const xmlChar*>(text.data()), static_cast<int>(text.size()));
    if (!joined) throw XmlError("Out of memory expanding XML entities");
    // Linked by hand: libxml2's sibling functions merge text into a
    // neighbouring text node, and the parent may be an attribute.
    joined->parent = parent;
    joined->prev = before;
    joined->next = end;
    if (before)
        before->next = joined;
    else
        parent->children = joined;
    if (end)
        end->prev = joined;
    else
        parent->last = joined;
    return joined;
}

// An attribute value that names entities becomes one text node with them
// expanded under the same budget as element text; otherwise every reader of
// the value would expand them again, without any bound.
void ExpandAttributeReferences(xmlNodePtr element, EntityBudget& budget) {
    for (xmlAttrPtr attr = element->properties; attr; attr = attr->next) {
        bool hasReference = false;
        for (xmlNodePtr value = attr->children; value && !hasReference; value = value->next)
            hasReference = value->type == XML_ENTITY_REF_NODE;
        if (!hasReference) continue;
        JoinTextRun(attr->children, budget);
    }
}

// Inline XHTML (Atom carries xhtml content, titles and summaries that way)
// is laid out by a browser, where a blank between two elements is the space
// between two words; everywhere else such a blank is indentation.
constexpr const char* kXhtmlNamespace = "http://www.w3.org/1999/xhtml";

bool IsXhtmlNamespace(xmlNsPtr ns) { return ns && xmlStrEqual(ns->href, BAD_CAST kXhtmlNamespace); }

// Whether blanks inside `element` are kept. A document declares its
// namespaces once for thousands of elements, so the answer for the last
// namespace asked about is remembered instead of comparing its URI again.
class BlankRule {
public:
    bool KeepsBlanks(xmlNodePtr element) {
        if (!element || element->type != XML_ELEMENT_NODE) return false;
        if (element->ns != FLastNs) {
            FLastNs = element->ns;
            FLastIsXhtml = IsXhtmlNamespace(element->ns);
        }
        return FLastIsXhtml;
    }

private:
    xmlNsPtr FLastNs = nullptr;
    bool FLastIsXhtml = false;
};

// Brings the children of one complete element into the form every reader
// of the tree expects:
//  * entity references to internal entities become their text, within the
//    budget above; anything else is dropped;
//  * neighbouring text nodes are merged;
//  * whitespace-only text that stands beside other nodes (the indentation
//    between elements) is dropped, except in XHTML markup. An element whose
//    only content is white space keeps it, so a stored text of blanks reads
//    back as written.
void NormaliseChildren(xmlNodePtr element, bool keepBlanks, EntityBudget& budget) {
    if (element->properties) ExpandAttributeReferences(element, budget);
    for (xmlNodePtr child = element->children; child;) {
        if (IsTextOrReference(child)) {
            child = JoinTextRun(child, budget);
            if (!child || child->type != XML_TEXT_NODE) continue;
        }
        xmlNodePtr next = child->next;
        if (!keepBlanks && child->type == XML_TEXT_NODE && (child->prev || child->next) &&
            IsWhitespaceOnly(child->content))
            FreeNode(child);
        child = next;
    }
}

// What the parser's callbacks share during one load.
struct LoadState {
    xmlParserCtxtPtr ctxt;
    EntityBudget budget;
    BlankRule blanks;
    std::string failure;  // why the load was stopped; "" while it goes on
};

// The parser calls this as each element closes. Normalising the element's
// children there, while they are still in the processor's cache, costs a
// fraction of a second walk over the whole tree after the parse.
void OnEndElement(void* context, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri) {
    const auto ctxt = static_cast<xmlParserCtxtPtr>(context);
    const xmlNodePtr element = ctxt->node;
    xmlSAX2EndElementNs(context, localName, prefix, uri);
    auto* state = static_cast<LoadState*>(ctxt->_private);
    // The parser checks an entity's markup on a context of its own; that
    // is no part of the document's tree.
    if (!state || state->ctxt != ctxt || !element || !state->failure.empty()) return;
    try {
        NormaliseChildren(element, state->blanks.KeepsBlanks(element), state->budget);
    } catch (const std::exception& error) {
        // Nothing may be thrown through the parser: it stops, and the
        // caller raises.
        state->failure = error.what();
        xmlStopParser(ctxt);
    }
}

// Blanks the parser would drop as indentation (XML_PARSE_NOBLANKS); inside
// XHTML markup they are kept as text.
void OnIgnorableWhitespace(void* context, const xmlChar* text, int length) {
    const auto ctxt = static_cast<xmlParserCtxtPtr>(context);
    auto* state = static_cast<LoadState*>(ctxt->_private);
    const xmlNodePtr element = ctxt->node;
    const bool keep = state && state->ctxt == ctxt
                          ? state->blanks.KeepsBlanks(element)
                          : element && element->type == XML_ELEMENT_NODE && IsXhtmlNamespace(element->ns);
    if (keep) xmlSAX2Characters(context, text, length);
}

std::string ParseErrorText(xmlParserCtxtPtr ctxt, const std::string& source) {
    const xmlError* error = ctxt ? &ctxt->lastError : nullptr;
    std::ostringstream out;
    out << "XML parse error";
    if (!source.empty()) out << " in '" << source << "'";
    if (error && error->code != XML_ERR_OK) {
        out << " at line " << error->line << ", column " << error->int2;
        std::string message = error->message ? error->message : "";
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
            message.pop_back();
        if (!message.empty()) out << ": " << message;
    } else {
        out << ": the document is empty or not well-formed";
    }
    return out.str();
}

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when the
// bytes there are not a valid, shortest-form sequence.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    std::size_t length;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    return length;
}

bool IsXmlChar(char32_t cp) {
    if (cp < 0x20) return cp == 0x09 || cp == 0x0A || cp == 0x0D;
    return cp != 0xFFFE && cp != 0xFFFF;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string CleanText(std::string_view text) {
    // Fast path: most texts are already fine.
    std::size_t i = 0;
    char32_t cp = 0;
    while (i < text.size()) {
        std::size_t length = DecodeUtf8(text, i, cp);
        if (length == 0 || !IsXmlChar(cp)) break;
        i += length;
    }
    if (i == text.size()) return std::string(text);

    std::string out(text.substr(0, i));
    out.reserve(text.size());
    while (i < text.size()) {
        std::size_t length = DecodeUtf8(text, i, cp);
        if (length == 0) {
            AppendUtf8(out, 0xFFFD);
            i += 1;
            continue;
        }
        if (IsXmlChar(cp)) out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

namespace detail {

struct DocState {
    xmlDocPtr doc = nullptr;
    std::uint64_t generation = 1;
    bool modified = false;
    bool autoSave = false;
    std::string fileName;
    // Removed nodes are kept until the next reset so that handles to them
    // stay safe to use.
    std::vector<xmlNodePtr> removed;

    ~DocState() { Reset(nullptr); }

    void Reset(xmlDocPtr replacement) {
        for (xmlNodePtr node : removed) xmlFreeNode(node);
        removed.clear();
        if (doc) xmlFreeDoc(doc);
        doc = replacement;
        ++generation;
    }

    static xmlDocPtr NewEmpty() {
        xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
        if (!doc) throw XmlError("Out of memory creating an XML document");
        return doc;
    }
};

}  // namespace detail

// ---------------------------------------------------------------- Node

void* Node::Checked() const {
    if (!FNode) throw XmlError("Null XML node");
    if (!FState || FState->generation != FGeneration || !FState->doc) throw XmlError(kStaleHandle);
    return FNode;
}

void Node::MarkModified() const {
    if (FState) FState->modified = true;
}

NodeType Node::Type() const {
    switch (N(Checked())->type) {
        case XML_ELEMENT_NODE:
            return NodeType::Element;
        case XML_TEXT_NODE:
            return NodeType::Text;
        case XML_CDATA_SECTION_NODE:
            return NodeType::CData;
        case XML_COMMENT_NODE:
            return NodeType::Comment;
        case XML_PI_NODE:
            return NodeType::ProcessingInstruction;
        default:
            return NodeType::Other;
    }
}

std::string Node::Name() const {
    xmlNodePtr node = N(Checked());
    switch (node->type) {
        case XML_TEXT_NODE:
            return "#text";
        case XML_CDATA_SECTION_NODE:
            return "#cdata-section";
        case XML_COMMENT_NODE:
            return "#comment";
        default:
            return QualifiedName(node);
    }
}

std::string Node::LocalName() const {
    xmlNodePtr node = N(Checked());
    if (node->type != XML_ELEMENT_NODE && node->type != XML_PI_NODE) return Name();
    return S(node->name);
}

std::string Node::NamespaceURI() const {
    xmlNodePtr node = N(Checked());
    if (node->type == XML_ELEMENT_NODE && node->ns) return S(node->ns->href);
    return {};
}

Node Node::Parent() const {
    xmlNodePtr node = N(Checked());
    xmlNodePtr parent = node->parent;
    if (!parent || parent->type == XML_DOCUMENT_NODE) return {};
    return Node(FState, parent, FGeneration);
}

Node Node::FirstChild() const {
    xmlNodePtr child = N(Checked())->children;
    return child ? Node(FState, child, FGeneration) : Node();
}

Node Node::NextSibling() const {
    xmlNodePtr next = N(Checked())->next;
    return next ? Node(FState, next, FGeneration) : Node();
}

std::size_t Node::ChildCount() const {
    std::size_t count = 0;
    for (xmlNodePtr child = N(Checked())->children; child; child = child->next) ++count;
    return count;
}

Node Node::Child(std::size_t index) const {
    for (xmlNodePtr child = N(Checked())->children; child; child = child->next)
        if (index-- == 0) return Node(FState, child, FGeneration);
    return {};
}

std::vector<Node> Node::Children() const {
    std::vector<Node> result;
    for (xmlNodePtr child = N(Checked())->children; child; child = child->next)
        result.push_back(Node(FState, child, FGeneration));
    return result;
}

std::vector<Node> Node::ChildElements() const {
    std::vector<Node> result;
    for (xmlNodePtr child = N(Checked())->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE) result.push_back(Node(FState, child, FGeneration));
    return result;
}

Node Node::FindChild(std::string_view name) const {
    xmlNodePtr parent = N(Checked());
    // A prefixed name ("dc:date") may match a child's qualified name; an
    // unprefixed one can only match a local name.
    const auto colon = name.find(':');
    const std::string_view prefix = colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
    const std::string_view local = colon == std::string_view::npos ? name : name.substr(colon + 1);
    for (xmlNodePtr child = parent->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        if (!SameNamespaceOrFree(parent->ns, child->ns)) continue;
        const char* childName = reinterpret_cast<const char*>(child->name);
        if (name == childName) return Node(FState, child, FGeneration);
        if (colon != std::string_view::npos && child->ns && child->ns->prefix &&
            prefix == reinterpret_cast<const char*>(child->ns->prefix) && local == childName)
            return Node(FState, child, FGeneration);
    }
    return {};
}

Node Node::GetChild(std::string_view name) {
    Node found = FindChild(name);
    if (found) return found;
    xmlNodePtr parent = N(Checked());
    xmlNodePtr child = xmlNewDocNode(parent->doc, parent->ns, X(std::string(name)), nullptr);
    xmlAddChild(parent, child);
    MarkModified();
    return Node(FState, child, FGeneration);
}

Node Node::ChildByName(std::string_view name) const {
    for (xmlNodePtr child = N(Checked())->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE && HasQualifiedName(child, name)) return Node(FState, child, FGeneration);
    return {};
}

Node Node::ChildByNameOrCreate(std::string_view name) {
    Node found = ChildByName(name);
    return found ? found : AppendElement(name);
}

Node Node::AppendElement(std::string_view name) {
    xmlNodePtr parent = N(Checked());
    xmlNodePtr child = xmlNewDocNode(parent->doc, parent->ns, X(std::string(name)), nullptr);
    if (!child) throw XmlError("Cannot create element '" + std::string(name) + "'");
    xmlAddChild(parent, child);
    MarkModified();
    return Node(FState, child, FGeneration);
}

Node Node::AppendText(std::string_view text) {
    xmlNodePtr parent = N(Checked());
    xmlNodePtr child = xmlNewDocTextLen(parent->doc, X(CleanText(text)), static_cast<int>(CleanText(text).size()));
    // xmlAddChild may merge the new text into a neighbouring text node and
    // free it; the node it returns is the one that holds the text.
    child = xmlAddChild(parent, child);
    MarkModified();
    return Node(FState, child, FGeneration);
}

Node Node::AppendCData(std::string_view text) {
    xmlNodePtr parent = N(Checked());
    std::string clean = CleanText(text);
    xmlNodePtr child = xmlNewCDataBlock(parent->doc, X(clean), static_cast<int>(clean.size()));
    xmlAddChild(parent, child);
    MarkModified();
    return Node(FState, child, FGeneration);
}

Node Node::AppendComment(std::string_view text) {
    xmlNodePtr parent = N(Checked());
    std::string clean = CleanText(text);
    // "--" may not appear in a comment; keep the file loadable.
    for (std::size_t pos; (pos = clean.find("--")) != std::string::npos;) clean.replace(pos, 2, "- -");
    if (!clean.empty() && clean.back() == '-') clean += ' ';
    xmlNodePtr child = xmlNewDocComment(parent->doc, X(clean));
    xmlAddChild(parent, child);
    MarkModified();
    return Node(FState, child, FGeneration);
}

void Node::Remove() {
    xmlNodePtr node = N(Checked());
    if (!node->parent) return;  // already detached
    if (node->parent->type == XML_DOCUMENT_NODE && node == xmlDocGetRootElement(node->doc))
        throw XmlError("The document element cannot be removed");
    xmlUnlinkNode(node);
    FState->removed.push_back(node);
    MarkModified();
}

void Node::MoveTo(const Node& parent, const Node& before) {
    xmlNodePtr node = N(Checked());
    xmlNodePtr target = N(parent.Checked());
    if (target->doc != node->doc) throw XmlError("An element can only move within its document");
    for (xmlNodePtr up = target; up; up = up->parent)
        if (up == node) throw XmlError("An element cannot move into itself");
    xmlNodePtr next = before ? N(before.Checked()) : nullptr;
    if (next == node) return;
    if (next && next->parent != target) throw XmlError("The element to move before is not a child of the new parent");
    xmlUnlinkNode(node);
    if (next)
        xmlAddPrevSibling(next, node);
    else
        xmlAddChild(target, node);
    MarkModified();
}

std::optional<std::string> Node::Attribute(std::string_view name) const {
    xmlNodePtr node = N(Checked());
    if (node->type != XML_ELEMENT_NODE) return std::nullopt;
    for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
        if (HasQualifiedName(attr, name)) return AttributeValue(node, attr);
    }
    return std::nullopt;
}

std::string Node::GetAttribute(std::string_view name) {
    if (auto value = Attribute(name)) return *value;
    SetAttribute(name, "");
    return {};
}

void Node::SetAttribute(std::string_view name, std::string_view value) {
    xmlNodePtr node = N(Checked());
    if (node->type != XML_ELEMENT_NODE) throw XmlError("Attributes belong to elements only");
    std::string clean = CleanText(value);
    for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
        if (HasQualifiedName(attr, name)) {
            xmlNodeSetContent(reinterpret_cast<xmlNodePtr>(attr), nullptr);
            // Set as a raw text child: the serializer escapes it, and no
            // entity syntax in the value is interpreted.
            xmlNodePtr text = xmlNewDocText(node->doc, X(clean));
            xmlAddChild(reinterpret_cast<xmlNodePtr>(attr), text);
            MarkModified();
            return;
        }
    }
    xmlNewProp(node, X(std::string(name)), nullptr);
    xmlAttrPtr attr = node->properties;
    while (attr->next) attr = attr->next;
    xmlAddChild(reinterpret_cast<xmlNodePtr>(attr), xmlNewDocText(node->doc, X(clean)));
    MarkModified();
}

void Node::RemoveAttribute(std::string_view name) {
    xmlNodePtr node = N(Checked());
    for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
        if (HasQualifiedName(attr, name)) {
            xmlRemoveProp(attr);
            MarkModified();
            return;
        }
    }
}

std::vector<std::pair<std::string, std::string>> Node::Attributes() const {
    xmlNodePtr node = N(Checked());
    std::vector<std::pair<std::string, std::string>> result;
    if (node->type != XML_ELEMENT_NODE) return result;
    for (xmlAttrPtr attr = node->properties; attr; attr = attr->next)
        result.emplace_back(QualifiedName(reinterpret_cast<xmlNodePtr>(attr)), AttributeValue(node, attr));
    return result;
}

std::size_t Node::AttributeCount() const {
    xmlNodePtr node = N(Checked());
    std::size_t count = 0;
    if (node->type == XML_ELEMENT_NODE)
        for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) ++count;
    return count;
}

std::string Node::Text() const {
    xmlNodePtr node = N(Checked());
    if (node->type != XML_ELEMENT_NODE) return S(node->content);
    xmlNodePtr child = node->children;
    if (!child) return {};
    if (child->next || !IsTextLike(child)) throw XmlError(kNotSingleText);
    return S(child->content);
}

void Node::SetText(std::string_view text) {
    xmlNodePtr node = N(Checked());
    std::string clean = CleanText(text);
    if (node->type != XML_ELEMENT_NODE) {
        if (node->type == XML_COMMENT_NODE) {
            for (std::size_t pos; (pos = clean.find("--")) != std::string::npos;) clean.replace(pos, 2, "- -");
        }
        xmlNodeSetContentLen(node, X(clean), static_cast<int>(clean.size()));
        MarkModified();
        return;
    }
    for (xmlNodePtr child = node->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE) throw XmlError(kNotSingleText);
    while (node->children) {
        xmlNodePtr child = node->children;
        xmlUnlinkNode(child);
        FState->removed.push_back(child);
    }
    if (!clean.empty()) xmlAddChild(node, xmlNewDocTextLen(node->doc, X(clean), static_cast<int>(clean.size())));
    MarkModified();
}

std::string Node::FirstChildText() const {
    xmlNodePtr node = N(Checked());
    xmlNodePtr child = node->children;
    if (!child) return {};
    if (child->type == XML_ELEMENT_NODE) return Node(FState, child, FGeneration).Text();
    return S(child->content);
}

// ---------------------------------------------------------------- Document

Document::Document() : FState(std::make_shared<detail::DocState>()) {
    InitLibxml();
    FState->doc = detail::DocState::NewEmpty();
}

Document::~Document() {
    if (FState->autoSave && FState->modified && !FState->fileName.empty()) {
        try {
            Save();
        } catch (...) {
            // A destructor cannot report; callers that care call Save().
        }
    }
    // Handles that outlive the document see a stale generation.
    FState->Reset(nullptr);
}

void Document::Clear() {
    FState->Reset(detail::DocState::NewEmpty());
    FState->modified = false;
}

void Document::LoadFromString(std::string_view text) { LoadFromMemory(text, std::string()); }

namespace {

// Parses a whole document the safe way and normalises it; raises XmlError
// with libxml2's message, line and column.
xmlDocPtr ParseText(std::string_view text, const std::string& source) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw XmlError("XML document too large");
    // The generic error channel is per thread; set it on the thread parsing.
    xmlSetGenericErrorFunc(nullptr, IgnoreLibxmlMessage);
    // A context of our own, so that the callbacks below can be set once the
    // options are applied.
    xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size()));
    if (!ctxt) {
        if (text.empty())
            throw XmlError(std::string("XML parse error") + (source.empty() ? "" : " in '" + source + "'") +
                           " at line 1, column 1: Document is empty");
        throw XmlError("Out of memory creating an XML parser");
    }
    // No entity substitution, no DTD loading, no network: a feed cannot make
    // the parser read local files or call out.
    // NOBLANKS lets the parser skip most indentation instead of building
    // nodes we would drop; the normalising callback does the rest.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS;
    xmlCtxtUseOptions(ctxt, options);
    LoadState state{ctxt, EntityBudget(text.size(), source), {}, {}};
    ctxt->_private = &state;
    ctxt->sax->endElementNs = OnEndElement;
    ctxt->sax->ignorableWhitespace = OnIgnorableWhitespace;
    xmlParseDocument(ctxt);
    xmlDocPtr doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    if (!state.failure.empty() || !ctxt->wellFormed || !doc || !xmlDocGetRootElement(doc)) {
        std::string message = state.failure.empty() ? ParseErrorText(ctxt, source) : state.failure;
        if (doc) xmlFreeDoc(doc);
        xmlFreeParserCtxt(ctxt);
        throw XmlError(message);
    }
    xmlFreeParserCtxt(ctxt);
    // The document knows where it came from, as a document read by file
    // name would.
    if (!source.empty() && !doc->URL) doc->URL = xmlStrdup(X(source));
    return doc;
}

std::string ReadWholeFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw XmlError("Cannot open '" + fileName + "': " + std::strerror(errno));
    // Read in one piece where the size is known (every regular file): a
    // character-wise read is several times slower on a large feed list or
    // stored feed.
    std::string text;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size >= 0) {
        in.seekg(0, std::ios::beg);
        text.resize(static_cast<std::size_t>(size));
        in.read(text.data(), size);
        text.resize(static_cast<std::size_t>(in.gcount()));
    } else {
        in.clear();  // not seekable: nothing was consumed
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (in.bad()) throw XmlError("Cannot read '" + fileName + "'");
    return text;
}

}  // namespace

// ---------------------------------------------------------------- Document (loading)

void Document::LoadFromMemory(std::string_view text, const std::string& source) {
    // Servers send a newline or a byte order mark before the XML
    // declaration (blog engines often do); that is no reason to refuse the
    // document, so whatever stands before "<?xml" is skipped.
    {
        std::size_t start = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
        while (start < text.size() &&
               (text[start] == ' ' || text[start] == '\t' || text[start] == '\r' || text[start] == '\n'))
            ++start;
        if (start > 0 && text.substr(start, 5) == "<?xml") text.remove_prefix(start);
    }
    // Whatever happens, the old content is gone: a failed load leaves an
    // empty document, never a half-parsed one.
    FState->Reset(detail::DocState::NewEmpty());
    FState->modified = false;
    FState->Reset(ParseText(text, source));
    FState->modified = false;
}

void Document::LoadFromFile(const std::string& fileName) {
    std::string text;
    try {
        text = ReadWholeFile(fileName);
    } catch (const XmlError&) {
        FState->Reset(detail::DocState::NewEmpty());
        FState->modified = false;
        throw;
    }
    LoadFromMemory(text, fileName);
    FState->fileName = fileName;
}

std::string Document::SaveToString() const {
    xmlChar* buffer = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(FState->doc, &buffer, &size, "UTF-8", 1);
    if (!buffer) throw XmlError("Cannot serialise the XML document");
    std::string result(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(size));
    xmlFree(buffer);
    return result;
}

void Document::SaveToFile(const std::string& fileName) {
    if (fileName.empty()) throw XmlError("No file name to save the XML document to");
    std::string text = SaveToString();
    try {
        plat::WriteFileAtomically(fileName, text);
    } catch (const std::runtime_error& error) {
        throw XmlError(error.what());
    }
    FState->fileName = fileName;
    FState->modified = false;
}

void Document::Save() { SaveToFile(FState->fileName); }

const std::string& Document::FileName() const { return FState->fileName; }

Node Document::DocumentElement() const {
    xmlNodePtr root = FState->doc ? xmlDocGetRootElement(FState->doc) : nullptr;
    return root ? Node(FState, root, FState->generation) : Node();
}

Node Document::CreateDocumentElement(std::string_view name) {
    xmlNodePtr root = xmlNewDocNode(FState->doc, nullptr, X(std::string(name)), nullptr);
    if (!root) throw XmlError("Cannot create element '" + std::string(name) + "'");
    xmlNodePtr old = xmlDocSetRootElement(FState->doc, root);
    if (old) FState->removed.push_back(old);
    FState->modified = true;
    return Node(FState, root, FState->generation);
}

Node Document::AppendProcessingInstruction(std::string_view target, std::string_view data) {
    if (target == "xml") {
        // The declaration is not a node; take its version, and always write
        // UTF-8 (which needs no declared encoding to be read back).
        std::string text(data);
        std::string version = "1.0";
        auto pos = text.find("version");
        if (pos != std::string::npos) {
            auto open = text.find_first_of("\"'", pos);
            if (open != std::string::npos) {
                auto close = text.find(text[open], open + 1);
                if (close != std::string::npos) version = text.substr(open + 1, close - open - 1);
            }
        }
        if (FState->doc->version) xmlFree(const_cast<xmlChar*>(FState->doc->version));
        FState->doc->version = xmlStrdup(X(version));
        FState->modified = true;
        return {};
    }
    std::string clean = CleanText(data);
    for (std::size_t pos; (pos = clean.find("?>")) != std::string::npos;) clean.replace(pos, 2, "? >");
    xmlNodePtr pi = xmlNewDocPI(FState->doc, X(std::string(target)), X(clean));
    if (!pi) throw XmlError("Cannot create processing instruction '" + std::string(target) + "'");
    xmlAddChild(reinterpret_cast<xmlNodePtr>(FState->doc), pi);
    FState->modified = true;
    return Node(FState, pi, FState->generation);
}

Node Document::AppendComment(std::string_view text) {
    std::string clean = CleanText(text);
    for (std::size_t pos; (pos = clean.find("--")) != std::string::npos;) clean.replace(pos, 2, "- -");
    if (!clean.empty() && clean.back() == '-') clean += ' ';
    xmlNodePtr comment = xmlNewDocComment(FState->doc, X(clean));
    xmlAddChild(reinterpret_cast<xmlNodePtr>(FState->doc), comment);
    FState->modified = true;
    return Node(FState, comment, FState->generation);
}

std::vector<Node> Document::TopLevelNodes() const {
    std::vector<Node> result;
    for (xmlNodePtr node = FState->doc->children; node; node = node->next)
        if (node->type != XML_DTD_NODE) result.push_back(Node(FState, node, FState->generation));
    return result;
}

bool Document::Modified() const { return FState->modified; }
void Document::SetModified(bool modified) { FState->modified = modified; }
void Document::SetAutoSave(bool on) { FState->autoSave = on; }
bool Document::AutoSave() const { return FState->autoSave; }

// ---------------------------------------------------------------- Markup

namespace {

void AppendEscapedMarkup(std::string& out, const xmlChar* text, bool inAttribute) {
    if (text) plat::AppendMarkupEscaped(out, reinterpret_cast<const char*>(text), inAttribute);
}

bool IsVoidHtmlElement(const xmlChar* name) {
    static constexpr const char* kVoid[] = {"area",  "base", "br",   "col",    "embed", "hr", "img",
                                            "input", "link", "meta", "source", "track", "wbr"};
    for (const char* v : kVoid)
        if (xmlStrEqual(name, BAD_CAST v)) return true;
    return false;
}

// Iterative, so that nesting costs no stack: libxml2 already bounds depth,
// but a serialiser should not rely on that.
void AppendChildrenMarkup(std::string& out, xmlNodePtr parent) {
    xmlNodePtr node = parent->children;
    while (node) {
        bool descend = false;
        switch (node->type) {
            case XML_TEXT_NODE:
                AppendEscapedMarkup(out, node->content, false);
                break;
            case XML_CDATA_SECTION_NODE:
                if (node->content) out += reinterpret_cast<const char*>(node->content);
                break;
            case XML_ELEMENT_NODE: {
                out += '<';
                out += reinterpret_cast<const char*>(node->name);
                for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
                    out += ' ';
                    if (attr->ns && attr->ns->prefix && !xmlStrEqual(attr->ns->prefix, BAD_CAST "xml")) {
                        out += reinterpret_cast<const char*>(attr->ns->prefix);
                        out += ':';
                    }
                    out += reinterpret_cast<const char*>(attr->name);
                    out += "=\"";
                    if (attr->children && !attr->children->next && attr->children->type == XML_TEXT_NODE) {
                        AppendEscapedMarkup(out, attr->children->content, true);
                    } else {
                        xmlChar* value = xmlNodeListGetString(node->doc, attr->children, 1);
                        AppendEscapedMarkup(out, value, true);
                        if (value) xmlFree(value);
                    }
                    out += '"';
                }
                if (!node->children && IsVoidHtmlElement(node->name)) {
                    out += " />";
                } else {
                    out += '>';
                    descend = node->children != nullptr;
                    if (!descend) {
                        out += "</";
                        out += reinterpret_cast<const char*>(node->name);
                        out += '>';
                    }
                }
                break;
            }
            default:
                break;  // comments and instructions are not content
        }
        if (descend) {
            node = node->children;
            continue;
        }
        // Up until a node with a next sibling, closing the elements left.
        while (node && node != parent && !node->next) {
            node = node->parent;
            if (node && node != parent) {
                out += "</";
                out += reinterpret_cast<const char*>(node->name);
                out += '>';
            }
        }
        node = node && node != parent ? node->next : nullptr;
    }
}

}  // namespace

// The one door to a handle's node for the helpers below.
struct NodeAccess {
    static xmlNodePtr Of(const Node& node) { return N(node.Checked()); }
};

namespace {

std::string_view View(const xmlChar* text) {
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

}  // namespace

std::string_view LocalNameView(const Node& element) { return View(NodeAccess::Of(element)->name); }

std::string_view PrefixView(const Node& element) {
    xmlNodePtr node = NodeAccess::Of(element);
    return node->type == XML_ELEMENT_NODE && node->ns ? View(node->ns->prefix) : std::string_view();
}

std::string_view NamespaceView(const Node& element) {
    xmlNodePtr node = NodeAccess::Of(element);
    return node->type == XML_ELEMENT_NODE && node->ns ? View(node->ns->href) : std::string_view();
}

std::string ChildrenMarkup(const Node& element) {
    xmlNodePtr node = NodeAccess::Of(element);
    std::string out;
    if (node->type != XML_ELEMENT_NODE) return out;
    out.reserve(1024);
    AppendChildrenMarkup(out, node);
    return out;
}

}  // namespace xml
