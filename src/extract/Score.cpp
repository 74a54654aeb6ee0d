#include "Score.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "Hints.h"
#include "Page.h"

namespace extract {

namespace {

constexpr std::size_t kTopCandidates = 5;
constexpr int kScoredAncestors = 5;
constexpr std::uint32_t kParagraphMinimum = 25;

bool OneOf(std::string_view value, const auto& list) {
    for (const std::string_view item : list)
        if (value == item) return true;
    return false;
}

// Elements that make their parent more than a run of text.
bool IsBlock(const xmlNode* node) {
    static constexpr std::array<std::string_view, 13> kBlocks = {
        "blockquote", "dl", "div", "img", "ol", "p", "pre", "table", "ul", "section", "article", "figure", "li"};
    return OneOf(NameOf(node), kBlocks) || IsHeading(node);
}

// Containers that real pages fill with bare text instead of paragraphs.
bool IsTextContainer(const xmlNode* node) {
    return Named(node, "div") || Named(node, "section") || Named(node, "article");
}

bool MarksArticle(const xmlNode* node) {
    return Named(node, "article") || Named(node, "main") || AsciiLower(Attribute(node, "itemprop")) == "articlebody";
}

// An element's own worth before its paragraphs count: containers of text
// start higher than lists, forms and headings.
double StartingScore(const xmlNode* node, const TRules& rules) {
    const std::string_view name = NameOf(node);
    double score = 0;
    if (name == "div")
        score = 5;
    else if (name == "pre" || name == "td" || name == "blockquote")
        score = 3;
    else if (OneOf(name, std::array<std::string_view, 8>{"address", "ol", "ul", "dl", "dd", "dt", "li", "form"}))
        score = -3;
    else if (IsHeading(node) || name == "th")
        score = -5;
    return score + (rules.weightClasses ? ClassWeight(node) : 0);
}

// Whether the box around the top candidate is the article itself: the
// page marks it (<article>, <main>, articleBody), at most two levels up.
bool InMarkedArticle(const xmlNode* top) {
    int level = 0;
    for (const xmlNode* up = top->parent; up != nullptr && level < 2; up = up->parent, ++level)
        if (MarksArticle(up)) return true;
    return false;
}

// A part of the article beside its body inside the box the page marks as
// the article: the header with the standfirst and the lead figure before
// the body; after it, what is not a list of links (notes, a closing
// figure). The result's cleaning takes out the furniture among them
// (bylines, share bars, tags, author boxes).
bool BesideTheBody(const TBlocks& blocks, const xmlNode* sibling, bool before) {
    const TBlockFacts& facts = blocks[sibling];
    if (NamedClutter(sibling) || ClassWeight(sibling) < 0) return false;
    if (facts.images > 0 || Named(sibling, "figure")) return true;
    if (facts.text == 0) return false;
    return blocks.LinkDensity(sibling) < (before ? 0.5 : 0.25);
}

}  // namespace

TBlocks::TBlocks(xmlNode* root) : root_(root) {
    Walk(root, [&](xmlNode* node) {
        facts_.emplace_back();
        node->_private = reinterpret_cast<void*>(static_cast<std::uintptr_t>(facts_.size()));
        return true;
    });
}

TBlocks::~TBlocks() = default;

TBlockFacts& TBlocks::operator[](const xmlNode* node) {
    const auto index = reinterpret_cast<std::uintptr_t>(node->_private);
    if (index == 0 || index > facts_.size()) return outside_ = {};
    return facts_[index - 1];
}

bool TBlocks::Skipped(const xmlNode* node) const { return (*this)[node].skipped; }

double TBlocks::LinkDensity(const xmlNode* node) const {
    const TBlockFacts& facts = (*this)[node];
    return facts.text == 0 ? 0 : static_cast<double>(facts.linkText) / facts.text;
}

void TBlocks::Reset() { std::fill(facts_.begin(), facts_.end(), TBlockFacts{}); }

void SkipUnlikely(TBlocks& blocks) {
    // Boxes around the page's own <article> or <main> are never skipped,
    // whatever their names say ("page has-sidebar"); the <article>s of
    // comments and of related stories' cards protect nothing.
    std::unordered_set<const xmlNode*> holdsArticle;
    Walk(blocks.Root(), [&](xmlNode* node) {
        if (NamedCommentsOrRelated(node)) return false;
        if (MarksArticle(node))
            for (const xmlNode* up = node; up != nullptr && holdsArticle.insert(up).second;) up = up->parent;
        return true;
    });
    int protectedDepth = 0;  // inside a table or code, names say little
    int articleDepth = 0;
    Walk(
        blocks.Root(),
        [&](xmlNode* node) {
            if (Named(node, "table") || Named(node, "code") || Named(node, "pre")) ++protectedDepth;
            if (Named(node, "article")) ++articleDepth;
            const std::string_view name = NameOf(node);
            if (node == blocks.Root() || protectedDepth > 0 || name == "a" || name == "body" || MarksArticle(node))
                return true;
            if (NamedUnlikely(node, articleDepth > 0) && !NamedLikely(node) && !holdsArticle.count(node)) {
                blocks[node].skipped = true;
                return false;
            }
            return true;
        },
        [&](xmlNode* node) {
            if (Named(node, "table") || Named(node, "code") || Named(node, "pre")) --protectedDepth;
            if (Named(node, "article")) --articleDepth;
        });
}

void Measure(TBlocks& blocks) {
    Walk(
        blocks.Root(), [&](xmlNode* node) { return !blocks.Skipped(node); },
        [&](xmlNode* node) {
            TBlockFacts& facts = blocks[node];
            if (facts.skipped) return;
            for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
                if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
                    child->content != nullptr) {
                    const std::string_view text(reinterpret_cast<const char*>(child->content));
                    facts.text += static_cast<std::uint32_t>(VisibleLength(text));
                    facts.commas += static_cast<std::uint32_t>(CommaCount(text));
                    continue;
                }
                if (!IsElement(child)) continue;
                const TBlockFacts& inner = blocks[child];
                if (inner.skipped) continue;
                facts.text += inner.text;
                facts.linkText += inner.linkText;
                facts.headingText += inner.headingText;
                facts.commas += inner.commas;
                facts.paragraphs += inner.paragraphs + (Named(child, "p") ? 1 : 0);
                facts.images += inner.images + (Named(child, "img") || Named(child, "amp-img") ? 1 : 0);
                facts.listItems += inner.listItems + (Named(child, "li") ? 1 : 0);
                facts.holdsBlocks = facts.holdsBlocks || inner.holdsBlocks || IsBlock(child);
            }
            if (Named(node, "a")) facts.linkText = facts.text;
            if (IsHeading(node)) facts.headingText = facts.text;
        });
}

