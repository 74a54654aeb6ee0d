// What a fetch does to spare the publisher and the user's link: compressed
// transfers, conditional requests and 304, and the Retry-After of a server
// that asks to be left alone for a while.
#include "HttpClient.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

using namespace std::chrono_literals;
using http::HttpError;
using http::TFetchResult;
using http::THttpClient;
using http::TValidators;
using testsupport::Encoding;
using testsupport::LoopbackServer;
using testsupport::Request;
using testsupport::Response;

namespace {

constexpr const char* kETag = "\"v1\"";
constexpr const char* kLastModified = "Tue, 08 Dec 2026 10:00:00 GMT";
const std::string kFeed =
    "<rss version=\"2.0\"><channel><title>T</title>" + std::string(2000, 'x') + "</channel></rss>";

HttpError FetchError(THttpClient& client, const std::string& url, const TValidators& validators = {}) {
    try {
        const TFetchResult result = client.Fetch(url, validators);
        ADD_FAILURE() << "fetch of " << url << " succeeded with " << result.Body.size() << " bytes";
    } catch (const HttpError& error) {
        return error;
    }
    return HttpError("");
}

bool HasToken(const std::string& list, const std::string& token) {
    return (", " + list + ",").find(" " + token + ",") != std::string::npos;
}

}  // namespace

