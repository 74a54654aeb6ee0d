#include "HttpClient.h"
#include "LoopbackServer.h"
#include "TempFolder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using http::FetchOptions;
using http::HttpError;
using http::THttpClient;
using testsupport::Fault;
using testsupport::LoopbackServer;
using testsupport::Response;

namespace {

// Runs the fetch and returns the error it raised; fails the test if it succeeded.
HttpError FetchError(THttpClient& client, const std::string& url) {
    try {
        const std::string body = client.Get(url);
        ADD_FAILURE() << "fetch of " << url << " succeeded with " << body.size() << " bytes";
    } catch (const HttpError& error) {
        return error;
    }
    return HttpError("");
}

HttpError FetchError(const std::string& url, FetchOptions options = {}) {
    THttpClient client(options);
    return FetchError(client, url);
}

std::string AllBytesExceptNul() {
    std::string bytes;
    for (int round = 0; round < 3; ++round)
        for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
    return bytes;
}

}  // namespace

TEST(HttpClient, BodyArrivesByteForByteWithContentLengthOrChunked) {
    const struct {
        const char* name;
        std::string body;
    } cases[] = {
        {"ascii feed", "<rss version=\"2.0\"><channel><title>T</title></channel></rss>"},
        {"latin-1 and utf-8 bytes", "caf\xe9 \xc3\xa9t\xc3\xa9 \xe2\x82\xac \xff\xfe"},
        {"binary without NUL", AllBytesExceptNul()},
        {"CRLF inside the body", "line one\r\nline two\r\n\r\n0\r\n"},
        {"empty", ""},
        {"larger than one read", std::string(300'000, 'q') + "end"},
    };
    LoopbackServer server;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Response plain;
        plain.body = c.body;
        Response chunked = plain;
        chunked.chunked = true;
        chunked.chunkSize = 7;
        server.AddEndpoint("/plain", plain);
        server.AddEndpoint("/chunked", chunked);

        EXPECT_EQ(http::Get(server.Url("/plain")), c.body);
        EXPECT_EQ(http::Get(server.Url("/chunked")), c.body);
    }
}

TEST(HttpClient, NoContentGivesEmptyText) {
    LoopbackServer server;
    server.AddEndpoint("/empty", 204, {}, "");
    EXPECT_EQ(http::Get(server.Url("/empty")), "");
    server.AddEndpoint("/created", 201, {}, "made");
    EXPECT_EQ(http::Get(server.Url("/created")), "made");
}

TEST(HttpClient, StatusOutside2xxFailsWithTheStatusLineAsSent) {
    const struct {
        std::string statusLine;
        int code;
    } cases[] = {
        {"HTTP/1.1 404 Not Found", 404},
        {"HTTP/1.1 401 Unauthorized", 401},
        {"HTTP/1.1 407 Proxy Authentication Required", 407},
        {"HTTP/1.1 500 Internal Server Error", 500},
        {"HTTP/1.1 302 Found", 302},
        {"HTTP/1.1 303 See Other", 303},
        {"HTTP/1.1 304 Not Modified", 304},
        {"HTTP/1.1 404 Nothing To See Here", 404},
        {"HTTP/1.0 503 Service Unavailable", 503},
    };
    LoopbackServer server;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statusLine);
        testsupport::HeaderList headers;
        if (c.code == 401) headers.emplace_back("WWW-Authenticate", "Basic realm=\"feeds\"");
        if (c.code == 407) headers.emplace_back("Proxy-Authenticate", "Basic realm=\"proxy\"");
        server.AddEndpoint("/status", c.statusLine, headers, "<html>error page</html>");

        const HttpError error = FetchError(server.Url("/status"));
        EXPECT_STREQ(error.what(), c.statusLine.c_str());
        EXPECT_EQ(error.StatusCode(), c.code);
    }
}

TEST(HttpClient, RedirectIsNotFollowedByDefault) {
    LoopbackServer server;
    server.AddEndpoint("/new", 200, {}, "moved here");
    server.AddEndpoint("/old", "HTTP/1.1 301 Moved Permanently", {{"Location", server.Url("/new")}},
                       "<a href=\"/new\">moved</a>");

    const HttpError error = FetchError(server.Url("/old"));
    EXPECT_STREQ(error.what(), "HTTP/1.1 301 Moved Permanently");
    EXPECT_EQ(error.StatusCode(), 301);
    EXPECT_EQ(server.NumHits("/old"), 1);
    EXPECT_EQ(server.NumHits("/new"), 0);
    EXPECT_EQ(server.NumRequests(), 1);
}

