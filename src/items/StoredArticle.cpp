#include "StoredArticle.h"

#include <array>
#include <utility>

namespace items {

namespace {

// Written into bases: a code never changes meaning once released.
constexpr std::array<std::pair<TArticleReason, const char*>, 10> kReasonCodes = {{
    {TArticleReason::None, ""},
    {TArticleReason::NotWebLink, "not-web-link"},
    {TArticleReason::HttpStatus, "http-status"},
    {TArticleReason::TimedOut, "timed-out"},
    {TArticleReason::TooLarge, "too-large"},
    {TArticleReason::Network, "network"},
    {TArticleReason::NotAPage, "not-a-page"},
    {TArticleReason::NoArticle, "no-article"},
    {TArticleReason::ShorterThanFeed, "shorter-than-feed"},
    {TArticleReason::Other, "other"},
}};

}  // namespace

const char* ArticleReasonCode(TArticleReason reason) {
    for (const auto& [value, code] : kReasonCodes) {
        if (value == reason) return code;
    }
    return "other";
}

TArticleReason ArticleReasonFromCode(std::string_view code) {
    for (const auto& [value, known] : kReasonCodes) {
        if (code == known) return value;
    }
    return TArticleReason::Other;
}

}  // namespace items
