// Step four: the chosen blocks without what sits inside the article but is
// not of it (share bars, link lists, galleries, the headline again).
#pragma once

#include <libxml/tree.h>

#include <string>
#include <vector>

#include "Score.h"

namespace extract {

// Marks as skipped the parts of the chosen blocks that are not the
// article's text; title is the article's own, which the page repeats as
// its first heading.
void CleanResult(TBlocks& blocks, const std::vector<xmlNode*>& chosen, const TRules& rules, const std::string& title);

}  // namespace extract
