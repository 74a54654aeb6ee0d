// Steps two and three: score the page's blocks by their text, their link
// density and their names, and pick the block that holds the article with
// the siblings that belong to it.
//
// Scoring marks elements instead of removing them, so that a page can be
// scored again with looser rules when the strict ones found too little.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <vector>

namespace extract {

// The rules an attempt uses; each later attempt drops one.
struct TRules {
    bool stripUnlikely = true;       // skip boxes named like furniture
    bool weightClasses = true;       // let class and id names move scores
    bool cleanConditionally = true;  // drop link lists and image galleries from the result
};

// What is known of one element during an attempt.
struct TBlockFacts {
    std::uint32_t text = 0;      // visible characters below, skipped parts left out
    std::uint32_t linkText = 0;  // of which inside links
    std::uint32_t headingText = 0;
    std::uint32_t commas = 0;
    std::uint32_t paragraphs = 0, images = 0, listItems = 0;
    bool holdsBlocks = false;  // holds paragraphs or other blocks, not only phrasing
    bool skipped = false;      // left out of the article by this attempt
    bool candidate = false;
    double score = 0;
};

class TBlocks {
public:
    // Numbers every element below root; the tree must not change afterwards.
    explicit TBlocks(xmlNode* root);
    ~TBlocks();
    TBlocks(const TBlocks&) = delete;
    TBlocks& operator=(const TBlocks&) = delete;

    xmlNode* Root() const { return FRoot; }
    TBlockFacts& operator[](const xmlNode* node);
    const TBlockFacts& operator[](const xmlNode* node) const { return const_cast<TBlocks&>(*this)[node]; }
    bool Skipped(const xmlNode* node) const;
    double LinkDensity(const xmlNode* node) const;
    // Forgets the previous attempt.
    void Reset();

private:
    xmlNode* FRoot;
    std::vector<TBlockFacts> FFacts;
    TBlockFacts FOutside;
};

// The steps of one attempt, in order.
void SkipUnlikely(TBlocks& blocks);
void Measure(TBlocks& blocks);
void ScoreParagraphs(TBlocks& blocks, const TRules& rules);
xmlNode* PickTopCandidate(TBlocks& blocks);
// Whether node is, lies in or holds the page's own <article> (or
// articleBody), not one of its comments or related stories.
bool HoldsPagesArticle(xmlNode* node);
// The top candidate with those of its siblings that continue the article,
// in the page's order; the children of the root when no block stood out.
std::vector<xmlNode*> WithSiblings(TBlocks& blocks, xmlNode* top);

}  // namespace extract
