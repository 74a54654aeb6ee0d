#include "Paragraphs.h"

#include <array>
#include <string_view>
#include <vector>

#include "Page.h"

namespace extract {

namespace {

// Elements that flow inside a line of text.
bool IsPhrasing(const xmlNode* node) {
    static constexpr std::array<std::string_view, 30> kPhrasing = {
        "a",    "abbr",  "b",    "bdi",    "bdo",    "big", "cite",  "code", "data", "del",
        "dfn",  "em",    "font", "i",      "ins",    "kbd", "label", "mark", "q",    "s",
        "samp", "small", "span", "strike", "strong", "sub", "sup",   "time", "tt",   "u"};
    if (!IsElement(node)) return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
    const std::string_view name = NameOf(node);
    if (name == "br" || name == "wbr" || name == "var") return true;
    for (const std::string_view phrasing : kPhrasing)
        if (name == phrasing) {
            // One given paragraphs of its own (a <font> around a story) is a block now.
            for (const xmlNode* child = node->children; child != nullptr; child = child->next)
                if (Named(child, "p")) return false;
            return true;
        }
    return false;
}

// Boxes whose bare text is the page's prose.
bool HoldsRuns(const xmlNode* node) {
    static constexpr std::array<std::string_view, 10> kBoxes = {"div",  "section", "article",    "main", "body",
                                                                "font", "center",  "blockquote", "span", "td"};
    for (const std::string_view box : kBoxes)
        if (Named(node, box)) return true;
    return false;
}

// Elements with text below them are marked before any is moved, in the
// node's spare pointer (the scoring's numbering replaces the marks): asked
// of each box's children, the question must not walk their subtrees again.
char holdsText;
void* const kHoldsText = &holdsText;

bool HasText(const xmlNode* node) {
    if (IsElement(node)) return node->_private == kHoldsText;
    for (const xmlChar* c = node->content; c != nullptr && *c != 0; ++c)
        if (!IsBlank(*c)) return true;
    return false;
}

void MarkText(xmlNode* node) {
    node->_private = nullptr;
    for (const xmlNode* child = node->children; child != nullptr && node->_private == nullptr; child = child->next)
        if (HasText(child)) node->_private = kHoldsText;
}

// The last <br> of a blank line that starts at node (two or more <br>
// with only blanks between), else null.
xmlNode* BlankLineAt(xmlNode* node) {
    if (!Named(node, "br")) return nullptr;
    xmlNode* end = nullptr;
    for (xmlNode* next = node->next; next != nullptr; next = next->next) {
        if (Named(next, "br"))
            end = next;
        else if (IsElement(next) || HasText(next))
            break;
    }
    return end;
}

// Whether the box's bare text needs wrapping: it breaks it with blank
// lines, or mixes it with blocks. A box of nothing but a line of text is
// scored as a paragraph already; a cell or an inline box that only holds
// text is a line, not a story.
bool NeedsWrapping(const xmlNode* box) {
    bool bareText = false, block = false;
    for (xmlNode* child = box->children; child != nullptr; child = child->next) {
        if (BlankLineAt(child) != nullptr) return true;
        bareText = bareText || (!IsElement(child) && HasText(child));
        block = block || (IsElement(child) && !IsPhrasing(child));
    }
    const bool line = Named(box, "td") || Named(box, "span") || Named(box, "font");
    return bareText && block && !line;
}

bool Trimmed(const xmlNode* node) { return Named(node, "br") || (!IsElement(node) && !HasText(node)); }

// Moves the run [first, last] into a new <p> in its place; a <br> or
// blanks at its ends stay outside.
void WrapRun(xmlNode* first, xmlNode* last) {
    while (first != last && Trimmed(first)) first = first->next;
    while (last != first && Trimmed(last)) last = last->prev;
    xmlNode* paragraph = xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("p"));
    xmlAddPrevSibling(first, paragraph);
    for (xmlNode* node = first;;) {
        xmlNode* next = node->next;
        xmlUnlinkNode(node);
        xmlAddChild(paragraph, node);
        if (node == last) break;
        node = next;
    }
}

void WrapRunsOf(xmlNode* box) {
    if (!NeedsWrapping(box)) return;
    xmlNode* first = nullptr;
    xmlNode* last = nullptr;
    bool text = false;
    const auto close = [&] {
        if (first != nullptr && text) WrapRun(first, last);
        first = last = nullptr;
        text = false;
    };
    for (xmlNode* child = box->children; child != nullptr;) {
        if (xmlNode* end = BlankLineAt(child)) {
            close();
            // The blank line itself goes: the paragraphs now stand apart.
            for (xmlNode* after = end->next; child != after;) {
                xmlNode* next = child->next;
                Remove(child);
                child = next;
            }
            continue;
        }
        xmlNode* next = child->next;
        if (IsPhrasing(child)) {
            if (first == nullptr) first = child;
            last = child;
            text = text || HasText(child);
        } else if (IsElement(child)) {
            close();
        }
        child = next;
    }
    close();
}

}  // namespace

void WrapBareText(xmlNode* root) {
    // Innermost boxes first, so that a <font> around the whole story is
    // known as a block by the box around it.
    std::vector<xmlNode*> boxes;
    Walk(
        root, [](xmlNode* node) { return !Named(node, "p") && !Named(node, "pre") && !IsHeading(node); },
        [&](xmlNode* node) {
            MarkText(node);
            if (HoldsRuns(node)) boxes.push_back(node);
        });
    for (xmlNode* box : boxes) WrapRunsOf(box);
}

}  // namespace extract
