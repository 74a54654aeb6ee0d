// From what one fetch of a feed saw (the answer, the redirects on the way,
// the network's failure, whether the parser found a feed) to what it came
// to: the classification the feed's health and the schedule work with.
#pragma once

#include "FetchOutcome.h"
#include "HttpClient.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace schedule {

// Everything the classification looks at, taken from the fetch's result
// or its error.
struct TFetchFacts {
    std::string Url;  // the address asked for
    bool FollowRedirects = false;
    int Status = 0;            // the last answer's status, 0 where none came
    std::string ServerStatus;  // its status line, or the network library's words
    http::NetworkCause Cause = http::NetworkCause::None;
    bool TooLarge = false;
    std::vector<http::TRedirect> Redirects;
    std::string ContentType;
    std::string BodyHead;  // the first few KiB of the body
    std::optional<TTimePoint> RetryAfter;
    bool NotModified = false;
    bool IsFeed = false;  // the parser read a feed from the body
    bool HadNewItem = false;
};

// The facts of an answer the client returned, and of one it threw.
TFetchFacts FactsFromResult(const std::string& url, bool followRedirects, const http::TFetchResult& result);
TFetchFacts FactsFromError(const std::string& url, bool followRedirects, const http::HttpError& error);

TFetchOutcome Classify(const TFetchFacts& facts, TTimePoint at);

// Where a chain of redirects says the feed moved for good: the address the
// leading run of permanent redirects ends at; "" when the first redirect is
// temporary, when there is none, or when the chain ends at a site's home
// page (a publisher retiring a feed sends its readers there).
std::string PermanentTarget(const std::string& url, const std::vector<http::TRedirect>& redirects);

// True for the challenge or block page of a bot-protection service
// (Cloudflare, DDoS-Guard, Sucuri, Akamai, captcha pages).
bool IsBotProtectionPage(int status, std::string_view bodyHead);
// True for a body that is a web page rather than a feed.
bool IsHtmlPage(std::string_view contentType, std::string_view bodyHead);
// True for an address whose path is the site's root.
bool IsHomePage(const std::string& url);

}  // namespace schedule
