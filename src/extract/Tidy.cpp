#include "Tidy.h"

#include <algorithm>
#include <cctype>

#include "Hints.h"
#include "Page.h"

namespace extract {

namespace {

// A table that holds data rather than laying out the page: it has a
// caption or header cells. Only the first levels are looked at, so nested
// tables cost nothing extra.
bool IsDataTable(const xmlNode* table) {
    if (HasAttribute(table, "summary")) return true;
    for (const xmlNode* part = FirstElementChild(table); part != nullptr; part = NextElement(part)) {
        if (Named(part, "caption") || Named(part, "thead")) return true;
        const xmlNode* rows = Named(part, "tr") ? table : part;
        for (const xmlNode* row = FirstElementChild(rows); row != nullptr; row = NextElement(row))
            for (const xmlNode* cell = FirstElementChild(row); cell != nullptr; cell = NextElement(cell))
                if (Named(cell, "th")) return true;
        if (Named(part, "tr")) break;
    }
    return false;
}

bool IsList(const xmlNode* node) { return Named(node, "ul") || Named(node, "ol"); }

// Readers' rule of thumb for boxes inside an article: few words and many
// links, more images than paragraphs, or more list items than paragraphs
// outside a list mark a box that is not prose.
bool LooksLikeClutter(const TBlocks& blocks, const xmlNode* node, const TRules& rules) {
    const TBlockFacts& facts = blocks[node];
    const int weight = rules.weightClasses ? ClassWeight(node) : 0;
    // An image with its caption is the article's figure, whatever the box
    // is named ("media", "meta").
    const bool figure = facts.images == 1 && facts.text < 300 && facts.linkText == 0;
    if (!figure && weight + (facts.candidate ? facts.score : 0) < 0) return true;
    if (facts.commas >= 10) return false;
    const bool list = IsList(node);
    const bool inFigure = Named(node, "figure") || HasAncestor(node, "figure", 3);
    const double linkDensity = blocks.LinkDensity(node);
    const double headingDensity = facts.text == 0 ? 0 : static_cast<double>(facts.headingText) / facts.text;
    if (facts.images > 1 && static_cast<double>(facts.paragraphs) / facts.images < 0.5 && !inFigure) return true;
    if (!list && facts.listItems > facts.paragraphs + 100) return true;
    if (!list && !inFigure && headingDensity < 0.9 && facts.text < 25 && (facts.images == 0 || facts.images > 2) &&
        linkDensity > 0)
        return true;
    if (!list && weight < 25 && linkDensity > 0.2 + (facts.text > 1000 ? 0.1 : 0)) return true;
    if (weight >= 25 && linkDensity > 0.5) return true;
    return false;
}

std::vector<std::string> WordsOf(const std::string& text) {
    std::vector<std::string> words(1);
    for (const char c : AsciiLower(text)) {
        if (std::isalnum(static_cast<unsigned char>(c)) || (static_cast<unsigned char>(c) & 0x80) != 0)
            words.back() += c;
        else if (!words.back().empty())
            words.emplace_back();
    }
    if (words.back().empty()) words.pop_back();
    return words;
}

// The headline again, as the page repeats it above the text: the same
// words, give or take a site name or a kicker.
bool RepeatsTitle(const std::string& text, const std::vector<std::string>& title) {
    const std::vector<std::string> words = WordsOf(text);
    if (words.empty() || title.empty()) return false;
    std::size_t shared = 0;
    for (const std::string& word : words) shared += std::count(title.begin(), title.end(), word) > 0 ? 1 : 0;
    return static_cast<double>(shared) / std::max(words.size(), title.size()) >= 0.75;
}

// The element that holds the first words of the chosen blocks: the
// innermost one whose text is all its box's.
xmlNode* FirstLine(const TBlocks& blocks, const std::vector<xmlNode*>& chosen) {
    for (xmlNode* root : chosen) {
        xmlNode* found = nullptr;
        Walk(root, [&](xmlNode* node) {
            if (found != nullptr || blocks.Skipped(node)) return false;
            for (const xmlNode* child = node->children; child != nullptr && found == nullptr; child = child->next)
                if (!IsElement(child) && child->content != nullptr &&
                    !CollapseBlanks(reinterpret_cast<const char*>(child->content)).empty())
                    found = node;
            return found == nullptr;
        });
        if (found == nullptr) continue;
        while (found != root && blocks[found->parent].text == blocks[found].text) found = found->parent;
        return found;
    }
    return nullptr;
}

// A line that only points elsewhere: "Read more: <a>another story</a>",
// a section's name above the headline, a button.
bool PointsElsewhere(const TBlocks& blocks, const xmlNode* paragraph) {
    const TBlockFacts& facts = blocks[paragraph];
    const double density = blocks.LinkDensity(paragraph);
    const xmlNode* only = FirstElementChild(paragraph);
    if (density > 0.9 && facts.text < 40 && Named(only, "a") && NextElement(only) == nullptr) return true;
    if (density < 0.5 || facts.text > 200) return false;
    const std::string text = AsciiLower(TextOf(paragraph));
    for (const std::string_view lead :
         {"read more", "related", "see also", "also read", "read also", "more:", "recommended"})
        if (text.rfind(lead, 0) == 0) return true;
    return false;
}

}  // namespace

void CleanResult(TBlocks& blocks, const std::vector<xmlNode*>& chosen, const TRules& rules, const std::string& title) {
    const std::vector<std::string> titleWords = WordsOf(title);
    // Reader views show the headline apart, so the page's own copy of it
    // above the text goes, whatever element the page wrote it in.
    if (xmlNode* first = FirstLine(blocks, chosen);
        first != nullptr && blocks[first].text < 300 && RepeatsTitle(TextOf(first), titleWords))
        blocks[first].skipped = true;
    for (xmlNode* root : chosen) {
        Walk(root, [&](xmlNode* node) {
            TBlockFacts& facts = blocks[node];
            if (facts.skipped) return false;
            const std::string_view name = NameOf(node);
            bool drop = false;
            if (IsHeading(node)) {
                drop = (rules.weightClasses && ClassWeight(node) < 0) ||
                       ((name == "h1" || name == "h2") && facts.text < 300 && RepeatsTitle(TextOf(node), titleWords));
            } else if (name == "p") {
                drop = node != root && PointsElsewhere(blocks, node);
            } else if (name == "time") {
                // A date on a line of its own is the article's metadata, kept apart.
                drop = !HasAncestor(node, "p", 4) && !HasAncestor(node, "li", 4) && !HasAncestor(node, "td", 4);
            } else if (NamedClutter(node) && facts.text < 1000 && node != root) {
                drop = true;
            } else if (rules.cleanConditionally && node != root &&
                       (name == "div" || name == "section" || name == "ul" || name == "ol" || name == "form" ||
                        (name == "table" && !IsDataTable(node)))) {
                drop = LooksLikeClutter(blocks, node, rules);
            }
            facts.skipped = drop;
            return !drop;
        });
    }
}

}  // namespace extract