TEST(HttpClient, RedirectsAreFollowedWhenSwitchedOnCarryingCookies) {
    LoopbackServer server;
    server.AddEndpoint("/old", "HTTP/1.1 301 Moved Permanently",
                       {{"Location", "/middle"}, {"Set-Cookie", "session=abc; Path=/"}}, "");
    server.AddEndpoint("/middle", 302, {{"Location", server.Url("/new")}}, "");
    server.AddHandler("/new", [](const testsupport::Request& request) {
        Response response;
        response.body = "cookie was [" + request.Header("Cookie") + "]";
        return response;
    });

    EXPECT_EQ(http::Get(server.Url("/old"), {.followRedirects = true}), "cookie was [session=abc]");
    EXPECT_EQ(server.NumHits("/old"), 1);
    EXPECT_EQ(server.NumHits("/middle"), 1);
    EXPECT_EQ(server.NumHits("/new"), 1);
}

TEST(HttpClient, RedirectLoopStopsAtTheMaximum) {
    LoopbackServer server;
    server.AddEndpoint("/loop", 302, {{"Location", "/loop"}}, "");
    const HttpError error = FetchError(server.Url("/loop"), {.followRedirects = true});
    EXPECT_EQ(error.StatusCode(), 0);
    EXPECT_NE(std::string(error.what()).find("15"), std::string::npos) << error.what();
    EXPECT_EQ(server.NumHits("/loop"), http::kMaxRedirects + 1);
}

TEST(HttpClient, RequestCarriesExactlyItsHeaders) {
    LoopbackServer server;
    server.AddEndpoint("/path/feed.xml", 200, {}, "ok");
    ASSERT_EQ(http::Get(server.Url("/path/feed.xml?id=7&x=%20")), "ok");

    const testsupport::Request request = server.LastRequest();
    EXPECT_EQ(request.requestLine, "GET /path/feed.xml?id=7&x=%20 HTTP/1.1");
    EXPECT_EQ(request.CountHeader("Host"), 1);
    EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(request.CountHeader("Accept"), 1);
    EXPECT_EQ(request.Header("Accept").rfind("application/rss+xml, application/atom+xml", 0), 0u);
    EXPECT_EQ(request.CountHeader("User-Agent"), 1);
    EXPECT_EQ(request.Header("User-Agent").rfind("Quillet", 0), 0u);
    EXPECT_FALSE(request.HasHeader("Cookie"));
    // Compression is offered (and undone before the caller sees the body).
    EXPECT_EQ(request.CountHeader("Accept-Encoding"), 1);
    EXPECT_NE(request.Header("Accept-Encoding").find("gzip"), std::string::npos);
    EXPECT_FALSE(request.HasHeader("If-None-Match"));
    EXPECT_FALSE(request.HasHeader("If-Modified-Since"));
    EXPECT_FALSE(request.HasHeader("Proxy-Connection"));
}

TEST(HttpClient, CookiesDoNotSurviveTheFetch) {
    LoopbackServer server;
    server.AddEndpoint("/feed", 200, {{"Set-Cookie", "tracker=1; Path=/; Max-Age=3600"}}, "feed");

    THttpClient client;
    EXPECT_EQ(client.Get(server.Url("/feed")), "feed");
    EXPECT_EQ(client.Get(server.Url("/feed")), "feed");  // same client object
    EXPECT_EQ(http::Get(server.Url("/feed")), "feed");   // a new one
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& request : requests) EXPECT_FALSE(request.HasHeader("Cookie"));
    EXPECT_EQ(server.NumConnections(), 3);  // and no connection was reused
}

TEST(HttpClient, NetworkFailuresCarryTheNetworkMessage) {
    const HttpError refused =
        FetchError("http://127.0.0.1:" + std::to_string(testsupport::UnusedLoopbackPort()) + "/feed");
    EXPECT_EQ(refused.StatusCode(), 0);
    EXPECT_NE(std::string(refused.what()).find("Couldn't connect to server"), std::string::npos) << refused.what();

    LoopbackServer server;
    Response cut;
    cut.body = std::string(1000, 'x');
    cut.fault = Fault::CloseMidBody;
    server.AddEndpoint("/cut", cut);
    const HttpError truncated = FetchError(server.Url("/cut"));
    EXPECT_EQ(truncated.StatusCode(), 0);
    EXPECT_NE(std::string(truncated.what()).find("500 bytes remaining"), std::string::npos) << truncated.what();

    Response garbage;
    garbage.raw = "this is not HTTP at all\r\n\r\n";
    server.AddEndpoint("/garbage", garbage);
    EXPECT_EQ(FetchError(server.Url("/garbage")).StatusCode(), 0);
}

