// Fetches the full articles of items from their links, politely.
//
//   articles::TArticleFetcher fetcher({}, [&] { PostToWindow(DrainAndStore); });
//   fetcher.Add(store.ItemsWantingArticle(feedIds, now, 100));
//   ...on the window's thread: store.StoreArticles(fetcher.Drain());
//
// The rules:
//  * only http and https links are fetched; any other link (or none) is a
//    failure at once (NotWebLink), without a request;
//  * one request per item: an item already queued, in flight or waiting to
//    be drained is not taken again (store what Drain gives before asking
//    the store for more work, and nothing is fetched twice);
//  * at most PerHost requests at a time to one host (name and port), while
//    other hosts are fetched beside it;
//  * the project's HTTP client with its deadline, size cap, compression and
//    product token (http::SetProductToken), redirects followed;
//  * a page that is not HTML, or whose article ReasonToKeepFeedBody finds
//    worse than the feed's own body, keeps the body (KeptSummary) with a
//    reason; an article is sanitised (html::SanitizeFragment) before it is
//    reported, so the window never sees a stranger's raw markup.
//
// Threads. The fetcher owns its workers (started with the first work) and
// runs every fetch and extraction on them, never on the caller's thread.
// Add, Drain and Stop may be called from any thread. Stop (and the
// destructor) cancels fetches in flight within a fraction of a second,
// drops queued work and joins every worker: no thread outlives the object.
//
// Bounds. At most QueueLimit items wait or run at once (Add takes what fits
// and says how many), each page at most MaxPageSize bytes.
//
// Plain C++, no Qt.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "HttpClient.h"
#include "StoredArticle.h"

namespace articles {

struct TFetcherOptions {
    // Article links are https more often than not and often pass through a
    // redirect (a feed's tracking address); the caller may narrow this to
    // the user's settings.
    http::FetchOptions Fetch{true, true};
    int PerHost = 2;
    // Workers in all: beside one host's PerHost requests, others proceed.
    int Workers = 4;
    std::size_t QueueLimit = 500;
    std::size_t MaxPageSize = http::kDefaultMaxBodySize;
    std::chrono::milliseconds ConnectTimeout = http::kDefaultConnectTimeout;
    std::chrono::milliseconds StallTimeout = http::kDefaultStallTimeout;
    std::chrono::milliseconds Deadline = http::kDefaultDeadline;
    // Seconds since 1970 UTC, the time of each try; tests fix it.
    std::function<std::int64_t()> Now;
};

// "example.org:443" for "https://Example.org/a": the host (lower case) and
// port a link's requests go to, "" when the link is not http or https.
std::string HostOf(std::string_view link);

class TArticleFetcher {
public:
    // ready is called (on a worker, or on the caller's thread for a link
    // refused at once) whenever a result is waiting for Drain; it must not
    // block and must not call back into the fetcher.
    explicit TArticleFetcher(TFetcherOptions options = {}, std::function<void()> ready = {});
    ~TArticleFetcher();
    TArticleFetcher(const TArticleFetcher&) = delete;
    TArticleFetcher& operator=(const TArticleFetcher&) = delete;

    // Queues work; returns how many items were taken. Items it already
    // holds, and everything after Stop, are not taken; nor are items past
    // QueueLimit.
    std::size_t Add(const std::vector<items::TArticleWork>& work);
    // The results so far, oldest first; never blocks.
    std::vector<items::TItemArticle> Drain();
    // Items queued or in flight.
    std::size_t Busy() const;
    // Waits until nothing is queued or in flight, or the timeout passes;
    // true when idle.
    bool WaitIdle(std::chrono::milliseconds timeout);
    void Stop();

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace articles
