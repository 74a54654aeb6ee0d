// A small document object model over libxml2.
//
// Quillet keeps everything in XML: the configuration, the option structure,
// the language files and the stored feed copies, and it reads feeds from
// anyone. This layer is the one place where bytes become a document:
//  * loading is safe (no external entities, no DTD, no network) and drops
//    whitespace-only text between elements, while an element whose only
//    content is white space keeps it; inside XHTML markup (elements in the
//    XHTML namespace, as feeds carry inline bodies) such text is the space
//    between two words and is kept;
//  * CDATA sections stay CDATA nodes;
//  * node handles are cheap values that raise XmlError instead of touching
//    freed memory when their document was reloaded or destroyed;
//  * saving is indented UTF-8, written to a temporary file and renamed over
//    the target, so a crash never leaves a half-written file;
//  * text that XML 1.0 cannot carry (control characters, invalid UTF-8) is
//    cleaned when it is set, so every file written here loads again.
//
// Plain C++20, no Qt: the feed library and the option store both use it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace xml {

// Every failure of this layer: parse errors (with libxml2's reason, line and
// column), file errors, stale handles, and "Element does not contain a
// single text node".
class XmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class NodeType {
    Element,
    Text,
    CData,
    Comment,
    ProcessingInstruction,
    Other,
};

// Makes a text safe for XML 1.0: invalid UTF-8 sequences become U+FFFD and
// characters XML cannot carry (C0 controls other than tab, line feed and
// carriage return, U+FFFE, U+FFFF) are removed. Valid text is returned
// unchanged.
std::string CleanText(std::string_view text);

namespace detail {
struct DocState;
}

// A handle to one node of a Document. Default-constructed handles are null.
// Copying a handle is cheap; a handle never owns its node.
class Node {
public:
    Node() = default;

    bool IsNull() const { return FNode == nullptr; }
    explicit operator bool() const { return FNode != nullptr; }
    // Handles are equal when they name the same node of the same document.
    bool operator==(const Node& other) const { return FNode == other.FNode && FState == other.FState; }

    NodeType Type() const;
    bool IsElement() const { return Type() == NodeType::Element; }

    // Qualified name as written ("dc:date"), local name ("date") and
    // namespace URI ("" when the node is in no namespace). For a processing
    // instruction the name is its target.
    std::string Name() const;
    std::string LocalName() const;
    std::string NamespaceURI() const;

    // Navigation over all child nodes (elements, text, CDATA, comments, PIs).
    Node Parent() const;
    Node FirstChild() const;
    Node NextSibling() const;
    std::size_t ChildCount() const;
    Node Child(std::size_t index) const;  // null when out of range
    std::vector<Node> Children() const;
    std::vector<Node> ChildElements() const;
    bool HasChildNodes() const { return !FirstChild().IsNull(); }

    // Feed-reading lookup ("find"): the first child element whose qualified
    // name or local name equals `name` exactly. When this element is in a
    // namespace, only children in that same namespace count (URIs compared
    // without regard to letter case). Null when there is none.
    Node FindChild(std::string_view name) const;
    // "Get": FindChild, creating an empty child element of that name (in
    // this element's namespace) when none is found.
    Node GetChild(std::string_view name);

    // Path lookup for the option store: the first child element whose
    // qualified name equals `name` exactly (no namespace test). Null when
    // there is none.
    Node ChildByName(std::string_view name) const;
    // ChildByName, appending a new empty element as the last child when
    // none exists.
    Node ChildByNameOrCreate(std::string_view name);

    // Building. New elements take this element's namespace (no prefix
    // declared), so a document built from scratch is namespace-free.
    Node AppendElement(std::string_view name);
    Node AppendText(std::string_view text);
    Node AppendCData(std::string_view text);
    Node AppendComment(std::string_view text);
    // Detaches and discards this node. Handles to it stay safe to use (they
    // see a detached node) until the document is reloaded or destroyed.
    void Remove();
    // Moves this element under `parent` of the same document, before its
    // child `before` (at the end when `before` is a null handle). Handles to it stay
    // valid. Raises XmlError for a move into the element itself or one of
    // its descendants.
    void MoveTo(const Node& parent, const Node& before);