TEST(HttpClient, ConnectTimeOutEndsAnUnansweredConnect) {
    // A listening socket whose accept queue is full drops further SYNs, so the
    // next connect hangs exactly like one to a dead host.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }

    THttpClient client;
    client.SetConnectTimeout(300ms);
    const auto start = std::chrono::steady_clock::now();
    const HttpError error = FetchError(client, "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/feed");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(error.StatusCode(), 0);
    // libcurl words it "... Timeout was reached" or "Connection timeout after
    // 300 ms", depending on the moment the timer fires.
    const std::string message = error.what();
    EXPECT_TRUE(message.find("Timeout was reached") != std::string::npos ||
                message.find("Connection timeout") != std::string::npos)
        << message;

    for (const int fd : fillers) close(fd);
    close(listener);
}

TEST(HttpClient, HttpsIsRefusedBeforeConnectingWhileSecureFeedsAreOff) {
    LoopbackServer server;
    server.AddEndpoint("/feed", 200, {}, "plain");
    const std::string hostPart = "://127.0.0.1:" + std::to_string(server.Port()) + "/feed";
    for (const std::string scheme : {"https", "HTTPS", "hTTpS"}) {
        const HttpError error = FetchError(scheme + hostPart);
        EXPECT_STREQ(error.what(), "IOHandler value is not valid");
        EXPECT_EQ(error.StatusCode(), 0);
    }
    EXPECT_EQ(server.NumConnections(), 0);
}

TEST(HttpClient, SecureFeedsLeavePlainHttpAsItWas) {
    LoopbackServer server;
    server.AddEndpoint("/feed", 200, {}, "plain");
    EXPECT_EQ(http::Get(server.Url("/feed"), {.secureFeeds = true}), "plain");
    EXPECT_EQ(server.LastRequestLine(), "GET /feed HTTP/1.1");
}

TEST(HttpClient, RedirectToHttpsIsRefusedWhileSecureFeedsAreOff) {
    LoopbackServer server;
    server.AddEndpoint("/old", 301, {{"Location", "https://127.0.0.1:1/feed"}}, "");
    const HttpError error = FetchError(server.Url("/old"), {.followRedirects = true});
    EXPECT_STREQ(error.what(), "IOHandler value is not valid");
}

TEST(HttpClient, OtherSchemesAreRefused) {
    for (const std::string url : {"file:///etc/hostname", "ftp://127.0.0.1/feed", "gopher://127.0.0.1/"}) {
        for (const bool secure : {false, true}) {
            const HttpError error = FetchError(url, {.secureFeeds = secure});
            EXPECT_EQ(error.StatusCode(), 0);
            EXPECT_NE(std::string(error.what()).find("not supported"), std::string::npos) << error.what();
        }
    }
}

