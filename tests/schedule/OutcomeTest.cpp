// What fetches against a loopback server come to: moves, removals,
// refusals, bot-protection pages and web pages where a feed was.
#include "FeedHealth.h"
#include "FixtureFile.h"
#include "LoopbackServer.h"
#include "Outcome.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using schedule::TAttention;
using schedule::TOutcomeKind;
using testsupport::LoopbackServer;

namespace {

std::string Fixture(const std::string& name) {
    return testsupport::ReadFixtureFile(std::string(HEALTH_TEST_DATA) + "/" + name);
}

const schedule::TTimePoint kStart = schedule::TClock::from_time_t(1'800'000'000);

// One update as the update cycle makes it: fetch, "parse", classify.
schedule::TFetchOutcome Update(const std::string& url, bool follow, schedule::TTimePoint at = kStart) {
    http::THttpClient client({.followRedirects = follow});
    schedule::TFetchFacts facts;
    try {
        const http::TFetchResult result = client.Fetch(url);
        facts = schedule::FactsFromResult(url, follow, result);
        facts.IsFeed = result.Body.find("<rss") != std::string::npos;
    } catch (const http::HttpError& error) {
        facts = schedule::FactsFromError(url, follow, error);
    }
    return schedule::Classify(facts, at);
}

class OutcomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string html = Fixture("blog_page.html");
        server.AddEndpoint("/feed", 200, {{"Content-Type", "application/rss+xml"}}, Fixture("feed.xml"));
        server.AddEndpoint("/new/feed", 200, {{"Content-Type", "application/rss+xml"}}, Fixture("feed.xml"));
        server.AddEndpoint("/moved", 301, {{"Location", "/new/feed"}}, "");
        server.AddEndpoint("/moved308", 308, {{"Location", server.Url("/new/feed")}}, "");
        server.AddEndpoint("/to-home", 301, {{"Location", "/"}}, "");
        server.AddEndpoint("/", 200, {{"Content-Type", "text/html"}}, html);
        server.AddEndpoint("/to-page", 301, {{"Location", "/blog"}}, "");
        server.AddEndpoint("/blog", 200, {{"Content-Type", "text/html; charset=utf-8"}}, html);
        server.AddEndpoint("/for-now", 302, {{"Location", "/new/feed"}}, "");
        server.AddEndpoint("/gone", 410, {}, "gone");
        server.AddEndpoint("/missing", 404, {{"Content-Type", "text/html"}}, "<html>not here</html>");
        server.AddEndpoint("/cloudflare", 403, {{"Content-Type", "text/html"}}, Fixture("cloudflare_challenge.html"));
        server.AddEndpoint("/ddos-guard", 503, {{"Content-Type", "text/html"}}, Fixture("ddos_guard.html"));
        server.AddEndpoint("/akamai", 403, {{"Content-Type", "text/html"}}, Fixture("akamai_denied.html"));
        server.AddEndpoint("/forbidden", 403, {{"Content-Type", "text/html"}}, Fixture("plain_forbidden.html"));
        server.AddEndpoint("/login", 401, {}, "");
        server.AddEndpoint("/busy", 503, {{"Retry-After", "120"}}, "");
        server.AddEndpoint("/broken", 500, {}, "");
        server.AddEndpoint("/untyped-page", 200, {}, html);
        server.AddEndpoint("/garbage", 200, {{"Content-Type", "application/xml"}},
                           "<?xml version=\"1.0\"?><feed><title>cut");
    }
    LoopbackServer server;
};

TEST_F(OutcomeTest, EachAnswerComesToItsKind) {
    const struct {
        const char* path;
        bool follow;
        TOutcomeKind kind;
        const char* movedTo;  // path on the server, "" for none
    } cases[] = {
        {"/feed", false, TOutcomeKind::Updated, ""},
        {"/moved", false, TOutcomeKind::Moved, "/new/feed"},
        {"/moved308", false, TOutcomeKind::Moved, "/new/feed"},
        {"/moved", true, TOutcomeKind::Updated, "/new/feed"},
        {"/moved308", true, TOutcomeKind::Updated, "/new/feed"},
        {"/for-now", true, TOutcomeKind::Updated, ""},
        {"/for-now", false, TOutcomeKind::OtherFailure, ""},
        {"/to-home", false, TOutcomeKind::OtherFailure, ""},
        {"/to-home", true, TOutcomeKind::NotAFeed, ""},
        {"/to-page", true, TOutcomeKind::NotAFeed, ""},
        {"/gone", false, TOutcomeKind::Gone, ""},
        {"/missing", false, TOutcomeKind::NotFound, ""},
        {"/cloudflare", false, TOutcomeKind::BotProtection, ""},
        {"/ddos-guard", false, TOutcomeKind::BotProtection, ""},
        {"/akamai", false, TOutcomeKind::BotProtection, ""},
        {"/forbidden", false, TOutcomeKind::Refused, ""},
        {"/login", false, TOutcomeKind::Refused, ""},
        {"/busy", false, TOutcomeKind::RateLimited, ""},
        {"/broken", false, TOutcomeKind::ServerError, ""},
        {"/blog", false, TOutcomeKind::NotAFeed, ""},
        {"/untyped-page", false, TOutcomeKind::NotAFeed, ""},
        {"/garbage", false, TOutcomeKind::OtherFailure, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.follow ? " followed" : ""));
        const schedule::TFetchOutcome outcome = Update(server.Url(c.path), c.follow);
        EXPECT_EQ(schedule::KindName(outcome.Kind), schedule::KindName(c.kind)) << outcome.ServerStatus;
        EXPECT_EQ(outcome.MovedTo, *c.movedTo ? server.Url(c.movedTo) : "");
        EXPECT_EQ(outcome.At, kStart);
    }
}