    // Attributes, looked up by qualified name without a namespace test.
    // An absent attribute is std::nullopt, an empty one "".
    std::optional<std::string> Attribute(std::string_view name) const;
    bool HasAttribute(std::string_view name) const { return Attribute(name).has_value(); }
    // "Get" on an attribute: its text, creating it empty when absent.
    std::string GetAttribute(std::string_view name);
    void SetAttribute(std::string_view name, std::string_view value);
    void RemoveAttribute(std::string_view name);
    // All attributes in document order as (qualified name, value).
    std::vector<std::pair<std::string, std::string>> Attributes() const;
    std::size_t AttributeCount() const;

    // Element text: the value of its single text or CDATA child; "" for an
    // element without children. Any other content raises XmlError("Element
    // does not contain a single text node"). For text, CDATA, comment and PI
    // nodes: their content.
    std::string Text() const;
    // Replaces an element's content by one text node (the text is cleaned,
    // see CleanText). An element with element children raises the same
    // error as Text(). For text, CDATA, comment and PI nodes: sets content.
    void SetText(std::string_view text);

    // Text of the first child node alone: "" without children, the value
    // of a first text or CDATA child, or the Text() of a first element child.
    std::string FirstChildText() const;

private:
    friend class Document;
    friend struct detail::DocState;
    friend struct NodeAccess;
    friend struct NodeHash;
    Node(std::shared_ptr<detail::DocState> state, void* node, std::uint64_t generation)
        : FState(std::move(state)), FNode(node), FGeneration(generation) {}

    void* Checked() const;  // raises XmlError for a null or stale handle
    void MarkModified() const;

    std::shared_ptr<detail::DocState> FState;
    void* FNode = nullptr;  // xmlNodePtr
    std::uint64_t FGeneration = 0;
};

// Hashes handles by the node they name, for maps keyed by elements.
struct NodeHash {
    std::size_t operator()(const Node& node) const noexcept { return std::hash<const void*>{}(node.FNode); }
};

// One XML document. Starts empty and active; every load replaces its
// content and invalidates the handles taken from the previous content.
class Document {
public:
    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Parse errors raise XmlError with libxml2's message, line and column;
    // the document is then empty. Declared encodings are honoured; the tree
    // is UTF-8. Internal entities holding plain text are expanded, within a
    // budget of 8 times the document's size and at most 32 MiB in all; a
    // document past it raises XmlError naming the entity expansion limit.
    void LoadFromString(std::string_view text);
    void LoadFromFile(const std::string& fileName);
    // Empties the document.
    void Clear();

    // Indented UTF-8, written atomically (temporary file, then rename).
    // Clears the modified mark. Raises XmlError when the file cannot be
    // written; the previous file is then left as it was.
    void SaveToFile(const std::string& fileName);
    // Saves to the file last loaded from or saved to.
    void Save();
    std::string SaveToString() const;

    // The file name of the last load or save ("" when none).
    const std::string& FileName() const;

    bool IsEmpty() const { return DocumentElement().IsNull(); }
    Node DocumentElement() const;
    // Creates the document element (replacing any existing one).
    Node CreateDocumentElement(std::string_view name);
    // Top-level nodes before the document element. A PI named "xml" is not
    // stored as a node: its data (version, encoding) becomes the XML
    // declaration written on save.
    Node AppendProcessingInstruction(std::string_view target, std::string_view data);
    Node AppendComment(std::string_view text);
    std::vector<Node> TopLevelNodes() const;

    // Set by every change made through this layer (values, attributes,
    // children added or removed, elements created by a lookup); cleared by
    // a load or a save.
    bool Modified() const;
    void SetModified(bool modified);

    // When on, destroying the document saves it to FileName() if it was
    // modified. Errors of that save are swallowed (a destructor cannot
    // raise); call Save() first to see them.
    void SetAutoSave(bool on);
    bool AutoSave() const;

private:
    void LoadFromMemory(std::string_view text, const std::string& source);

    std::shared_ptr<detail::DocState> FState;
};

// ---------------------------------------------------------------- Markup

// The children of `element` as HTML markup, for bodies written as inline
// XHTML: elements by their local name with their attributes (namespace
// declarations left out) and contents, text escaped, CDATA as its raw text
// (feeds put HTML there), comments and instructions dropped. Elements HTML
// knows as empty ("br", "img") are written as "<br />".
std::string ChildrenMarkup(const Node& element);

// Names without copying, for readers that look at every child of large
// documents: the views stay valid while the document holds the node. The
// prefix is "" for an unprefixed element, the namespace "" for none.
std::string_view LocalNameView(const Node& element);
std::string_view PrefixView(const Node& element);
std::string_view NamespaceView(const Node& element);

// Appends the UTF-8 encoding of a Unicode code point (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t codePoint);

}  // namespace xml
