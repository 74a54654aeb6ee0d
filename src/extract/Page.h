// The parsed page and the small tree helpers every extraction step uses.
//
// Pages nest thousands deep, so nothing here recurses: walks climb back up
// through parent pointers instead of the call stack.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "Text.h"

namespace extract {

struct TDocumentFree {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
using TDocument = std::unique_ptr<xmlDoc, TDocumentFree>;

// The page's bytes as a tree, in the encoding its HTTP header, byte order
// mark or <meta> names, else UTF-8 when the bytes are valid UTF-8 and
// windows-1252 when not. Never touches the network. Null for an empty page.
TDocument ParsePage(std::string_view page, std::string_view contentType);

bool IsElement(const xmlNode* node);
// The element's name as the parser gives it (lower case).
std::string_view NameOf(const xmlNode* node);
bool Named(const xmlNode* node, std::string_view name);
bool IsHeading(const xmlNode* node);

// The attribute's value, "" when absent.
std::string Attribute(const xmlNode* node, const char* name);
bool HasAttribute(const xmlNode* node, const char* name);
void SetAttribute(xmlNode* node, const char* name, const std::string& value);

xmlNode* FirstElementChild(const xmlNode* node);
xmlNode* NextElement(const xmlNode* node);
xmlNode* FindFirst(xmlNode* root, std::string_view name);
bool HasAncestor(const xmlNode* node, std::string_view name, int levels = 1 << 20);

// Unlinks and frees the node with everything below it.
void Remove(xmlNode* node);

// Visits the elements at and below root in document order. enter(node)
// returns whether to go below node; leave(node) runs once node and all it
// holds were visited. Neither may unlink nodes.
template <class Enter, class Leave>
void Walk(xmlNode* root, Enter&& enter, Leave&& leave) {
    xmlNode* node = root;
    while (node != nullptr) {
        xmlNode* child = enter(node) ? FirstElementChild(node) : nullptr;
        if (child != nullptr) {
            node = child;
            continue;
        }
        for (;;) {
            leave(node);
            if (node == root) return;
            if (xmlNode* next = NextElement(node)) {
                node = next;
                break;
            }
            node = node->parent;
        }
    }
}

template <class Enter>
void Walk(xmlNode* root, Enter&& enter) {
    Walk(root, enter, [](xmlNode*) {});
}

// ---- Text ------------------------------------------------------------------

// Pages are HTML: these are the shared text helpers with HTML's blanks,
// where a VT is text.
bool IsBlank(unsigned char c);
using plat::AsciiLower;
// Blanks at the ends dropped and runs of blanks inside made one space.
std::string CollapseBlanks(std::string_view text);
// The length of text as a reader sees it: runs of blanks count once.
std::size_t VisibleLength(std::string_view text);
// Commas in text, the wide forms of Chinese and Japanese included.
std::size_t CommaCount(std::string_view text);
// All text below node, blanks collapsed; with a limit, the walk stops
// once it has read more than that many bytes or passed that many nodes
// (for tests of shortness that must not read a whole subtree at every
// level of a deep page).
std::string TextOf(const xmlNode* node, std::size_t limit = std::string::npos);

}  // namespace extract
