// Discovery: what a person pastes (a feed's address, a page's, a bare host)
// to the feeds it stands for, best first.
//
//   auto result = discover::Discover("example.org");
//   if (result.Ok()) for (auto& feed : result.Feeds) Show(feed.Title, feed.Url);
//   else Report(result.Error->Message);
//
// The steps, in order: the address itself may be a feed; else the page's
// feed links (and YouTube's own rules); else the usual feed addresses of the
// site, each fetched to see that it is a feed.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FeedLinks.h"
#include "HttpClient.h"

namespace discover {

// Why discovery gave nothing; the app may translate by kind.
enum class TDiscoverErrorKind {
    InvalidAddress,    // what was pasted is not a web address
    HostNotFound,      // the name does not resolve
    ConnectionFailed,  // nothing listens, or the connection broke
    TimedOut,
    HttpStatus,     // an answer outside 2xx; Status holds it
    SecureRefused,  // https while secure addresses are switched off
    SecureFailed,   // the https connection failed (no TLS there, a bad certificate)
    TooLarge,
    Cancelled,
    UnreadableFeed,  // the address gives a feed that cannot be read
    NoFeed,          // the page names none and no usual address has one
    Other,
};

struct TDiscoverError {
    TDiscoverErrorKind Kind = TDiscoverErrorKind::Other;
    int Status = 0;       // the HTTP status for HttpStatus
    std::string Message;  // plain English, one or two sentences
};

struct TDiscoverResult {
    std::string Address;  // the page that answered, after redirects; "" if none did
    std::vector<TFeedCandidate> Feeds;
    std::optional<TDiscoverError> Error;
    bool Ok() const { return !Error.has_value(); }
};

// One answer as discovery sees it.
struct TFetchedPage {
    std::string Url;          // after redirects
    std::string ContentType;  // the header, "" when absent
    std::string Body;
};
// Fetches url (following redirects or not); throws http::HttpError.
using TPageFetcher = std::function<TFetchedPage(const std::string& url, bool followRedirects)>;

struct TDiscoverOptions {
    // A bare host is tried as https, so secure fetching is on unless the
    // caller says otherwise.
    bool secureFeeds = true;
    std::chrono::milliseconds connectTimeout = http::kDefaultConnectTimeout;
    std::chrono::milliseconds stallTimeout = http::kDefaultStallTimeout;
    std::chrono::milliseconds deadline = http::kDefaultDeadline;
    std::shared_ptr<http::TCancelToken> cancelToken;  // shared with the caller to stop discovery
    TPageFetcher fetcher;                             // empty: the HTTP client with the settings above
};

TDiscoverResult Discover(std::string_view input, const TDiscoverOptions& options = {});

// The feed `body` is, when it is one Quillet reads (RSS, RDF, Atom, JSON
// Feed): its title and MIME type, with url as its address.
std::optional<TFeedCandidate> ReadFeed(const std::string& body, const std::string& url);

// A failed fetch of url in plain words.
TDiscoverError DescribeFetchError(const http::HttpError& error, const std::string& url);

// The address a downloaded feed file gives for itself (its self link, or a
// JSON Feed's feed_url), else the address of the site it belongs to, from
// which discovery finds the feed again; nullopt for a file that is no feed.
std::optional<std::string> FeedFileAddress(const std::string& body);

// The usual feed addresses tried when a page names none: in the page's
// folder, then at the site's root.
std::vector<std::string> WellKnownFeedAddresses(const std::string& pageUrl);

}  // namespace discover