void ScoreParagraphs(TBlocks& blocks, const TRules& rules) {
    xmlNode* const stop = blocks.Root()->parent;
    Walk(blocks.Root(), [&](xmlNode* node) {
        const TBlockFacts& facts = blocks[node];
        if (facts.skipped) return false;
        const std::string_view name = NameOf(node);
        const bool paragraph =
            name == "p" || name == "pre" || name == "td" || (IsTextContainer(node) && !facts.holdsBlocks);
        if (!paragraph || facts.text < kParagraphMinimum) return true;
        // Commas mark sentences; length counts up to three hundred characters.
        const double score = 1.0 + facts.commas + std::min<std::uint32_t>(facts.text / 100, 3);
        int level = 0;
        for (xmlNode* up = node->parent; up != nullptr && up != stop && level < kScoredAncestors;
             up = up->parent, ++level) {
            if (!IsElement(up)) break;
            TBlockFacts& ancestor = blocks[up];
            if (!ancestor.candidate) {
                ancestor.candidate = true;
                ancestor.score = StartingScore(up, rules);
            }
            ancestor.score += level == 0 ? score : level == 1 ? score / 2 : score / (level * 3);
        }
        return true;
    });
}

xmlNode* PickTopCandidate(TBlocks& blocks) {
    std::vector<xmlNode*> top;
    Walk(blocks.Root(), [&](xmlNode* node) {
        TBlockFacts& facts = blocks[node];
        if (facts.skipped) return false;
        if (!facts.candidate) return true;
        // Link lists score by their length like prose; links count against them.
        facts.score *= 1 - blocks.LinkDensity(node);
        const auto place =
            std::find_if(top.begin(), top.end(), [&](xmlNode* other) { return blocks[other].score < facts.score; });
        if (static_cast<std::size_t>(place - top.begin()) < kTopCandidates) {
            top.insert(place, node);
            if (top.size() > kTopCandidates) top.pop_back();
        }
        return true;
    });
    if (top.empty()) return blocks.Root();
    xmlNode* best = top.front();
    const double bestScore = blocks[best].score;

    // Several strong blocks inside one box: the article is the box (a post
    // split into sections, or broken up by advertisements).
    std::vector<xmlNode*> close;
    for (std::size_t i = 1; i < top.size(); ++i)
        if (bestScore > 0 && blocks[top[i]].score / bestScore >= 0.75) close.push_back(top[i]);
    if (close.size() >= 3) {
        std::unordered_map<const xmlNode*, int> holding;
        for (const xmlNode* other : close)
            for (const xmlNode* at = other->parent; at != nullptr; at = at->parent) ++holding[at];
        for (xmlNode* up = best->parent; up != nullptr && up != blocks.Root(); up = up->parent)
            if (holding[up] >= 3) {
                best = up;
                break;
            }
    }

    // Up while the box above scores nearly as well: its other parts belong
    // to the article too.
    double lastScore = blocks[best].score;
    const double threshold = lastScore / 3;
    for (xmlNode* up = best->parent; up != nullptr && up != blocks.Root()->parent; up = up->parent) {
        const TBlockFacts& facts = blocks[up];
        if (!facts.candidate) continue;
        if (facts.score < threshold) break;
        if (facts.score > lastScore) {
            best = up;
            break;
        }
        lastScore = facts.score;
    }
    // A lone child says nothing its parent does not.
    while (best != blocks.Root() && best->parent != blocks.Root() && FirstElementChild(best->parent) == best &&
           NextElement(best) == nullptr)
        best = best->parent;
    return best;
}

