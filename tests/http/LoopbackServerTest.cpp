// The test server itself: other suites rely on its counting and on Stop()
// never hanging, whatever state a connection is in.
#include "HttpClient.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using testsupport::Fault;
using testsupport::LoopbackServer;
using testsupport::Request;
using testsupport::Response;

TEST(LoopbackServer, HandlerSeesEachRequestAndCountsByPath) {
    LoopbackServer server;
    int version = 0;
    server.AddHandler("/feed", [&](const Request& request) {
        Response response;
        response.body = "v" + std::to_string(++version) + " " + request.target;
        return response;
    });
    EXPECT_EQ(http::Get(server.Url("/feed")), "v1 /feed");
    EXPECT_EQ(http::Get(server.Url("/feed?page=2")), "v2 /feed?page=2");
    EXPECT_EQ(server.NumHits("/feed"), 2);

    try {
        http::Get(server.Url("/unknown"));
        FAIL();
    } catch (const http::HttpError& error) {
        EXPECT_EQ(error.StatusCode(), 404);
    }
    EXPECT_EQ(server.NumHits("/unknown"), 1);
    EXPECT_EQ(server.NumRequests(), 3);
    EXPECT_EQ(server.LastRequest().path, "/unknown");
}

TEST(LoopbackServer, StopReturnsPromptlyWithConnectionsInEveryState) {
    auto server = std::make_unique<LoopbackServer>();
    Response silent;
    silent.fault = Fault::NeverAnswer;
    server->AddEndpoint("/silent", silent);
    Response slow;
    slow.generatedBodySize = 1'000'000;
    slow.fault = Fault::SlowBody;
    slow.slowDelay = 10s;
    server->AddEndpoint("/slow", slow);

    http::THttpClient silentClient;
    http::THttpClient slowClient;
    auto a = std::async(std::launch::async, [&] {
        try {
            silentClient.Get(server->Url("/silent"));
        } catch (const http::HttpError&) {
        }
    });
    auto b = std::async(std::launch::async, [&] {
        try {
            slowClient.Get(server->Url("/slow"));
        } catch (const http::HttpError&) {
        }
    });
    while (server->NumRequests() < 2) std::this_thread::sleep_for(10ms);

    const auto start = std::chrono::steady_clock::now();
    server->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    // The clients see the connections close and finish on their own.
    EXPECT_EQ(a.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(b.wait_for(5s), std::future_status::ready);
    server.reset();
}

// Conditional endpoints stand in for real servers in the program's tests, so
// their idea of "still current" must be the standard one.
TEST(LoopbackServer, ValidatorsMatchAsAServerComparesThem) {
    const std::string etag = "\"v2\"";
    const std::string modified = "Tue, 08 Dec 2026 10:00:00 GMT";
    const struct {
        const char* name;
        testsupport::HeaderList headers;
        bool match;
    } cases[] = {
        {"no validators", {}, false},
        {"same tag", {{"If-None-Match", "\"v2\""}}, true},
        {"weak form of the tag", {{"If-None-Match", "W/\"v2\""}}, true},
        {"tag in a list", {{"If-None-Match", "\"v1\", \"v2\""}}, true},
        {"any tag", {{"If-None-Match", "*"}}, true},
        {"other tag", {{"If-None-Match", "\"v1\""}}, false},
        {"same date", {{"If-Modified-Since", modified}}, true},
        {"later date", {{"If-Modified-Since", "Wed, 09 Dec 2026 00:00:00 GMT"}}, true},
        {"earlier date", {{"If-Modified-Since", "Tue, 08 Dec 2026 09:59:59 GMT"}}, false},
        {"unreadable date", {{"If-Modified-Since", "yesterday"}}, false},
        {"other tag outweighs a current date", {{"If-None-Match", "\"v1\""}, {"If-Modified-Since", modified}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Request request;
        request.headers = c.headers;
        EXPECT_EQ(testsupport::ValidatorsMatch(request, etag, modified), c.match);
    }
}
