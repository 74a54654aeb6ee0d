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

Response SlowPage(std::chrono::milliseconds delay) {
    Response response;
    response.headers = kHtml;
    response.body = "<html><body><p>A page that takes its time.</p></body></html>";
    response.headDelay = delay;
    return response;
}

std::map<std::string, items::TItemArticle> ByKey(std::vector<items::TItemArticle> results) {
    std::map<std::string, items::TItemArticle> byKey;
    for (auto& r : results) byKey[r.Key] = std::move(r);
    return byKey;
}

}  // namespace

TEST(ArticleFetcher, EachOutcomeKeepsItsStateAndReason) {
    LoopbackServer server;
    server.AddEndpoint("/post", 200, kHtml, Page("wordpress_blog.html"));
    server.AddEndpoint("/missing", 404, kHtml, "<p>No such page</p>");
    Response hangs;
    hangs.fault = testsupport::Fault::NeverAnswer;
    server.AddEndpoint("/hangs", hangs);
    Response huge;
    huge.headers = kHtml;
    huge.generatedBodySize = 1024 * 1024;
    server.AddEndpoint("/huge", huge);
    server.AddEndpoint("/paper.pdf", 200, {{"Content-Type", "application/pdf"}}, "%PDF-1.4");
    server.AddEndpoint("/login", 200, kHtml, Page("login_wall.html"));
    const std::string longFeedBody = "<p>" + std::string(40000, 'w') + "</p>";

    struct Case {
        std::string link, feedBody;
        TArticleState state;
        TArticleReason reason;
        std::string detail;  // a part of it
    };
    const std::vector<Case> cases = {
        {server.Url("/post"), "<p>Teaser</p>", TArticleState::Fetched, TArticleReason::None, ""},
        {server.Url("/missing"), "", TArticleState::Failed, TArticleReason::HttpStatus, "HTTP/1.1 404 Not Found"},
        {server.Url("/hangs"), "", TArticleState::Failed, TArticleReason::TimedOut, ""},
        {server.Url("/huge"), "", TArticleState::Failed, TArticleReason::TooLarge, ""},
        {server.Url("/paper.pdf"), "", TArticleState::KeptSummary, TArticleReason::NotAPage, "application/pdf"},
        {server.Url("/login"), "", TArticleState::KeptSummary, TArticleReason::NoArticle, "sign in"},
        {server.Url("/post?again"), longFeedBody, TArticleState::KeptSummary, TArticleReason::ShorterThanFeed, "less"},
        {"ftp://127.0.0.1/file", "", TArticleState::Failed, TArticleReason::NotWebLink, "ftp:"},
        {"javascript:alert(1)", "", TArticleState::Failed, TArticleReason::NotWebLink, ""},
        {"", "", TArticleState::Failed, TArticleReason::NotWebLink, ""},
    };
    TFetcherOptions options;
    options.Fetch = {};  // the loopback server speaks plain http
    options.Deadline = std::chrono::milliseconds(800);
    options.MaxPageSize = 256 * 1024;
    options.Now = [] { return std::int64_t{1234}; };
    std::atomic<int> ready{0};
    TArticleFetcher fetcher(options, [&] { ++ready; });
    std::vector<TArticleWork> work;
    for (std::size_t n = 0; n < cases.size(); ++n)
        work.push_back({"7", "k" + std::to_string(n), cases[n].link, cases[n].feedBody});
    EXPECT_EQ(fetcher.Add(work), cases.size());
    ASSERT_TRUE(fetcher.WaitIdle(TimeBound(std::chrono::seconds(20))));

    auto results = ByKey(fetcher.Drain());
    ASSERT_EQ(results.size(), cases.size());
    EXPECT_GT(ready, 0);
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        const items::TStoredArticle& a = results["k" + std::to_string(n)].Article;
        EXPECT_EQ(a.State, c.state) << c.link;
        EXPECT_EQ(a.Reason, c.reason) << c.link;
        EXPECT_NE(a.Detail.find(c.detail), std::string::npos) << c.link << ": " << a.Detail;
        EXPECT_EQ(a.TriedAt, 1234) << c.link;
        EXPECT_EQ(a.Html.empty(), c.state != TArticleState::Fetched) << c.link;
    }
    const items::TStoredArticle& fetched = results["k0"].Article;
    EXPECT_NE(fetched.Html.find("rye flour for the first week"), std::string::npos);
    EXPECT_EQ(fetched.Html.find("<script"), std::string::npos);
    EXPECT_EQ(fetched.Title, "Starting over with sourdough");

    EXPECT_EQ(server.NumRequests(), 7) << "one request per web link, none for the others";
    const testsupport::Request request = server.Requests().front();
    EXPECT_EQ(request.Header("User-Agent"), http::ProductToken());
    EXPECT_TRUE(request.HasHeader("Accept-Encoding"));
}

TEST(ArticleFetcher, TwoRequestsAtATimePerHostOtherHostsBesideEachItemOnce) {
    LoopbackServer busy, other;
    // Whichever host's request comes second finds the other's in flight.
    std::atomic<int> overlap{0};
    auto slowBeside = [&](const LoopbackServer& beside) {
        return [&overlap, &beside](const testsupport::Request&) {
            overlap = std::max(overlap.load(), beside.InFlightRequests());
            return SlowPage(std::chrono::milliseconds(400));
        };
    };
    std::vector<TArticleWork> work;
    for (int n = 0; n < 8; ++n) {
        LoopbackServer& server = n < 6 ? busy : other;
        const std::string path = "/" + std::to_string(n);
        server.AddHandler(path, slowBeside(n < 6 ? other : busy));
        work.push_back({n < 6 ? "1" : "2", path, server.Url(path), ""});
    }
    TFetcherOptions options;
    options.Fetch = {};
    TArticleFetcher fetcher(options);
    EXPECT_EQ(fetcher.Add(work), work.size());
    EXPECT_EQ(fetcher.Add(work), 0u) << "items already held are not taken twice";
    ASSERT_TRUE(fetcher.WaitIdle(TimeBound(std::chrono::seconds(20))));
    EXPECT_EQ(fetcher.Drain().size(), work.size());

    EXPECT_EQ(busy.MaxConcurrentRequests(), 2);
    EXPECT_LE(other.MaxConcurrentRequests(), 2);
    EXPECT_GT(overlap, 0) << "another host is fetched beside a busy one";
    EXPECT_EQ(busy.NumRequests() + other.NumRequests(), 8);
    for (const TArticleWork& w : work) EXPECT_EQ((w.FeedId == "1" ? busy : other).NumHits(w.Key), 1) << w.Key;
}

TEST(ArticleFetcher, StopsPromptlyWithinItsQueueLimit) {
    LoopbackServer server;
    Response hangs;
    hangs.fault = testsupport::Fault::NeverAnswer;
    server.AddEndpoint("/hangs", hangs);
    TFetcherOptions options;
    options.Fetch = {};
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
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"https://Example.ORG/a?b#c", "example.org:443"},
        {"http://example.org", "example.org:80"},
        {"HTTP://user:pw@example.org:8080/x", "example.org:8080"},
        {"http://[::1]/x", "[::1]:80"},
        {"http://[::1]:81/x", "[::1]:81"},
        {"ftp://example.org/", ""},
        {"mailto:someone@example.org", ""},
        {"/relative/path", ""},
        {"http:///nohost", ""},
    };
    for (const auto& [link, host] : cases) EXPECT_EQ(HostOf(link), host) << link;
}
