#include "ArticleFetcher.h"

#include <libxml/parser.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include <sys/resource.h>
#include <unistd.h>

#include "Extract.h"
#include "HtmlSanitizer.h"
#include "Text.h"

namespace articles {

using items::TArticleReason;
using items::TArticleState;
using items::TArticleWork;
using items::TItemArticle;
using items::TStoredArticle;
using plat::AsciiLower;

namespace {

// The workers' niceness: a tenth of a busy core's share beside the
// program's other threads.
constexpr int kWorkerNice = 10;

std::int64_t SystemNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Pages the extractor can read; an answer without a type is tried all the same.
bool IsHtmlType(std::string_view contentType) {
    const std::string type = AsciiLower(contentType.substr(0, contentType.find(';')));
    return type.empty() || type.find("html") != std::string::npos;
}

TStoredArticle Failure(TArticleReason reason, std::string detail) {
    TStoredArticle article;
    article.State = TArticleState::Failed;
    article.Reason = reason;
    article.Detail = std::move(detail);
    return article;
}

TStoredArticle KeptSummary(TArticleReason reason, std::string detail) {
    TStoredArticle article = Failure(reason, std::move(detail));
    article.State = TArticleState::KeptSummary;
    return article;
}

TArticleReason ReasonOf(const http::HttpError& e) {
    switch (e.Failure()) {
        case http::HttpFailure::Status:
            return TArticleReason::HttpStatus;
        case http::HttpFailure::TimedOut:
            return TArticleReason::TimedOut;
        case http::HttpFailure::TooLarge:
            return TArticleReason::TooLarge;
        case http::HttpFailure::Other:
        case http::HttpFailure::Tls:
        case http::HttpFailure::Cancelled:
            break;
    }
    return TArticleReason::Network;
}

// The page's article judged against the feed's own body.
TStoredArticle Judge(const http::TFetchResult& page, const std::string& link, const std::string& feedBody) {
    if (!IsHtmlType(page.ContentType))
        return KeptSummary(TArticleReason::NotAPage, "The link leads to " + page.ContentType + ", not a web page.");
    const extract::TArticle found =
        extract::ExtractArticle(page.Body, page.EffectiveUrl.empty() ? link : page.EffectiveUrl, page.ContentType);
    if (const auto reason = extract::ReasonToKeepFeedBody(found, feedBody))
        return KeptSummary(found.Found ? TArticleReason::ShorterThanFeed : TArticleReason::NoArticle, *reason);
    TStoredArticle article;
    article.State = TArticleState::Fetched;
    article.Html = html::SanitizeFragment(found.Html);
    article.Title = found.Title;
    article.Byline = found.Byline;
    return article;
}

}  // namespace

std::string HostOf(std::string_view link) {
    const std::size_t colon = link.find("://");
    if (colon == std::string_view::npos) return {};
    const std::string scheme = AsciiLower(link.substr(0, colon));
    if (scheme != "http" && scheme != "https") return {};
    std::string_view authority = link.substr(colon + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (authority.empty()) return {};
    // A port follows the last colon unless that colon is inside [IPv6].
    const std::size_t portColon = authority.rfind(':');
    const bool hasPort =
        portColon != std::string_view::npos && authority.find(']', portColon) == std::string_view::npos;
    if (hasPort && portColon + 1 < authority.size()) return AsciiLower(authority);
    const std::string host = AsciiLower(hasPort ? authority.substr(0, portColon) : authority);
    if (host.empty()) return {};
    return host + (scheme == "https" ? ":443" : ":80");
}

struct TArticleFetcher::TImpl {
    TFetcherOptions Options;
    std::function<void()> Ready;
    std::shared_ptr<http::TCancelToken> Cancel = std::make_shared<http::TCancelToken>();

    mutable std::mutex Mutex;
    std::condition_variable Changed;
    bool Stopping = false;
    std::deque<TArticleWork> Queue;
    std::map<std::string, int> InFlightPerHost;
    std::size_t InFlight = 0;
    // Items queued, in flight or waiting in Results: each is fetched once.
    std::set<std::pair<std::string, std::string>> Held;
    std::vector<TItemArticle> Results;
    std::vector<std::thread> Workers;

    std::int64_t Now() const { return Options.Now ? Options.Now() : SystemNow(); }

    // Under the lock: the first queued item whose host has room.
    std::optional<TArticleWork> TakeNext() {
        for (auto it = Queue.begin(); it != Queue.end(); ++it) {
            int& running = InFlightPerHost[HostOf(it->Link)];
            if (running >= Options.PerHost) continue;
            ++running;
            ++InFlight;
            TArticleWork work = std::move(*it);
            Queue.erase(it);
            return work;
        }
        return std::nullopt;
    }

    void Work() {
        // Articles are background work: polling and the window come first
        // when the cores are busy.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWorkerNice);
        std::unique_lock lock(Mutex);
        for (;;) {
            std::optional<TArticleWork> work;
            Changed.wait(lock, [&] { return Stopping || (work = TakeNext()); });
            if (Stopping && !work) return;
            lock.unlock();
            std::optional<TStoredArticle> article = Fetch(*work);
            lock.lock();
            if (--InFlightPerHost[HostOf(work->Link)] == 0) InFlightPerHost.erase(HostOf(work->Link));
            --InFlight;
            Finish(std::move(*work), std::move(article), lock);
        }
    }

    // nullopt when the fetch was cancelled: there is no result to keep.
    std::optional<TStoredArticle> Fetch(const TArticleWork& work) {
        TStoredArticle article;
        try {
            http::THttpClient client(Options.Fetch, Cancel);
            client.SetConnectTimeout(Options.ConnectTimeout);
            client.SetStallTimeout(Options.StallTimeout);
            client.SetDeadline(Options.Deadline);
            client.SetMaxBodySize(Options.MaxPageSize);
            article = Judge(client.Fetch(work.Link), work.Link, work.FeedBody);
        } catch (const http::HttpError& e) {
            if (e.Failure() == http::HttpFailure::Cancelled || Cancel->Cancelled()) return std::nullopt;
            article = Failure(ReasonOf(e), e.what());
        } catch (const std::exception& e) {
            // The extractor or sanitiser running out of memory on a hostile page.
            article = KeptSummary(TArticleReason::NoArticle, e.what());
        }
        article.TriedAt = Now();
        return article;
    }

    // Under the lock, which it gives up to call Ready.
    void Finish(TArticleWork work, std::optional<TStoredArticle> article, std::unique_lock<std::mutex>& lock) {
        Changed.notify_all();  // a host has room again; WaitIdle may be done
        if (!article) {
            Held.erase({work.FeedId, work.Key});
            return;
        }
        Results.push_back({std::move(work.FeedId), std::move(work.Key), std::move(*article)});
        if (!Ready || Stopping) return;  // whoever stops is no longer listening
        lock.unlock();
        Ready();
        lock.lock();
    }
};

TArticleFetcher::TArticleFetcher(TFetcherOptions options, std::function<void()> ready)
    : FImpl(std::make_unique<TImpl>()) {
    FImpl->Options = std::move(options);
    FImpl->Options.PerHost = std::max(1, FImpl->Options.PerHost);
    FImpl->Options.Workers = std::max(1, FImpl->Options.Workers);
    FImpl->Ready = std::move(ready);
    // libxml2 sets up its globals once, before the workers parse pages.
    xmlInitParser();
}

TArticleFetcher::~TArticleFetcher() { Stop(); }

std::size_t TArticleFetcher::Add(const std::vector<TArticleWork>& work) {
    std::unique_lock lock(FImpl->Mutex);
    if (FImpl->Stopping) return 0;
    std::size_t taken = 0, refused = 0;
    for (const TArticleWork& w : work) {
        if (FImpl->Queue.size() + FImpl->InFlight >= FImpl->Options.QueueLimit) break;
        if (!FImpl->Held.insert({w.FeedId, w.Key}).second) continue;
        ++taken;
        if (HostOf(w.Link).empty()) {
            TStoredArticle article = Failure(TArticleReason::NotWebLink, w.Link);
            article.TriedAt = FImpl->Now();
            FImpl->Results.push_back({w.FeedId, w.Key, std::move(article)});
            ++refused;
            continue;
        }
        FImpl->Queue.push_back(w);
    }
    if (FImpl->Workers.empty() && !FImpl->Queue.empty()) {
        for (int n = 0; n < FImpl->Options.Workers; ++n)
            FImpl->Workers.emplace_back([impl = FImpl.get()] { impl->Work(); });
    }
    FImpl->Changed.notify_all();
    lock.unlock();
    if (refused > 0 && FImpl->Ready) FImpl->Ready();
    return taken;
}

std::vector<TItemArticle> TArticleFetcher::Drain() {
    std::lock_guard lock(FImpl->Mutex);
    std::vector<TItemArticle> results = std::move(FImpl->Results);
    FImpl->Results.clear();
    for (const TItemArticle& r : results) FImpl->Held.erase({r.FeedId, r.Key});
    return results;
}

std::size_t TArticleFetcher::Busy() const {
    std::lock_guard lock(FImpl->Mutex);
    return FImpl->Queue.size() + FImpl->InFlight;
}

bool TArticleFetcher::WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(FImpl->Mutex);
    return FImpl->Changed.wait_for(lock, timeout, [&] { return FImpl->Queue.empty() && FImpl->InFlight == 0; });
}

void TArticleFetcher::Stop() {
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(FImpl->Mutex);
        FImpl->Stopping = true;
        for (const TArticleWork& w : FImpl->Queue) FImpl->Held.erase({w.FeedId, w.Key});
        FImpl->Queue.clear();
        workers = std::move(FImpl->Workers);
        FImpl->Workers.clear();
    }
    FImpl->Cancel->Cancel();
    FImpl->Changed.notify_all();
    for (std::thread& worker : workers) worker.join();
}

}  // namespace articles
