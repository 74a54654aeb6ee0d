// Step five: the chosen blocks as HTML of the article's own markup.
//
// The HTML is written element by element from an allow-list, never copied:
// headings, paragraphs, lists, tables, code, quotes, figures and images,
// links and emphasis stay; other containers give way to their contents;
// scripts, styles, frames and forms cannot appear. Only a few plain
// attributes stay, never an event handler, style, class or id. Links and
// images are resolved against the page's base; those that are not web
// addresses lose the address (a link keeps its text, an image goes).
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <string>
#include <vector>

#include "Score.h"

namespace extract {

struct TArticleHtml {
    std::string html;
    std::string text;  // the plain text, its first kTextKept bytes
    std::size_t textLength = 0;
};

inline constexpr std::size_t kTextKept = 64 * 1024;

TArticleHtml WriteArticle(const TBlocks& blocks, const std::vector<xmlNode*>& chosen, const std::string& baseUrl);
// Plain text as paragraphs, one a line.
TArticleHtml WriteText(std::string_view text);

}  // namespace extract
