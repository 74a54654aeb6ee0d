// Article extraction: a web page's bytes to the article it shows.
//
//   extract::TArticle article = extract::ExtractArticle(body, "https://example.org/news/1", contentType);
//   if (article.Found) Show(article.Title, article.Html);
//   else Report(article.Reason);
//
// The steps, each in a file of its own: parse the page in its encoding
// (Page), read what it says about itself (Metadata), clean the document of
// what is never article (Prepare), make bare runs of text paragraphs
// (Paragraphs), score its blocks and pick the best with
// its siblings (Score), clean the result (Tidy), write it as HTML with
// addresses resolved (Output). When the strict rules leave too little
// text, the page is scored again with looser ones.
//
// The extractor never fetches anything: images and links stay addresses.
// The HTML it gives holds no script, style or event handler, but it is a
// stranger's markup all the same and goes through the sanitiser before it
// is shown, like every feed body.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace extract {

// Pages larger than this are refused rather than parsed.
inline constexpr std::size_t kMaxPageSize = 32u * 1024 * 1024;

struct TArticle {
    bool Found = false;
    std::string Html;            // the article's content, UTF-8
    std::string Title;           // "" when the page gives none
    std::string Byline;          // the author(s)
    std::string Date;            // as the page gives it, mostly ISO 8601
    std::string Reason;          // when not found: why, in plain words
    std::size_t TextLength = 0;  // visible characters of Html
};

// The article in page, a document fetched from address (http or https;
// other addresses are refused). contentType is the answer's Content-Type
// header or only its charset, "" when unknown.
TArticle ExtractArticle(std::string_view page, std::string_view address, std::string_view contentType = {});

// The visible characters of an HTML fragment, counted as TextLength is.
std::size_t VisibleTextLength(std::string_view html);

// Why a feed's own body (HTML) should be shown rather than the article:
// no article was found (a login or cookie wall, a paywall's teaser), or
// it has less text than the feed gave. nullopt when the article is better.
std::optional<std::string> ReasonToKeepFeedBody(const TArticle& article, std::string_view feedBody);

}  // namespace extract