TEST_F(OutcomeTest, NetworkFailuresKeepTheLibrarysWords) {
    const schedule::TFetchOutcome refused = Update("http://127.0.0.1:1/feed", false);
    EXPECT_EQ(refused.Kind, TOutcomeKind::Unreachable);
    EXPECT_EQ(refused.Status, 0);
    EXPECT_NE(refused.ServerStatus.find("127.0.0.1"), std::string::npos) << refused.ServerStatus;
    const schedule::TFetchOutcome gone = Update(server.Url("/gone"), false);
    EXPECT_EQ(gone.ServerStatus, "HTTP/1.1 410 Gone");
}

// The server's answers change from update to update; a move is taken only
// after three updates in a row point to the same address.
TEST_F(OutcomeTest, AMoveNeedsThreeUpdatesInARowToTheSameAddress) {
    int step = 0;
    std::vector<std::string> script;
    server.AddHandler("/changing", [&](const testsupport::Request&) {
        const std::string& target = script[static_cast<std::size_t>(step)];
        testsupport::Response response;
        if (target.empty()) {
            response.body = Fixture("feed.xml");
            return response;
        }
        response.statusLine = testsupport::StatusLine(target[0] == 'T' ? 302 : target[0] == 'E' ? 308 : 301);
        response.headers = {{"Location", target.substr(1)}};
        return response;
    });
    const struct {
        const char* name;
        bool follow;
        std::vector<std::string> script;  // "P<path>" 301, "E<path>" 308, "T<path>" 302, "" the feed
        TAttention after;
        const char* confirmed;
    } cases[] = {
        {"three 301", false, {"P/new/feed", "P/new/feed", "P/new/feed"}, TAttention::Moved, "/new/feed"},
        {"three 308 followed", true, {"E/new/feed", "E/new/feed", "E/new/feed"}, TAttention::Moved, "/new/feed"},
        {"two are not enough", true, {"P/new/feed", "P/new/feed"}, TAttention::None, ""},
        {"moved back resets", true, {"P/new/feed", "P/new/feed", "", "P/new/feed"}, TAttention::None, ""},
        {"another address resets", false, {"P/new/feed", "P/feed", "P/new/feed"}, TAttention::None, ""},
        {"temporary never moves", true, {"T/new/feed", "T/new/feed", "T/new/feed", "T/new/feed"}, TAttention::None, ""},
        {"a home page is no move", true, {"P/", "P/", "P/"}, TAttention::NotAFeed, ""},
        {"a page is no move", true, {"P/blog", "P/blog", "P/blog"}, TAttention::NotAFeed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        script = c.script;
        schedule::TFeedHealth health;
        for (step = 0; step < static_cast<int>(script.size()); ++step)
            health.Record(Update(server.Url("/changing"), c.follow, kStart + std::chrono::hours(step)));
        EXPECT_EQ(health.Attention(kStart + std::chrono::hours(step)), c.after);
        EXPECT_EQ(health.ConfirmedMove(), *c.confirmed ? server.Url(c.confirmed) : "");
    }
}

TEST(BotProtection, OnlyRefusalsWithAChallengeInTheirHeadCount) {
    const std::string challenge = Fixture("cloudflare_challenge.html");
    const struct {
        int status;
        std::string body;
        bool expected;
    } cases[] = {
        {403, challenge, true},
        {503, challenge, true},
        {200, challenge, false},  // a page that merely talks about it
        {403, Fixture("plain_forbidden.html"), false},
        {403, "<html><body><div class=\"g-recaptcha\"></div></body></html>", true},
        // The marker must be in the head that is looked at.
        {403, std::string(8000, ' ') + challenge, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(schedule::IsBotProtectionPage(c.status, c.body), c.expected) << c.status << c.body.substr(0, 40);
}

}  // namespace
