#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ArticleFetcher.h"
#include "FixtureFile.h"
#include "LoopbackServer.h"
#include "TimeBound.h"

using namespace articles;
using items::TArticleReason;
using items::TArticleState;
using items::TArticleWork;
using testsupport::LoopbackServer;
using testsupport::Response;
using testsupport::TimeBound;

namespace {

const testsupport::HeaderList kHtml = {{"Content-Type", "text/html; charset=utf-8"}};

std::string Page(const std::string& name) { return testsupport::ReadFixtureFile(EXTRACT_TEST_DATA "/" + name); }

Response Answer(testsupport::Fault fault, std::uint64_t generated = 0, std::chrono::milliseconds delay = {}) {
    Response response;
    response.headers = kHtml;
    response.body = "<p>A page that takes its time.</p>";
    response.fault = fault;
    response.generatedBodySize = generated;
    response.headDelay = delay;
    return response;
}

TFetcherOptions PlainHttp() {
    TFetcherOptions options;
    options.Fetch = {};  // the loopback server speaks plain http
    return options;
}

}  // namespace

TEST(ArticleFetcher, EachOutcomeKeepsItsStateAndReason) {
    LoopbackServer server;
    server.AddEndpoint("/post", 200, kHtml, Page("wordpress_blog.html"));
    server.AddEndpoint("/missing", 404, kHtml, "<p>No such page</p>");
    server.AddEndpoint("/hangs", Answer(testsupport::Fault::NeverAnswer));
    server.AddEndpoint("/huge", Answer(testsupport::Fault::None, 1024 * 1024));
    server.AddEndpoint("/paper.pdf", 200, {{"Content-Type", "application/pdf"}}, "%PDF-1.4");
    server.AddEndpoint("/login", 200, kHtml, Page("login_wall.html"));
    const struct Case {
        std::string link, feedBody;
        TArticleState state;
        TArticleReason reason;
        std::string detail;  // a part of it
    } cases[] = {
        {server.Url("/post"), "<p>Teaser</p>", TArticleState::Fetched, TArticleReason::None, ""},
        {server.Url("/missing"), "", TArticleState::Failed, TArticleReason::HttpStatus, "HTTP/1.1 404 Not Found"},
        {server.Url("/hangs"), "", TArticleState::Failed, TArticleReason::TimedOut, ""},
        {server.Url("/huge"), "", TArticleState::Failed, TArticleReason::TooLarge, ""},
        {server.Url("/paper.pdf"), "", TArticleState::KeptSummary, TArticleReason::NotAPage, "application/pdf"},
        {server.Url("/login"), "", TArticleState::KeptSummary, TArticleReason::NoArticle, "sign in"},
        {server.Url("/post?again"), "<p>" + std::string(40000, 'w') + "</p>", TArticleState::KeptSummary,
         TArticleReason::ShorterThanFeed, "less"},
        {"ftp://127.0.0.1/file", "", TArticleState::Failed, TArticleReason::NotWebLink, "ftp:"},
        {"javascript:alert(1)", "", TArticleState::Failed, TArticleReason::NotWebLink, ""},
        {"", "", TArticleState::Failed, TArticleReason::NotWebLink, ""},
    };
    TFetcherOptions options = PlainHttp();
    options.Deadline = std::chrono::milliseconds(800);
    options.MaxPageSize = 256 * 1024;
    options.Now = [] { return std::int64_t{1234}; };
    std::atomic<int> ready{0};
    TArticleFetcher fetcher(options, [&] { ++ready; });
    std::vector<TArticleWork> work;
    for (const Case& c : cases) work.push_back({"7", c.link, c.link, c.feedBody});
    EXPECT_EQ(fetcher.Add(work), std::size(cases));
    ASSERT_TRUE(fetcher.WaitIdle(TimeBound(std::chrono::seconds(20))));

    std::map<std::string, items::TStoredArticle> results;
    for (auto& r : fetcher.Drain()) results[r.Key] = std::move(r.Article);
    ASSERT_EQ(results.size(), std::size(cases));
    EXPECT_GT(ready, 0);
    for (const Case& c : cases) {
        const items::TStoredArticle& a = results[c.link];
        EXPECT_EQ(a.State, c.state) << c.link;
        EXPECT_EQ(a.Reason, c.reason) << c.link;
        EXPECT_NE(a.Detail.find(c.detail), std::string::npos) << c.link << ": " << a.Detail;
        EXPECT_EQ(a.TriedAt, 1234) << c.link;
        EXPECT_EQ(a.Html.empty(), c.state != TArticleState::Fetched) << c.link;
    }
    const items::TStoredArticle& fetched = results[server.Url("/post")];
    EXPECT_NE(fetched.Html.find("rye flour for the first week"), std::string::npos);
    EXPECT_EQ(fetched.Html.find("<script"), std::string::npos);
    EXPECT_EQ(fetched.Title, "Starting over with sourdough");

    EXPECT_EQ(server.NumRequests(), 7) << "one request per web link, none for the others";
    EXPECT_EQ(server.LastRequest().Header("User-Agent"), http::ProductToken());
    EXPECT_TRUE(server.LastRequest().HasHeader("Accept-Encoding"));
}

