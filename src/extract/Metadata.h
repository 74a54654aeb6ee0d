// What a page says about its article beside the article's text: title,
// author and date from structured data (JSON-LD), Open Graph and the
// common <meta> names, and the page's own markup (<title>, <time>, a
// byline), surest source first; and the address its links resolve against.
#pragma once

#include <libxml/tree.h>

#include <string>

namespace extract {

struct TPageMetadata {
    std::string Title;
    std::string Byline;
    std::string Date;         // as the page writes it, ISO 8601 from most sources
    std::string BaseUrl;      // <base> resolved against the page's address, else that address
    bool Article = false;     // structured data or Open Graph call the page an article
    std::string ArticleBody;  // the article's plain text as structured data gives it, "" when not
};

TPageMetadata ReadMetadata(xmlDoc* document, const std::string& pageUrl);

// "By Jane Doe" as "Jane Doe"; blanks collapsed; "" for an address.
std::string CleanByline(std::string_view text);

}  // namespace extract
