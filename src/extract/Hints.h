// What an element's class and id say about it. Sites name their boxes
// plainly ("sidebar", "share-bar", "article-body"); those names are the
// surest hint to what a box holds.
#pragma once

#include <libxml/tree.h>

namespace extract {

// Named like something that is never the article: navigation, comments,
// sidebars, share bars, related boxes, banners, pop-ups, and headers
// outside an <article>.
bool NamedUnlikely(const xmlNode* node, bool inArticle = false);
// Named like the comments below an article or a box of related stories,
// whose entries pages often write as <article>s of their own.
bool NamedCommentsOrRelated(const xmlNode* node);
// Named like the article, which outweighs a name that looks unlikely
// ("main-sidebar-content" is kept).
bool NamedLikely(const xmlNode* node);
// Named like page furniture that may sit inside the article itself: share
// and follow bars, newsletter sign-ups, "related" and "read more" boxes,
// advertisements, cookie notices.
bool NamedClutter(const xmlNode* node);
// +25 for each of class and id that reads like content, -25 for each that
// reads like furniture.
int ClassWeight(const xmlNode* node);

}  // namespace extract
