// Step one and a half: text that sits bare in its box made paragraphs.
//
// Many pages write their article as runs of text between <br><br> inside
// a <div>, a table cell or a <font>, with no <p> at all, or put a first
// paragraph bare before the <p>s that follow. Scoring counts paragraphs,
// so such text is wrapped first: each run of text and inline elements
// becomes a <p>, and a blank line made of two or more <br> ends one.
#pragma once

#include <libxml/tree.h>

namespace extract {

void WrapBareText(xmlNode* root);

}  // namespace extract