TEST(ArticleFetcher, TwoRequestsAtATimePerHostOtherHostsBesideEachItemOnce) {
    LoopbackServer busy, other;
    // Whichever host's request comes second finds the other's in flight.
    std::atomic<int> overlap{0};
    std::vector<TArticleWork> work;
    for (int n = 0; n < 8; ++n) {
        LoopbackServer& server = n < 6 ? busy : other;
        const LoopbackServer& beside = n < 6 ? other : busy;
        const std::string path = "/" + std::to_string(n);
        server.AddHandler(path, [&overlap, &beside](const testsupport::Request&) {
            overlap = std::max(overlap.load(), beside.InFlightRequests());
            return Answer(testsupport::Fault::None, 0, std::chrono::milliseconds(400));
        });
        work.push_back({n < 6 ? "1" : "2", path, server.Url(path), ""});
    }
    TArticleFetcher fetcher(PlainHttp());
    EXPECT_EQ(fetcher.Add(work), work.size());
    EXPECT_EQ(fetcher.Add(work), 0u) << "items already held are not taken twice";
    ASSERT_TRUE(fetcher.WaitIdle(TimeBound(std::chrono::seconds(20))));
    EXPECT_EQ(fetcher.Drain().size(), work.size());

    EXPECT_EQ(busy.MaxConcurrentRequests(), 2);
    EXPECT_LE(other.MaxConcurrentRequests(), 2);
    EXPECT_GT(overlap, 0) << "another host is fetched beside a busy one";
    for (const TArticleWork& w : work) EXPECT_EQ((w.FeedId == "1" ? busy : other).NumHits(w.Key), 1) << w.Key;
}

TEST(ArticleFetcher, StopsPromptlyWithinItsQueueLimit) {
    LoopbackServer server;
    server.AddEndpoint("/hangs", Answer(testsupport::Fault::NeverAnswer));
    TFetcherOptions options = PlainHttp();
    options.QueueLimit = 3;
    std::atomic<int> ready{0};
    TArticleFetcher fetcher(options, [&] { ++ready; });
    std::vector<TArticleWork> work;
    for (int n = 0; n < 5; ++n) work.push_back({"1", std::to_string(n), server.Url("/hangs?" + std::to_string(n)), ""});
    EXPECT_EQ(fetcher.Add(work), 3u);
    EXPECT_EQ(fetcher.Busy(), 3u);
    for (int wait = 0; wait < 500 && server.InFlightRequests() < 2; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(server.InFlightRequests(), 2);

    const auto start = std::chrono::steady_clock::now();
    fetcher.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, TimeBound(std::chrono::seconds(2)));
    EXPECT_EQ(fetcher.Busy(), 0u);
    EXPECT_TRUE(fetcher.Drain().empty()) << "a cancelled fetch has no result";
    EXPECT_EQ(ready, 0);
    EXPECT_EQ(fetcher.Add(work), 0u);
}

TEST(ArticleFetcher, HostOfALink) {
    for (const auto& [link, host] :
         std::vector<std::pair<std::string, std::string>>{{"https://Example.ORG/a?b#c", "example.org:443"},
                                                          {"HTTP://user:pw@example.org:8080/x", "example.org:8080"},
                                                          {"http://[::1]/x", "[::1]:80"},
                                                          {"mailto:someone@example.org", ""},
                                                          {"http:///nohost", ""}})
        EXPECT_EQ(HostOf(link), host) << link;
}