TEST(PoliteFetch, CompressedAnswersArriveDecoded) {
    const struct {
        const char* name;
        Encoding encoding;
        bool chunked;
        std::uint64_t generated;
    } cases[] = {
        {"identity", Encoding::Identity, false, 0},
        {"gzip", Encoding::Gzip, false, 0},
        {"gzip chunked", Encoding::Gzip, true, 0},
        {"deflate", Encoding::Deflate, false, 0},
        {"deflate chunked", Encoding::Deflate, true, 0},
        {"gzip of a large generated body", Encoding::Gzip, false, 3'000'000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        Response response;
        response.encoding = c.encoding;
        response.chunked = c.chunked;
        response.chunkSize = 100;
        response.generatedBodySize = c.generated;
        if (c.generated == 0) response.body = kFeed;
        server.AddEndpoint("/feed", response);

        THttpClient client;
        const TFetchResult result = client.Fetch(server.Url("/feed"));
        if (c.generated == 0) {
            EXPECT_EQ(result.Body, kFeed);
            const std::string onWire = testsupport::Encode(kFeed, c.encoding);
            EXPECT_EQ(result.BytesReceived, onWire.size());
        } else {
            ASSERT_EQ(result.Body.size(), c.generated);
            EXPECT_EQ(result.Body[c.generated - 1], Response::GeneratedByte(c.generated - 1));
            EXPECT_LT(result.BytesReceived, c.generated / 50);
        }
        EXPECT_FALSE(result.NotModified);

        // Every request offers what libcurl decodes, whatever the answer was.
        const std::string offered = server.LastRequest().Header("Accept-Encoding");
        EXPECT_TRUE(HasToken(offered, "gzip")) << offered;
        EXPECT_TRUE(HasToken(offered, "deflate")) << offered;
    }
}

TEST(PoliteFetch, DecodedBodyIsHeldToTheCap) {
    const std::string tooLarge = "The response is too large: a feed may not exceed ";
    LoopbackServer server;
    // A bomb: well under a megabyte on the wire, 40 MiB once inflated.
    Response bomb;
    bomb.body = testsupport::GzipOfZeros(40u * 1024 * 1024);
    bomb.headers = {{"Content-Encoding", "gzip"}};
    ASSERT_LT(bomb.body.size(), 1024u * 1024);
    server.AddEndpoint("/bomb", bomb);
    Response bombChunked = bomb;
    bombChunked.chunked = true;
    bombChunked.chunkSize = 4096;
    server.AddEndpoint("/bomb-chunked", bombChunked);
    Response exact;
    exact.encoding = Encoding::Gzip;
    exact.generatedBodySize = 5000;
    server.AddEndpoint("/exact", exact);

    const struct {
        const char* path;
        std::size_t cap;
        std::string message;  // "" when the fetch succeeds
    } cases[] = {
        {"/bomb", http::kDefaultMaxBodySize, tooLarge + "32 MiB"},
        {"/bomb-chunked", http::kDefaultMaxBodySize, tooLarge + "32 MiB"},
        {"/exact", 5000, ""},
        {"/exact", 4999, tooLarge + "4999 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " cap " + std::to_string(c.cap));
        THttpClient client;
        client.SetMaxBodySize(c.cap);
        const auto start = std::chrono::steady_clock::now();
        if (c.message.empty()) {
            EXPECT_EQ(client.Get(server.Url(c.path)).size(), 5000u);
        } else {
            EXPECT_EQ(FetchError(client, server.Url(c.path)).what(), c.message);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    }
}

TEST(PoliteFetch, ValidatorsAreSentAsConditionalHeaders) {
    const struct {
        const char* name;
        TValidators validators;
        const char* ifNoneMatch;      // nullptr: header absent
        const char* ifModifiedSince;  // nullptr: header absent
    } cases[] = {
        {"none", {}, nullptr, nullptr},
        {"etag", {kETag, ""}, kETag, nullptr},
        {"weak etag", {"W/\"abc\"", ""}, "W/\"abc\"", nullptr},
        {"last modified", {"", kLastModified}, nullptr, kLastModified},
        {"both", {kETag, kLastModified}, kETag, kLastModified},
        // A stored value that would smuggle a header into the request is not sent.
        {"line break in etag", {"\"a\"\r\nX-Injected: 1", kLastModified}, nullptr, kLastModified},
        {"line break in date", {kETag, "Tue\nX-Injected: 1"}, kETag, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        server.AddEndpoint("/feed", 200, {}, "body");
        THttpClient client;
        EXPECT_EQ(client.Fetch(server.Url("/feed"), c.validators).Body, "body");

        const Request request = server.LastRequest();
        EXPECT_EQ(request.requestLine, "GET /feed HTTP/1.1");
        EXPECT_FALSE(request.HasHeader("X-Injected"));
        EXPECT_EQ(request.CountHeader("If-None-Match"), c.ifNoneMatch ? 1 : 0);
        EXPECT_EQ(request.CountHeader("If-Modified-Since"), c.ifModifiedSince ? 1 : 0);
        if (c.ifNoneMatch) {
            EXPECT_EQ(request.Header("If-None-Match"), c.ifNoneMatch);
        }
        if (c.ifModifiedSince) {
            EXPECT_EQ(request.Header("If-Modified-Since"), c.ifModifiedSince);
        }
        EXPECT_EQ(request.Header("Accept").rfind("application/rss+xml, application/atom+xml", 0), 0u);
    }
}

TEST(PoliteFetch, UnchangedFeedAnswersNotModified) {
    LoopbackServer server;
    Response feed;
    feed.body = kFeed;
    feed.encoding = Encoding::Gzip;
    server.AddConditionalEndpoint("/feed", feed, kETag, kLastModified);
    THttpClient client;

    // The first fetch learns the validators.
    const TFetchResult first = client.Fetch(server.Url("/feed"));
    EXPECT_EQ(first.Body, kFeed);
    EXPECT_FALSE(first.NotModified);
    EXPECT_EQ(first.Validators, (TValidators{kETag, kLastModified}));

    const struct {
        const char* name;
        TValidators sent;
        bool notModified;
    } cases[] = {
        {"both validators", first.Validators, true},
        {"etag alone", {kETag, ""}, true},
        {"date alone", {"", kLastModified}, true},
        {"a later date", {"", "Wed, 09 Dec 2026 10:00:00 GMT"}, true},
        {"an earlier date", {"", "Mon, 07 Dec 2026 10:00:00 GMT"}, false},
        {"an older etag", {"\"v0\"", ""}, false},
        // An entity tag that no longer matches outweighs a date that would.
        {"older etag with current date", {"\"v0\"", kLastModified}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int hitsBefore = server.NumHits("/feed");
        const TFetchResult result = client.Fetch(server.Url("/feed"), c.sent);
        EXPECT_EQ(result.NotModified, c.notModified);
        EXPECT_EQ(result.Body, c.notModified ? "" : kFeed);
        EXPECT_EQ(result.Validators, (TValidators{kETag, kLastModified}));
        if (c.notModified) {
            EXPECT_EQ(result.BytesReceived, 0u);
        }
        EXPECT_EQ(server.NumHits("/feed"), hitsBefore + 1);
    }
}

TEST(PoliteFetch, NotModifiedKeepsTheValidatorsItDoesNotRenew) {
    const TValidators current{kETag, kLastModified};
    const struct {
        const char* name;
        testsupport::HeaderList answer;  // the 304's own validators
        TValidators sent;
        TValidators kept;
    } cases[] = {
        {"bare 304", {}, current, current},
        {"304 renews the tag", {{"ETag", "\"v2\""}}, current, {"\"v2\"", kLastModified}},
        {"304 repeats both", {{"ETag", kETag}, {"Last-Modified", kLastModified}}, current, current},
        // What could not be sent is not handed back as if it had been confirmed.
        {"unsafe tag left behind", {}, {"\"a\"\r\n", kLastModified}, {"", kLastModified}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        server.AddEndpoint("/feed", 304, c.answer, "");
        THttpClient client;
        const TFetchResult result = client.Fetch(server.Url("/feed"), c.sent);
        EXPECT_TRUE(result.NotModified);
        EXPECT_EQ(result.Validators, c.kept);
        EXPECT_EQ(server.NumHits("/feed"), 1);
    }
}

TEST(PoliteFetch, NotModifiedToAPlainRequestAsksOnceMore) {
    LoopbackServer server;
    // A confused cache: 304 to every other plain request, the feed in between.
    server.AddHandler("/once", [&](const Request&) {
        Response response;
        if (server.NumHits("/once") % 2 == 1)
            response.statusLine = testsupport::StatusLine(304);
        else
            response.body = "feed";
        return response;
    });
    server.AddEndpoint("/always", 304, {{"ETag", kETag}}, "");

    const struct {
        const char* name;
        const char* path;
        TValidators validators;
        std::string message;  // "" when the second request succeeds
    } cases[] = {
        {"plain request, then the feed", "/once", {}, ""},
        {"validators that cannot be sent", "/once", {"\"a\"\r\n", "\n"}, ""},
        {"304 every time", "/always", {}, "HTTP/1.1 304 Not Modified"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int hitsBefore = server.NumHits(c.path);
        const int requestsBefore = server.NumRequests();
        THttpClient client;
        if (c.message.empty()) {
            const TFetchResult result = client.Fetch(server.Url(c.path), c.validators);
            EXPECT_EQ(result.Body, "feed");
            EXPECT_FALSE(result.NotModified);
        } else {
            const HttpError error = FetchError(client, server.Url(c.path), c.validators);
            EXPECT_EQ(error.what(), c.message);
            EXPECT_EQ(error.StatusCode(), 304);
        }
        // Exactly one more request, and neither of them conditional.
        EXPECT_EQ(server.NumHits(c.path), hitsBefore + 2);
        const auto requests = server.Requests();
        for (std::size_t i = static_cast<std::size_t>(requestsBefore); i < requests.size(); ++i) {
            EXPECT_FALSE(requests[i].HasHeader("If-None-Match"));
            EXPECT_FALSE(requests[i].HasHeader("If-Modified-Since"));
        }
    }
}

TEST(PoliteFetch, RetryAfterIsReadInEveryFormAndCapped) {
    // 1994-11-06 08:49:37 UTC, the example date of the HTTP standards.
    const auto example = std::chrono::system_clock::from_time_t(784111777);
    const auto now = example - 60s;
    const struct {
        const char* value;
        std::optional<std::chrono::seconds> after;  // from now; nullopt: unreadable
    } cases[] = {
        {"120", 120s},
        {" 0 ", 0s},
        {"86400", 86400s},
        {"86401", 86400s},
        {"99999999999999999999999999", 86400s},
        {"Sun, 06 Nov 1994 08:49:37 GMT", 60s},   // IMF-fixdate
        {"Sunday, 06-Nov-94 08:49:37 GMT", 60s},  // RFC 850
        {"Sun Nov  6 08:49:37 1994", 60s},        // asctime
        {"Sun, 06 Nov 1994 08:47:37 GMT", 0s},    // already past: at once
        {"Wed, 09 Nov 1994 08:49:37 GMT", 86400s},
        {"", std::nullopt},
        {"soon", std::nullopt},
        {"-5", std::nullopt},
        {"1.5", std::nullopt},
        {"12 seconds", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.value + "\"");
        const auto at = http::ParseRetryAfter(c.value, now);
        ASSERT_EQ(at.has_value(), c.after.has_value());
        if (at) {
            EXPECT_EQ(*at - now, *c.after);
        }
    }
}

TEST(PoliteFetch, BusyServersSayWhenToComeBack) {
    const struct {
        const char* name;
        int status;
        std::string retryAfter;  // "" sends none
        std::optional<std::chrono::seconds> after;
    } cases[] = {
        {"429 in seconds", 429, "120", 120s},
        {"503 in seconds", 503, "30", 30s},
        {"503 far away", 503, "1000000", 86400s},
        {"429 without a time", 429, "", std::nullopt},
        {"503 with nonsense", 503, "later", std::nullopt},
        {"500 is not a request to wait", 500, "120", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        testsupport::HeaderList headers;
        if (!c.retryAfter.empty()) headers.emplace_back("Retry-After", c.retryAfter);
        server.AddEndpoint("/feed", c.status, headers, "busy");
        THttpClient client;
        const auto before = std::chrono::system_clock::now();
        const HttpError error = FetchError(client, server.Url("/feed"));
        const auto after = std::chrono::system_clock::now();
        EXPECT_EQ(error.what(), testsupport::StatusLine(c.status));
        EXPECT_EQ(error.StatusCode(), c.status);
        ASSERT_EQ(error.RetryAfter().has_value(), c.after.has_value());
        if (c.after) {
            EXPECT_GE(*error.RetryAfter(), before + *c.after);
            EXPECT_LE(*error.RetryAfter(), after + *c.after);
        }
    }
}
