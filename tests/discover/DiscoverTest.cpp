// Discovery against sites served on 127.0.0.1.
#include "Address.h"
#include "Discover.h"
#include "FixtureFile.h"
#include "LoopbackServer.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using discover::Discover;
using discover::TDiscoverErrorKind;
using testsupport::LoopbackServer;
using testsupport::Response;

namespace {

std::string Fixture(const std::string& name) {
    return testsupport::ReadFixtureFile(std::string(DISCOVER_TEST_DATA) + "/" + name);
}

struct Endpoint {
    std::string path;
    int status;
    std::string contentType;
    std::string body;  // for a redirect, the Location
};

// "{site}" stands for the server's address in inputs and expectations.
std::string OnSite(std::string text, const LoopbackServer& server) {
    const std::string site = server.Url("");
    for (auto at = text.find("{site}"); at != std::string::npos; at = text.find("{site}", at + site.size()))
        text.replace(at, 6, site);
    return text;
}

void Serve(LoopbackServer& server, const Endpoint& endpoint) {
    Response response;
    response.statusLine = testsupport::StatusLine(endpoint.status);
    if (endpoint.status >= 300 && endpoint.status < 400)
        response.headers.emplace_back("Location", OnSite(endpoint.body, server));
    else
        response.body = endpoint.body;
    if (!endpoint.contentType.empty()) response.headers.emplace_back("Content-Type", endpoint.contentType);
    server.AddEndpoint(endpoint.path, response);
}

constexpr const char* kHtml = "text/html; charset=UTF-8";
constexpr const char* kXml = "application/rss+xml";

discover::TDiscoverOptions FastOptions() {
    discover::TDiscoverOptions options;
    options.secureFeeds = false;
    options.connectTimeout = 2s;
    options.stallTimeout = 2s;
    options.deadline = 5s;
    return options;
}

}  // namespace

