// A fetch always ends: the overall deadline and the minimum rate catch the
// servers that the stall time-out cannot (they keep sending, just too little
// or for ever), while slow but honest servers still get through.
#include "HttpClient.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using http::HttpError;
using http::THttpClient;
using testsupport::Fault;
using testsupport::LoopbackServer;
using testsupport::Response;

namespace {

struct Limits {
    std::chrono::milliseconds deadline = http::kDefaultDeadline;
    std::size_t minimumRate = http::kDefaultMinimumRate;
    std::chrono::milliseconds rateWindow = http::kDefaultRateWindow;
    std::chrono::milliseconds stall = http::kDefaultStallTimeout;
};

struct Case {
    const char* name;
    Response response;
    Limits limits;
    std::string message;  // "" when the fetch must succeed
    std::chrono::milliseconds atLeast;
    std::chrono::milliseconds atMost;
};

Response Endless(std::size_t pieceSize, std::chrono::milliseconds delay) {
    Response response;
    response.fault = Fault::EndlessBody;
    response.slowChunkSize = pieceSize;
    response.slowDelay = delay;
    return response;
}

Response Trickle(std::string body, std::size_t pieceSize, std::chrono::milliseconds delay) {
    Response response;
    response.body = std::move(body);
    response.fault = Fault::SlowBody;
    response.slowChunkSize = pieceSize;
    response.slowDelay = delay;
    return response;
}

Response Silent() {
    Response response;
    response.fault = Fault::NeverAnswer;
    return response;
}

Response Thinking(std::chrono::milliseconds delay) {
    Response response;
    response.body = std::string(500, 'f');
    response.headDelay = delay;
    return response;
}

void FetchAndCheck(const Case& c) {
    SCOPED_TRACE(c.name);
    LoopbackServer server;
    server.AddEndpoint("/feed", c.response);
    THttpClient client;
    client.SetDeadline(c.limits.deadline);
    client.SetMinimumRate(c.limits.minimumRate, c.limits.rateWindow);
    client.SetStallTimeout(c.limits.stall);
    client.SetMaxBodySize(1u << 30);  // the limits under test must act, not the cap

    const auto start = std::chrono::steady_clock::now();
    std::string outcome;
    try {
        outcome = "body of " + std::to_string(client.Get(server.Url("/feed")).size()) + " bytes";
    } catch (const HttpError& error) {
        outcome = error.what();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (c.message.empty())
        EXPECT_EQ(outcome.rfind("body of ", 0), 0u) << outcome;
    else
        EXPECT_EQ(outcome, c.message);
    EXPECT_GE(elapsed, c.atLeast);
    EXPECT_LT(elapsed, c.atMost);
}

}  // namespace

TEST(FetchLimits, DeadlineEndsAFetchThatNeverFinishes) {
    const Case cases[] = {
        {"endless body at a healthy pace",
         Endless(1000, 10ms),
         {.deadline = 800ms},
         "Download took longer than 800 ms",
         800ms,
         2000ms},
        {"silent server, stall clock far off",
         Silent(),
         {.deadline = 500ms},
         "Download took longer than 500 ms",
         500ms,
         1500ms},
        {"a server that thinks, within the deadline", Thinking(300ms), {.deadline = 1500ms}, "", 300ms, 1400ms},
    };
    for (const auto& c : cases) FetchAndCheck(c);
}

TEST(FetchLimits, MinimumRateEndsATrickleButNotASlowLink) {
    const Case cases[] = {
        // Never quiet long enough for the stall clock, far too slow to finish.
        {"a byte every 100 ms",
         Trickle(std::string(200, 't'), 1, 100ms),
         {.minimumRate = 64, .rateWindow = 500ms, .stall = 400ms},
         "Download slower than 64 bytes per second",
         500ms,
         1800ms},
        {"endless trickle",
         Endless(2, 50ms),
         {.deadline = 5000ms, .minimumRate = 100, .rateWindow = 400ms},
         "Download slower than 100 bytes per second",
         400ms,
         1500ms},
        // 2 KB/s for a second: slow, but a real link.
        {"slow link",
         Trickle(std::string(2000, 's'), 100, 50ms),
         {.minimumRate = 64, .rateWindow = 300ms},
         "",
         900ms,
         2500ms},
        // The rate is judged from the first byte: waiting for the answer is the
        // connect and stall time-outs' business, not the rate's.
        {"server thinks longer than the window",
         Thinking(900ms),
         {.minimumRate = 64, .rateWindow = 300ms},
         "",
         900ms,
         2000ms},
        {"rate check switched off",
         Trickle(std::string(8, 't'), 1, 100ms),
         {.minimumRate = 0, .rateWindow = 100ms},
         "",
         700ms,
         2000ms},
    };
    for (const auto& c : cases) FetchAndCheck(c);
}

TEST(FetchLimits, CancelEndsAnEndlessBodyWithinASecond) {
    LoopbackServer server;
    server.AddEndpoint("/endless", Endless(100, 20ms));
    THttpClient client;  // default limits: nothing else would end it soon
    client.SetMaxBodySize(1u << 30);
    auto fetch = std::async(std::launch::async, [&]() -> std::string {
        try {
            client.Get(server.Url("/endless"));
        } catch (const HttpError& error) {
            return error.what();
        }
        return "finished";
    });
    std::this_thread::sleep_for(400ms);
    ASSERT_EQ(fetch.wait_for(0ms), std::future_status::timeout);
    const auto cancelledAt = std::chrono::steady_clock::now();
    client.Cancel();
    ASSERT_EQ(fetch.wait_for(1s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, 1s);
    EXPECT_EQ(fetch.get(), "Download cancelled");
}
