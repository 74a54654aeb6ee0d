#include "GReaderClient.h"
#include "FakeReader.h"
#include "FixtureFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>

using namespace std::chrono_literals;
using greader::TGReaderClient;
using greader::TSyncError;
using greader::TSyncErrorKind;
using testsupport::LoopbackServer;
using testsupport::Request;
using testsupport::Response;

namespace {

TSyncErrorKind KindOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const TSyncError& error) {
        return error.Kind();
    }
    ADD_FAILURE() << "no error";
    return TSyncErrorKind::Cancelled;
}

}  // namespace

TEST(ItemIds, LongAndDecimalFormsNameTheSameItem) {
    const struct {
        const char* text;
        std::optional<greader::TItemId> id;
    } cases[] = {
        {"tag:google.com,2005:reader/item/000662245f63b021", 1796758218977313ULL},
        {"1796758218977313", 1796758218977313ULL},
        {"tag:google.com,2005:reader/item/ffffffffffffffff", 0xffffffffffffffffULL},
        {"-1", 0xffffffffffffffffULL},
        {"tag:google.com,2005:reader/item/", std::nullopt},
        {"tag:google.com,2005:reader/item/0000000000000000g", std::nullopt},
        {"12ab", std::nullopt},
        {"", std::nullopt},
        {"99999999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(greader::ParseItemId(c.text), c.id) << c.text;
        if (c.id) {
            EXPECT_EQ(greader::ParseItemId(greader::LongItemId(*c.id)), c.id) << c.text;
            EXPECT_EQ(greader::ParseItemId(greader::DecimalItemId(*c.id)), c.id) << c.text;
        }
    }
    EXPECT_EQ(greader::LongItemId(255), "tag:google.com,2005:reader/item/00000000000000ff");
}

TEST(ReaderClient, AddressesToTry) {
    const struct {
        const char* address;
        std::vector<std::string> bases;
    } cases[] = {
        {"https://rss.example.net/api/greader.php", {"https://rss.example.net/api/greader.php"}},
        {"rss.example.net/", {"https://rss.example.net", "https://rss.example.net/api/greader.php"}},
        {"http://h/miniflux/", {"http://h/miniflux", "http://h/miniflux/api/greader.php"}},
    };
    for (const auto& c : cases) EXPECT_EQ(TGReaderClient::CandidateBases(c.address), c.bases) << c.address;
}

TEST(ReaderClient, SignInFailuresHaveTheirKinds) {
    LoopbackServer server;
    synctest::AddSignIn(server);
    server.AddEndpoint("/plain/accounts/ClientLogin", 200, {}, "<html>a blog</html>");
    server.AddEndpoint("/static/accounts/ClientLogin", 501, {}, "POST is not implemented");
    server.AddEndpoint("/down/accounts/ClientLogin", 500, {}, "oops");
    const struct {
        std::string base;
        const char* password;
        TSyncErrorKind kind;
    } cases[] = {
        {server.Url(synctest::kApi), "wrong", TSyncErrorKind::WrongPassword},
        {server.Url("/plain"), "secret", TSyncErrorKind::NotGoogleReader},
        {server.Url("/nothing"), "secret", TSyncErrorKind::NotGoogleReader},
        // A server that cannot take the sign-in at all serves no API there;
        // one that fails at it has trouble.
        {server.Url("/static"), "secret", TSyncErrorKind::NotGoogleReader},
        {server.Url("/down"), "secret", TSyncErrorKind::Server},
        {"http://127.0.0.1:1/api/greader.php", "secret", TSyncErrorKind::Unreachable},
    };
    for (const auto& c : cases) {
        TGReaderClient client(c.base);
        EXPECT_EQ(KindOf([&] { client.ClientLogin("alice", c.password); }), c.kind) << c.base;
    }
    TGReaderClient client(server.Url(synctest::kApi));
    client.ClientLogin("alice", "secret");
    EXPECT_EQ(client.AuthToken(), synctest::kAuth);
}

TEST(ReaderClient, AnswersOutsideTheApiAreErrorsOfTheirKind) {
    LoopbackServer server;
    synctest::AddSignIn(server);
    Response slow;
    slow.body = "{\"subscriptions\":[]}";
    slow.headDelay = 2s;
    Response busy;
    busy.statusLine = testsupport::StatusLine(503);
    busy.headers = {{"Retry-After", "120"}};
    const struct {
        const char* name;
        Response response;
        TSyncErrorKind kind;
    } cases[] = {
        {"session refused",
         [] {
             Response r;
             r.statusLine = testsupport::StatusLine(401);
             return r;
         }(),
         TSyncErrorKind::Unauthorized},
        {"server error",
         [] {
             Response r;
             r.statusLine = testsupport::StatusLine(500);
             return r;
         }(),
         TSyncErrorKind::Server},
        {"busy", busy, TSyncErrorKind::Server},
        {"not json",
         [] {
             Response r;
             r.body = "<html>";
             return r;
         }(),
         TSyncErrorKind::Malformed},
        {"truncated",
         [] {
             Response r;
             r.body = "{\"subscriptions\":[{\"id\":";
             return r;
         }(),
         TSyncErrorKind::Malformed},
        {"wrong type",
         [] {
             Response r;
             r.body = "{\"subscriptions\":[{\"id\":12}]}";
             return r;
         }(),
         TSyncErrorKind::Malformed},
        {"no list",
         [] {
             Response r;
             r.body = "[]";
             return r;
         }(),
         TSyncErrorKind::Malformed},
        {"slow", slow, TSyncErrorKind::TimedOut},
    };
    for (const auto& c : cases) {
        server.AddEndpoint(synctest::ApiPath("subscription/list"), c.response);
        TGReaderClient client(server.Url(synctest::kApi));
        client.SetDeadline(500ms);
        client.SetAuthToken(synctest::kAuth);
        try {
            client.SubscriptionList();
            ADD_FAILURE() << c.name << ": no error";
        } catch (const TSyncError& error) {
            EXPECT_EQ(error.Kind(), c.kind) << c.name << ": " << error.what();
            EXPECT_EQ(error.RetryAfter().has_value(), std::string(c.name) == "busy") << c.name;
        }
    }
    EXPECT_EQ(server.LastRequest().Header("Authorization"), std::string("GoogleLogin auth=") + synctest::kAuth);
}

TEST(ReaderClient, IdPagesFollowTheContinuationAndStopOnARepeat) {
    LoopbackServer server;
    bool loop = false;
    server.AddHandler(synctest::ApiPath("stream/items/ids"), [&](const Request& request) {
        // Pages of three ids counting down from 10; the continuation is the next id.
        const std::string c = request.FormValue("c");
        const int start = c.empty() ? 10 : std::stoi(c);
        std::string body = "{\"itemRefs\":[";
        for (int id = start; id > start - 3 && id > 0; --id)
            body += (id == start ? "" : ",") + ("{\"id\":\"" + std::to_string(id) + "\"}");
        body += "]";
        if (start - 3 > 0) body += ",\"continuation\":\"" + std::to_string(loop ? 10 : start - 3) + "\"";
        Response response;
        response.body = body + "}";
        return response;
    });
    TGReaderClient client(server.Url(synctest::kApi));
    greader::TIdQuery query;
    query.Exclude = greader::kReadState;
    query.Since = 1700000000;
    query.PageSize = 3;
    EXPECT_EQ(client.AllItemIds(query), (std::vector<greader::TItemId>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(server.NumHits(synctest::ApiPath("stream/items/ids")), 4);
    const Request last = server.LastRequest();
    EXPECT_EQ(last.FormValue("xt"), greader::kReadState);
    EXPECT_EQ(last.FormValue("ot"), "1700000000");
    EXPECT_EQ(last.FormValue("n"), "3");
    loop = true;
    EXPECT_EQ(KindOf([&] { client.AllItemIds(query); }), TSyncErrorKind::Malformed);
    EXPECT_EQ(KindOf([&] { client.AllItemIds(query, 5); }), TSyncErrorKind::Malformed);
}

// The bytes an answer cost are counted as they came (compressed or not) and
// once decoded; compression is asked for on every request.
TEST(ReaderClient, TrafficCountsWireAndDecodedBytes) {
    const std::string counts = testsupport::ReadFixtureFile(SYNC_TEST_DATA "/unread_counts.json");
    for (const auto encoding :
         {testsupport::Encoding::Identity, testsupport::Encoding::Gzip, testsupport::Encoding::Deflate}) {
        SCOPED_TRACE(static_cast<int>(encoding));
        LoopbackServer server;
        Response response;
        response.body = counts;
        response.encoding = encoding;
        server.AddEndpoint(synctest::ApiPath("unread-count"), response);
        TGReaderClient client(server.Url(synctest::kApi));
        const auto parsed = client.UnreadCounts();
        EXPECT_EQ(parsed.Counts.at("feed/12"), 36);
        EXPECT_EQ(parsed.Labels, std::set<std::string>{"user/-/label/Tech"});
        EXPECT_EQ(parsed.NewestUsec, 1765200000095028);
        EXPECT_NE(server.LastRequest().Header("Accept-Encoding").find("gzip"), std::string::npos);
        const greader::TTraffic& traffic = client.Traffic();
        EXPECT_EQ(traffic.Decoded, counts.size());
        EXPECT_EQ(traffic.Body, testsupport::Encode(counts, encoding).size());
        EXPECT_EQ(client.BytesReceived(), traffic.Body);
        EXPECT_GT(traffic.Headers, 20u);
        EXPECT_EQ(traffic.OnWire(), traffic.Body + traffic.Headers);
    }
}

TEST(ReaderClient, WritesRenewARefusedActionToken) {
    LoopbackServer server;
    int tokens = 0;
    server.AddHandler(synctest::ApiPath("token"), [&](const Request&) {
        Response response;
        response.body = "TOKEN" + std::to_string(++tokens) + "\n";
        return response;
    });
    server.AddHandler(synctest::ApiPath("edit-tag"), [](const Request& request) {
        Response response;
        if (request.FormValue("T") != "TOKEN2") response.statusLine = testsupport::StatusLine(401);
        response.body = "OK";
        return response;
    });
    TGReaderClient client(server.Url(synctest::kApi));
    client.SetAuthToken(synctest::kAuth);
    client.EditTag({0x662245f63b021ULL, 7}, greader::kReadState, "");
    const Request sent = server.LastRequest();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.FormValues("i"), (std::vector<std::string>{"1796758218977313", "7"}));
    EXPECT_EQ(sent.FormValue("a"), greader::kReadState);
    EXPECT_EQ(tokens, 2);
}
