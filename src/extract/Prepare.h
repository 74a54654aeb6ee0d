// Step one: the page without what is never part of an article.
#pragma once

#include <libxml/tree.h>

namespace extract {

struct TCleanedFacts {
    bool passwordField = false;  // the page asks for a password (a login wall)
};

// Removes from below root what no reader sees or wants in an article:
// scripts, styles, frames, forms, navigation, headers and footers without
// article text, asides, dialogs, hidden elements (the hidden attribute,
// aria-hidden, display:none), comments and bylines (the byline is kept
// apart). Lazy images get their real address as src; images kept in
// <noscript> for browsers without scripts replace their placeholders.
TCleanedFacts CleanDocument(xmlNode* root);

}  // namespace extract
