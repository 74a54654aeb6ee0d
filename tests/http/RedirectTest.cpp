// The redirects a fetch reports, followed or not, and how the client names
// itself and the network failures it meets.
#include "HttpClient.h"
#include "LoopbackServer.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using http::HttpError;
using http::THttpClient;
using http::TRedirect;
using testsupport::LoopbackServer;

namespace {

TEST(Redirects, EveryHopIsReportedWithItsAddressResolved) {
    LoopbackServer server;
    server.AddEndpoint("/moved", 301, {{"Location", "/feed"}}, "");
    server.AddEndpoint("/moved-for-good", 308, {{"Location", server.Url("/feed")}}, "");
    server.AddEndpoint("/for-now", 302, {{"Location", "moved"}}, "");
    server.AddEndpoint("/see-other", 303, {{"Location", "/feed?x=1"}}, "");
    server.AddEndpoint("/feed", 200, {}, "<rss/>");
    const struct {
        const char* path;
        bool follow;
        std::vector<TRedirect> expected;
        int status;  // of the answer that ends the fetch
    } cases[] = {
        {"/moved", false, {{301, server.Url("/feed")}}, 301},
        {"/moved-for-good", false, {{308, server.Url("/feed")}}, 308},
        {"/moved", true, {{301, server.Url("/feed")}}, 200},
        {"/for-now", true, {{302, server.Url("/moved")}, {301, server.Url("/feed")}}, 200},
        {"/see-other", true, {{303, server.Url("/feed?x=1")}}, 200},
        {"/feed", true, {}, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.follow ? " followed" : " not followed"));
        THttpClient client({.followRedirects = c.follow});
        try {
            const http::TFetchResult result = client.Fetch(server.Url(c.path));
            EXPECT_EQ(result.StatusCode, c.status);
            EXPECT_EQ(result.Redirects, c.expected);
            EXPECT_EQ(result.Body, "<rss/>");
        } catch (const HttpError& error) {
            EXPECT_EQ(error.StatusCode(), c.status) << error.what();
            EXPECT_EQ(error.Redirects(), c.expected);
        }
    }
    EXPECT_TRUE((TRedirect{308, ""}.Permanent()));
    EXPECT_FALSE((TRedirect{307, ""}.Permanent()));
}

TEST(Redirects, AFailureAfterARedirectStillNamesIt) {
    LoopbackServer server;
    server.AddEndpoint("/old", 301, {{"Location", "/gone"}}, "");
    server.AddEndpoint("/gone", 410, {}, "<html><title>Gone</title></html>");
    THttpClient client({.followRedirects = true});
    try {
        client.Fetch(server.Url("/old"));
        FAIL() << "a 410 was taken";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.StatusCode(), 410);
        EXPECT_EQ(error.Redirects(), (std::vector<TRedirect>{{301, server.Url("/gone")}}));
        // The head of the page comes with it, for whoever recognises pages.
        EXPECT_EQ(error.Body(), "<html><title>Gone</title></html>");
    }
}

TEST(Identity, RequestsNameTheProgramAndPreferFeeds) {
    LoopbackServer server;
    server.AddEndpoint("/feed", 200, {}, "ok");
    http::SetProductToken("Quillet/9.9 (+https://quillet.example/)");
    http::Get(server.Url("/feed"));
    // A token that would break the request is refused; the last good one stays.
    http::SetProductToken("Evil\r\nX-Injected: 1");
    http::Get(server.Url("/feed"));
    http::SetProductToken("");
    for (const testsupport::Request& request : server.Requests()) {
        EXPECT_EQ(request.Header("User-Agent"), "Quillet/9.9 (+https://quillet.example/)");
        EXPECT_FALSE(request.HasHeader("X-Injected"));
        const std::string accept = request.Header("Accept");
        EXPECT_LT(accept.find("application/atom+xml"), accept.find("*/*")) << accept;
        EXPECT_EQ(accept.find("text/html"), std::string::npos) << accept;
    }
    EXPECT_EQ(http::ProductToken(), "Quillet");
}

TEST(NetworkCause, CurlResultsMapToWhatTheUserCanActOn) {
    const struct {
        CURLcode code;
        http::NetworkCause cause;
    } cases[] = {
        {CURLE_OK, http::NetworkCause::None},
        {CURLE_COULDNT_RESOLVE_HOST, http::NetworkCause::HostNotFound},
        {CURLE_COULDNT_CONNECT, http::NetworkCause::Unreachable},
        {CURLE_GOT_NOTHING, http::NetworkCause::Unreachable},
        {CURLE_OPERATION_TIMEDOUT, http::NetworkCause::TimedOut},
        // A certificate for another name, expired or from an unknown issuer.
        {CURLE_PEER_FAILED_VERIFICATION, http::NetworkCause::Certificate},
        {CURLE_SSL_CONNECT_ERROR, http::NetworkCause::Tls},
        {CURLE_URL_MALFORMAT, http::NetworkCause::Other},
    };
    for (const auto& c : cases) EXPECT_EQ(http::NetworkCauseOf(c.code), c.cause) << c.code;

    THttpClient refused;
    try {
        refused.Fetch("http://127.0.0.1:1/feed");
        FAIL() << "a closed port answered";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.Cause(), http::NetworkCause::Unreachable) << error.what();
    }
}

}  // namespace
