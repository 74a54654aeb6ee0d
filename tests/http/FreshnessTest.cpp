#include "HttpClient.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

using namespace std::chrono_literals;

namespace {

TEST(Freshness, CacheControlAndExpiresGiveTheEndOfFreshness) {
    // 1994-11-06 08:49:37 UTC, the example date of the HTTP standards.
    const auto now = std::chrono::system_clock::from_time_t(784111777);
    const struct {
        const char* cacheControl;
        const char* expires;
        const char* date;
        std::optional<std::chrono::seconds> fresh;  // from now
    } cases[] = {
        {"max-age=600", "", "", 600s},
        {"public, MAX-AGE=\"900\"", "", "", 900s},
        {"max-age=600", "Sun, 06 Nov 1994 10:49:37 GMT", "", 600s},  // max-age wins
        {"no-cache, max-age=600", "", "", std::nullopt},
        {"no-store", "Sun, 06 Nov 1994 10:49:37 GMT", "", std::nullopt},
        {"max-age=0", "", "", std::nullopt},
        {"max-age=99999999999999999999", "", "", 86400s},
        {"max-age=soon", "", "", std::nullopt},
        {"", "Sun, 06 Nov 1994 09:49:37 GMT", "", 3600s},
        // The server's clock runs an hour late: the lifetime is what counts.
        {"", "Sun, 06 Nov 1994 08:49:37 GMT", "Sun, 06 Nov 1994 07:49:37 GMT", 3600s},
        {"", "Sun, 06 Nov 1994 08:00:00 GMT", "", std::nullopt},  // past
        {"", "0", "", std::nullopt},
        {"", "Wed, 09 Nov 1994 08:49:37 GMT", "", 86400s},
        {"", "", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cacheControl) + " | " + c.expires + " | " + c.date);
        const auto until = http::ParseFreshUntil(c.cacheControl, c.expires, c.date, now);
        ASSERT_EQ(until.has_value(), c.fresh.has_value());
        if (until) {
            EXPECT_EQ(*until - now, *c.fresh);
        }
    }
}

TEST(Freshness, AFetchReportsItsAnswersFreshness) {
    testsupport::LoopbackServer server;
    server.AddEndpoint("/fresh", 200, {{"Cache-Control", "max-age=1800"}}, "<rss/>");
    server.AddEndpoint("/plain", 200, {}, "<rss/>");
    http::THttpClient client;
    const auto before = std::chrono::system_clock::now();
    const http::TFetchResult fresh = client.Fetch(server.Url("/fresh"));
    ASSERT_TRUE(fresh.FreshUntil);
    EXPECT_GE(*fresh.FreshUntil, before + 1800s);
    EXPECT_LE(*fresh.FreshUntil, std::chrono::system_clock::now() + 1800s);
    EXPECT_FALSE(client.Fetch(server.Url("/plain")).FreshUntil);
}

}  // namespace