TEST(HttpClient, CancelAbortsASilentServerWithinASecond) {
    LoopbackServer server;
    Response silent;
    silent.fault = Fault::NeverAnswer;
    server.AddEndpoint("/silent", silent);

    THttpClient client;
    auto fetch = std::async(std::launch::async, [&] { return FetchError(client, server.Url("/silent")); });
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(fetch.wait_for(0ms), std::future_status::timeout) << "the fetch did not wait";

    const auto cancelledAt = std::chrono::steady_clock::now();
    client.Cancel();
    ASSERT_EQ(fetch.wait_for(1s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, 1s);
    const HttpError error = fetch.get();
    EXPECT_STREQ(error.what(), "Download cancelled");
    EXPECT_TRUE(client.Cancelled());

    // A cancelled client stays cancelled: a shutdown racing a new fetch wins.
    EXPECT_STREQ(FetchError(client, server.Url("/silent")).what(), "Download cancelled");
}

TEST(HttpClient, ASharedTokenCancelsEveryFetchInFlight) {
    LoopbackServer server;
    Response silent;
    silent.fault = Fault::NeverAnswer;
    server.AddEndpoint("/silent", silent);

    auto token = std::make_shared<http::TCancelToken>();
    THttpClient first({}, token);
    THttpClient second({}, token);
    auto a = std::async(std::launch::async, [&] { return FetchError(first, server.Url("/silent")); });
    auto b = std::async(std::launch::async, [&] { return FetchError(second, server.Url("/silent")); });
    while (server.NumRequests() < 2) std::this_thread::sleep_for(10ms);

    token->Cancel();
    ASSERT_EQ(a.wait_for(1s), std::future_status::ready);
    ASSERT_EQ(b.wait_for(1s), std::future_status::ready);
    EXPECT_STREQ(a.get().what(), "Download cancelled");
    EXPECT_STREQ(b.get().what(), "Download cancelled");
    THttpClient later({}, token);
    EXPECT_STREQ(FetchError(later, server.Url("/silent")).what(), "Download cancelled");
    EXPECT_EQ(server.NumConnections(), 2);
}

TEST(HttpClient, CancelAbortsASlowBody) {
    LoopbackServer server;
    Response slow;
    slow.body = std::string(10'000, 's');
    slow.fault = Fault::SlowBody;
    slow.slowDelay = 50ms;
    server.AddEndpoint("/slow", slow);

    THttpClient client;
    auto fetch = std::async(std::launch::async, [&] { return FetchError(client, server.Url("/slow")); });
    std::this_thread::sleep_for(300ms);
    client.Cancel();
    ASSERT_EQ(fetch.wait_for(1s), std::future_status::ready);
    EXPECT_STREQ(fetch.get().what(), "Download cancelled");
}

TEST(HttpClient, StallTimeOutEndsASilentServer) {
    LoopbackServer server;
    Response silent;
    silent.fault = Fault::NeverAnswer;
    server.AddEndpoint("/silent", silent);

    THttpClient client;
    client.SetStallTimeout(400ms);
    const auto start = std::chrono::steady_clock::now();
    const HttpError error = FetchError(client, server.Url("/silent"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_STREQ(error.what(), "Timed out: no data received from the server for 400 ms");
    EXPECT_GE(elapsed, 400ms);
    EXPECT_LT(elapsed, 2s);
}

TEST(HttpClient, ATrickleIsNotAStall) {
    LoopbackServer server;
    Response slow;
    slow.body = "0123456789";
    slow.fault = Fault::SlowBody;
    slow.slowChunkSize = 2;
    slow.slowDelay = 150ms;
    server.AddEndpoint("/slow", slow);

    THttpClient client;
    client.SetStallTimeout(500ms);  // shorter than the whole body, longer than each pause
    EXPECT_EQ(client.Get(server.Url("/slow")), "0123456789");
}

TEST(HttpClient, BodyOverTheCapFails) {
    const std::string message = "The response is too large: a feed may not exceed 32 MiB";
    LoopbackServer server;

    Response huge;  // 50 MB announced by Content-Length
    huge.generatedBodySize = 50'000'000;
    server.AddEndpoint("/huge", huge);
    EXPECT_STREQ(FetchError(server.Url("/huge")).what(), message.c_str());

    Response hugeChunked = huge;  // no length announced: the cap must hold while reading
    hugeChunked.chunked = true;
    hugeChunked.chunkSize = 64 * 1024;
    server.AddEndpoint("/huge-chunked", hugeChunked);
    EXPECT_STREQ(FetchError(server.Url("/huge-chunked")).what(), message.c_str());

    Response exact;
    exact.generatedBodySize = 1000;
    exact.chunked = true;
    server.AddEndpoint("/exact", exact);
    THttpClient client;
    client.SetMaxBodySize(1000);
    const std::string body = client.Get(server.Url("/exact"));
    ASSERT_EQ(body.size(), 1000u);
    EXPECT_EQ(body[999], Response::GeneratedByte(999));
    client.SetMaxBodySize(999);
    EXPECT_STREQ(FetchError(client, server.Url("/exact")).what(),
                 "The response is too large: a feed may not exceed 999 bytes");
}

TEST(HttpClient, AHugeErrorPageStillReportsTheStatusLine) {
    LoopbackServer server;
    Response notFound;
    notFound.statusLine = "HTTP/1.1 404 Not Found";
    notFound.generatedBodySize = 50'000'000;
    server.AddEndpoint("/gone", notFound);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_STREQ(FetchError(server.Url("/gone")).what(), "HTTP/1.1 404 Not Found");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);  // the page was not read in full
}

TEST(HttpClient, HttpsUrlRecognisedInAnyCase) {
    EXPECT_TRUE(http::IsHttpsUrl("https://example.org/"));
    EXPECT_TRUE(http::IsHttpsUrl("HTTPS://example.org/"));
    EXPECT_TRUE(http::IsHttpsUrl("  Https://example.org/"));
    EXPECT_FALSE(http::IsHttpsUrl("http://example.org/https://"));
    EXPECT_FALSE(http::IsHttpsUrl("https"));
    EXPECT_FALSE(http::IsHttpsUrl(""));
}