TEST(Discover, FindsTheFeedsOfEachShapeOfSite) {
    const std::string home = "https://harbour.example/";
    const struct {
        const char* name;
        std::vector<Endpoint> endpoints;
        std::string input;
        std::vector<std::string> feeds;  // addresses, best first
        std::string firstTitle;
        std::string address;  // where the page was found; "" = input
    } cases[] = {
        {"WordPress home",
         {{"/", 200, kHtml, Fixture("wordpress_home.html")}},
         "{site}/",
         {home + "feed/", home + "comments/feed/"},
         "Quiet Harbour \xC2\xBB Feed",
         ""},
        {"WordPress post",
         {{"/2024/05/low-tide/", 200, kHtml, Fixture("wordpress_post.html")}},
         "  {site}/2024/05/low-tide/ ",
         {home + "feed/", home + "comments/feed/", home + "2024/05/low-tide/feed/"},
         "Quiet Harbour \xC2\xBB Feed",
         "{site}/2024/05/low-tide/"},
        {"Blogger",
         {{"/", 200, kHtml, Fixture("blogger.html")}},
         "{site}/",
         {"https://fernmoss.blogspot.example/feeds/posts/default",
          "https://fernmoss.blogspot.example/feeds/posts/default?alt=rss",
          "https://fernmoss.blogspot.example/feeds/8123/comments/default"},
         "Fern & Moss - Atom",
         ""},
        {"relative links under <base>",
         {{"/", 200, kHtml, Fixture("base_relative.html")}},
         "{site}/",
         {"https://cdn.example/site/news/atom.xml", "https://cdn.example/site/pages/rss.xml?a=1&b=2"},
         "News in Atom",
         ""},
        {"a page reached through a 301: links resolve against where it led",
         {{"/old", 301, "", "{site}/blog/"},
          {"/blog/", 200, kHtml, "<title>B</title><link rel=alternate type=application/atom+xml href=atom.xml>"}},
         "{site}/old",
         {"{site}/blog/atom.xml"},
         "B",
         "{site}/blog/"},
        {"the same feed listed twice",
         {{"/", 200, kHtml, Fixture("duplicate_feed.html")}},
         "{site}/",
         {"{site}/feed.xml", "{site}/feed.json", "{site}/atom.xml"},
         "Posts",
         ""},
        {"a UTF-16 page",
         {{"/", 200, "text/html", Fixture("utf16le.html")}},
         "{site}/",
         {"{site}/flux.xml"},
         "Caf\xC3\xA9 \xE2\x80\x93 Flux RSS",
         ""},
        {"a YouTube channel page",
         {{"/@tidalworkshop", 200, kHtml, Fixture("youtube_channel.html")}},
         "{site}/@tidalworkshop",
         {"https://www.youtube.com/feeds/videos.xml?channel_id=UCabcdefghijklmnopqrstuv"},
         "Tidal Workshop",
         ""},
        {"the address is a feed",
         {{"/feed", 200, kXml, Fixture("rss.xml")}},
         "feed:{site}/feed",
         {"{site}/feed"},
         "Plain site posts",
         "{site}/feed"},
        {"a feed behind a redirect is kept at its final address",
         {{"/feed", 302, "", "{site}/real.xml"}, {"/real.xml", 200, "text/xml", Fixture("atom.xml")}},
         "{site}/feed",
         {"{site}/real.xml"},
         "Plain site in Atom",
         "{site}/real.xml"},
        {"a JSON Feed",
         {{"/feed.json", 200, "application/feed+json", Fixture("feed.json")}},
         "{site}/feed.json",
         {"{site}/feed.json"},
         "Plain site in JSON",
         ""},
        {"no link: the usual places in the folder, then at the root; soft 404s and copies do not count",
         {{"/blog/", 200, kHtml, Fixture("no_links.html")},
          {"/blog/feed/", 200, kHtml, Fixture("no_links.html")},
          {"/blog/feed.json", 200, "application/json", Fixture("feed.json")},
          {"/rss.xml", 200, kXml, Fixture("rss.xml")},
          {"/feed.xml", 200, kXml, Fixture("rss.xml")},
          {"/atom.xml", 200, kXml, Fixture("atom.xml")}},
         "{site}/blog/",
         {"{site}/blog/feed.json", "{site}/rss.xml", "{site}/atom.xml"},
         "Plain site in JSON",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        for (const auto& endpoint : c.endpoints) Serve(server, endpoint);
        const std::string input = OnSite(c.input, server);
        const auto result = Discover(input, FastOptions());
        ASSERT_TRUE(result.Ok()) << result.Error->Message;
        std::vector<std::string> urls;
        for (const auto& feed : result.Feeds) urls.push_back(feed.Url);
        std::vector<std::string> expected;
        for (const auto& url : c.feeds) expected.push_back(OnSite(url, server));
        EXPECT_EQ(urls, expected);
        EXPECT_EQ(result.Feeds.front().Title, c.firstTitle);
        EXPECT_EQ(result.Address, c.address.empty() ? *discover::NormalizeAddress(input) : OnSite(c.address, server));
    }
}

TEST(Discover, ProbesTheUsualPlacesWithoutFollowingRedirectsHome) {
    LoopbackServer server;
    Serve(server, {"/", 200, kHtml, Fixture("no_links.html")});
    for (const auto& address : discover::WellKnownFeedAddresses(server.Url("/")))
        Serve(server, {address.substr(server.Url("").size()), 301, "", "{site}/"});
    const auto result = Discover(server.Url("/"), FastOptions());
    ASSERT_FALSE(result.Ok());
    EXPECT_EQ(result.Error->Kind, TDiscoverErrorKind::NoFeed);
    EXPECT_NE(result.Error->Message.find("No feed"), std::string::npos);
    EXPECT_EQ(server.NumHits("/"), 1);
    EXPECT_EQ(server.NumHits("/feed.json"), 1);
    EXPECT_EQ(server.NumRequests(), 10);
}

TEST(Discover, SaysWhatWentWrongInPlainWords) {
    LoopbackServer server;
    Serve(server, {"/challenge", 403, kHtml, Fixture("challenge_403.html")});
    Serve(server, {"/gone", 404, kHtml, "nothing"});
    Serve(server, {"/broken", 200, kXml, "<rss version=\"2.0\"><channel><title>T</title>"});
    Response silent;
    silent.fault = testsupport::Fault::NeverAnswer;
    server.AddEndpoint("/silent", silent);
    const std::string closedPort = "http://127.0.0.1:" + std::to_string(testsupport::UnusedLoopbackPort()) + "/";

    const struct {
        std::string input;
        TDiscoverErrorKind kind;
        int status;
        const char* words;  // in the message
    } cases[] = {
        {server.Url("/challenge"), TDiscoverErrorKind::HttpStatus, 403, "refused access"},
        {server.Url("/gone"), TDiscoverErrorKind::HttpStatus, 404, "404 Not Found"},
        {server.Url("/broken"), TDiscoverErrorKind::UnreadableFeed, 0, "cannot be read"},
        {server.Url("/silent"), TDiscoverErrorKind::TimedOut, 0, "did not answer in time"},
        {closedPort, TDiscoverErrorKind::ConnectionFailed, 0, "could not be reached"},
        {"http://no-such-host.invalid/", TDiscoverErrorKind::HostNotFound, 0, "no-such-host.invalid was not found"},
        {"ftp://example.org/", TDiscoverErrorKind::InvalidAddress, 0, "not a web address"},
    };
    auto options = FastOptions();
    options.stallTimeout = 300ms;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const auto result = Discover(c.input, options);
        ASSERT_FALSE(result.Ok());
        EXPECT_TRUE(result.Feeds.empty());
        EXPECT_EQ(result.Error->Kind, c.kind);
        EXPECT_EQ(result.Error->Status, c.status);
        EXPECT_NE(result.Error->Message.find(c.words), std::string::npos) << result.Error->Message;
    }
}

// A bare host is tried as https first; a site that serves only http is then
// asked over http, and where neither works the message says both failed.
TEST(Discover, ABareHostOfAnHttpOnlySiteIsAskedOverHttpNext) {
    LoopbackServer server;
    Serve(server, {"/feed", 200, kXml, Fixture("rss.xml")});
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    const std::string closed = "127.0.0.1:" + std::to_string(testsupport::UnusedLoopbackPort());
    const struct {
        std::string input;
        bool secure;
        std::optional<TDiscoverErrorKind> kind;  // none: found at http://
        const char* words;
    } cases[] = {
        {host + "/feed", true, std::nullopt, ""},
        {host + "/feed", false, std::nullopt, ""},
        {closed + "/", true, TDiscoverErrorKind::ConnectionFailed, "Neither https nor http worked for 127.0.0.1"},
        // An address written with https is taken at its word.
        {"https://" + host + "/feed", true, TDiscoverErrorKind::SecureFailed, "secure (https) connection"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        auto options = FastOptions();
        options.secureFeeds = c.secure;
        const auto result = Discover(c.input, options);
        if (!c.kind) {
            ASSERT_TRUE(result.Ok()) << result.Error->Message;
            ASSERT_EQ(result.Feeds.size(), 1u);
            EXPECT_EQ(result.Feeds[0].Url, "http://" + host + "/feed");
            EXPECT_TRUE(result.Feeds[0].OwnTitle);
            continue;
        }
        ASSERT_FALSE(result.Ok());
        EXPECT_EQ(result.Error->Kind, *c.kind) << result.Error->Message;
        EXPECT_NE(result.Error->Message.find(c.words), std::string::npos) << result.Error->Message;
    }
}
