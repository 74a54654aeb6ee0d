// Requests an API client needs beyond a feed's GET: a posted form, extra
// header lines, and the status and body of a refusal.
#include "HttpClient.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace std::chrono_literals;
using http::HttpError;
using http::HttpFailure;
using http::THttpClient;
using http::TRequest;
using testsupport::LoopbackServer;
using testsupport::Response;

namespace {

TRequest Make(std::string url, std::string method = "GET", std::string body = {}) {
    TRequest request;
    request.Url = std::move(url);
    request.Method = std::move(method);
    request.Body = std::move(body);
    return request;
}

}  // namespace

TEST(ApiRequest, PostCarriesFormBodyAndHeaders) {
    LoopbackServer server;
    server.AddEndpoint("/edit", 200, {}, "OK");
    const std::string bigBody = "i=" + std::string(200'000, '7');  // past any Expect threshold
    const struct {
        const char* method;
        std::string body;
    } cases[] = {{"POST", "a=user%2F-%2Fstate&i=1&i=2"}, {"POST", ""}, {"POST", bigBody}, {"GET", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method + std::to_string(c.body.size()));
        THttpClient client;
        TRequest request = Make(server.Url("/edit?output=json"), c.method, c.body);
        request.Headers = {{"Authorization", "GoogleLogin auth=alice/abc"}};
        const auto result = client.Send(request);
        EXPECT_EQ(result.Body, "OK");
        EXPECT_EQ(result.StatusCode, 200);
        const auto seen = server.LastRequest();
        EXPECT_EQ(seen.method, c.method);
        EXPECT_EQ(seen.body, c.body);
        EXPECT_EQ(seen.Header("Authorization"), "GoogleLogin auth=alice/abc");
        EXPECT_EQ(seen.CountHeader("Authorization"), 1);
        EXPECT_FALSE(seen.HasHeader("Expect"));
        if (std::string(c.method) == "POST") {
            EXPECT_EQ(seen.Header("Content-Type"), "application/x-www-form-urlencoded");
        }
    }
    EXPECT_EQ(server.Requests()[0].FormValues("i"), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(server.Requests()[0].FormValue("a"), "user/-/state");
}

TEST(ApiRequest, RefusalKeepsStatusAndStartOfBody) {
    LoopbackServer server;
    const struct {
        int status;
        std::string body;
        std::size_t keptSize;
    } cases[] = {
        {401, "Unauthorized!", 13},
        {500, "database is locked", 18},
        {404, std::string(200'000, 'x'), http::kMaxErrorBodySize},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        server.AddEndpoint("/api", c.status, {}, c.body);
        THttpClient client;
        try {
            client.Send(Make(server.Url("/api"), "POST", "x=1"));
            ADD_FAILURE() << "no error";
        } catch (const HttpError& error) {
            EXPECT_EQ(error.StatusCode(), c.status);
            EXPECT_EQ(error.Failure(), HttpFailure::Status);
            EXPECT_EQ(error.Body(), c.body.substr(0, c.keptSize));
        }
        // A feed's GET keeps only the head of an error page.
        try {
            client.Get(server.Url("/api"));
        } catch (const HttpError& error) {
            EXPECT_EQ(error.StatusCode(), c.status);
            EXPECT_EQ(error.Body(), c.body.substr(0, http::kErrorPageHeadSize));
        }
    }
}

TEST(ApiRequest, UnsafeHeadersAndMethodsAreRefusedBeforeConnecting) {
    LoopbackServer server;
    server.AddEndpoint("/api", 200, {}, "OK");
    const TRequest cases[] = {
        {server.Url("/api"), "GET", "", "", {{"Authorization", "x\r\nX-Evil: 1"}}},
        {server.Url("/api"), "GET", "", "", {{"Bad Name", "x"}}},
        {server.Url("/api"), "GET", "", "", {{"", "x"}}},
        {server.Url("/api"), "POST", "x", "text/plain\nX-Evil: 1", {}},
        {server.Url("/api"), "DELETE", "", "", {}},
    };
    for (const auto& request : cases) {
        THttpClient client;
        EXPECT_THROW(client.Send(request), HttpError);
    }
    EXPECT_EQ(server.NumConnections(), 0);
}

TEST(ApiRequest, FailureKindsTellTimeOutsFromRefusals) {
    LoopbackServer server;
    Response slow;
    slow.fault = testsupport::Fault::NeverAnswer;
    server.AddEndpoint("/hang", slow);
    THttpClient client;
    client.SetDeadline(300ms);
    try {
        client.Send(Make(server.Url("/hang"), "POST", "x=1"));
        ADD_FAILURE() << "no error";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.Failure(), HttpFailure::TimedOut) << error.what();
    }
    try {
        THttpClient refused;
        refused.Send(Make("http://127.0.0.1:1/api"));
        ADD_FAILURE() << "no error";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.Failure(), HttpFailure::Other) << error.what();
    }
}