bool HoldsPagesArticle(xmlNode* node) {
    const auto marks = [](const xmlNode* box) {
        return Named(box, "article") || AsciiLower(Attribute(box, "itemprop")) == "articlebody";
    };
    bool marked = false;
    for (const xmlNode* up = node; IsElement(up); up = up->parent) {
        if (NamedCommentsOrRelated(up)) return false;
        marked = marked || marks(up);
    }
    Walk(node, [&](xmlNode* box) {
        marked = marked || marks(box);
        return !marked && !NamedCommentsOrRelated(box);
    });
    return marked;
}

std::vector<xmlNode*> WithSiblings(TBlocks& blocks, xmlNode* top) {
    std::vector<xmlNode*> chosen;
    if (top == blocks.Root()) {
        for (xmlNode* child = FirstElementChild(top); child != nullptr; child = NextElement(child))
            if (!blocks.Skipped(child)) chosen.push_back(child);
        return chosen;
    }
    const double topScore = blocks[top].score;
    const double threshold = std::max(10.0, topScore * 0.2);
    const std::string topClass = Attribute(top, "class");
    const bool inArticle = InMarkedArticle(top);
    bool before = true;
    for (xmlNode* sibling = FirstElementChild(top->parent); sibling != nullptr; sibling = NextElement(sibling)) {
        const TBlockFacts& facts = blocks[sibling];
        if (facts.skipped) continue;
        if (sibling == top) {
            chosen.push_back(sibling);
            before = false;
            continue;
        }
        if (inArticle && BesideTheBody(blocks, sibling, before)) {
            chosen.push_back(sibling);
            continue;
        }
        const double bonus = !topClass.empty() && Attribute(sibling, "class") == topClass ? topScore * 0.2 : 0;
        if (facts.candidate && facts.score + bonus >= threshold) {
            chosen.push_back(sibling);
            continue;
        }
        const double density = blocks.LinkDensity(sibling);
        // Right beside the body: a summary of key points, an introduction.
        const bool adjacent = NextElement(sibling) == top || sibling == NextElement(top);
        if (adjacent && facts.text > 80 && facts.text < blocks[top].text / 2 && density < 0.1 &&
            ClassWeight(sibling) >= 0 && !NamedClutter(sibling)) {
            chosen.push_back(sibling);
            continue;
        }
        if (!Named(sibling, "p") && !(IsTextContainer(sibling) && !facts.holdsBlocks)) continue;
        if (facts.text > 80 && density < 0.25) {
            chosen.push_back(sibling);
        } else if (facts.text > 0 && facts.text <= 80 && density == 0) {
            const std::string text = TextOf(sibling);
            if (text.find(". ") != std::string::npos || text.back() == '.') chosen.push_back(sibling);
        }
    }
    return chosen;
}

}  // namespace extract
