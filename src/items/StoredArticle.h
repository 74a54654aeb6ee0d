// The full article of an item, fetched from its link and kept beside it in
// the item store: plain values shared by the store and the article fetcher.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace items {

// No row at all is None: the article was never tried.
enum class TArticleState {
    None,
    Fetched,      // Html holds the article
    Failed,       // the page could not be had; tried again a day later
    KeptSummary,  // the page came, but the feed's own body is better
};

// Why an item shows its feed body rather than an article. The window maps
// each to a text of its language; Detail carries what the server or the
// network library said, shown as it is.
enum class TArticleReason {
    None,
    NotWebLink,       // no link, or not http/https: nothing was fetched
    HttpStatus,       // the server answered outside 2xx; Detail is the status line
    TimedOut,         // a connect, stall or overall deadline ran out
    TooLarge,         // the page passed the size cap
    Network,          // refused, unreachable, TLS, a broken connection
    NotAPage,         // the link leads to something other than HTML (a PDF, an image)
    NoArticle,        // the page holds no article (a login wall); Detail says why
    ShorterThanFeed,  // the article has less text than the feed's body
    Other,            // a code written by a later version
};

// The stable codes kept in the base ("http-status"); an unknown code reads
// as Other, so a base written by a later version still opens.
const char* ArticleReasonCode(TArticleReason reason);
TArticleReason ArticleReasonFromCode(std::string_view code);

struct TStoredArticle {
    TArticleState State = TArticleState::None;
    std::string Html;  // sanitised (html::SanitizeFragment), "" unless Fetched
    std::string Title;
    std::string Byline;
    TArticleReason Reason = TArticleReason::None;
    std::string Detail;
    std::int64_t TriedAt = 0;  // seconds since 1970 UTC
    bool operator==(const TStoredArticle&) const = default;
};

// One item's article result, as the fetcher reports it and the store takes it.
struct TItemArticle {
    std::string FeedId;
    std::string Key;  // ItemKey
    TStoredArticle Article;
};

// An item whose article is wanted: what the fetcher needs to get it and to
// judge it against the feed's own body.
struct TArticleWork {
    std::string FeedId;
    std::string Key;
    std::string Link;
    std::string FeedBody;
};

}  // namespace items
