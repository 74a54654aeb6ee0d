#include "Tidy.h"

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
  if (weight + (facts.candidate ? facts.score : 0) < 0) return true;
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

bool SameText(const std::string& a, const std::string& b) { return !a.empty() && Lower(a) == Lower(b); }

}  // namespace

void CleanResult(TBlocks& blocks, const std::vector<xmlNode*>& chosen, const TRules& rules, const std::string& title) {
  const std::string plainTitle = CollapseBlanks(title);
  for (xmlNode* root : chosen) {
    Walk(root, [&](xmlNode* node) {
      TBlockFacts& facts = blocks[node];
      if (facts.skipped) return false;
      const std::string_view name = NameOf(node);
      bool drop = false;
      if (IsHeading(node)) {
        drop = (rules.weightClasses && ClassWeight(node) < 0) ||
               ((name == "h1" || name == "h2") && facts.text < 300 && SameText(TextOf(node), plainTitle));
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
