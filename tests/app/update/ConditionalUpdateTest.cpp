// The update cycle as a good citizen of the web: validators kept with the
// feed and sent back, "not modified" answers, and servers that ask for a
// pause.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "FeedUpdate.h"
#include "LoopbackServer.h"
#include "UpdateRig.h"
#include "XmlDom.h"

namespace {

namespace fs = std::filesystem;
using apptest::WaitUntil;
using testsupport::Request;
using testsupport::Response;

std::string Rss(const std::vector<std::string>& titles) {
    std::string body =
        "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Daily</title>"
        "<link>http://example.invalid/</link><description>d</description>";
    for (const std::string& title : titles)
        body += "<item><title>" + title + "</title><description>x</description></item>";
    return body + "</channel></rss>";
}

constexpr char kDate[] = "Tue, 08 Dec 2026 10:00:00 GMT";

// A server that keeps one version of a feed and answers conditional
// requests the way real servers do.
class ConditionalUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        Start();
        server.AddHandler("/feed", [this](const Request& request) {
            std::lock_guard lock(mutex);
            Response response;
            if (!failure.statusLine.empty() && failure.statusLine != "HTTP/1.1 200 OK") return failure;
            const bool matches =
                (!etag.empty() && request.Header("If-None-Match") == etag) ||
                (etag.empty() && !lastModified.empty() && request.Header("If-Modified-Since") == lastModified);
            if (matches && answerNotModified) {
                response.statusLine = testsupport::StatusLine(304);
            } else {
                response.body = body;
            }
            if (!etag.empty()) response.headers.push_back({"ETag", etag});
            if (!lastModified.empty()) response.headers.push_back({"Last-Modified", lastModified});
            return response;
        });
        server.AddHandler("/other", [](const Request&) {
            Response response;
            response.body = Rss({"O"});
            return response;
        });
    }
    // The update cycle as a start of the program finds it.
    void Start() {
        rig = std::make_unique<apptest::TUpdateRig>();
        QObject::connect(&rig->Updates(), &TUpdateController::feedUpdateFinished,
                         [this](const QString& id, const QString&) { finished.push_back(id.toStdString()); });
    }

    void Publish(std::string text, std::string newEtag, std::string newDate = kDate) {
        std::lock_guard lock(mutex);
        body = std::move(text);
        etag = std::move(newEtag);
        lastModified = std::move(newDate);
    }
    void Fail(int status, testsupport::HeaderList headers = {}) {
        std::lock_guard lock(mutex);
        failure = Response();
        failure.statusLine = testsupport::StatusLine(status);
        failure.headers = std::move(headers);
    }
    void Heal() {
        std::lock_guard lock(mutex);
        failure = Response();
    }

    std::string AddStoredFeed(const std::string& id, const std::string& path) {
        return feedlist::IdText(
            rig->AddStoredFeed(
                   {{"url", server.Url(path)}, {"id", id}, {"caption", ""}, {"unread", "0"}, {"lastupdate", "earlier"}})
                ->Feed());
    }
    std::string Attr(const std::string& id, const char* name) {
        return apptest::StoredFeedElement(rig->Options(), id).Attribute(name).value_or("<absent>");
    }
    void ChangeFeed(const std::string& id, const std::function<void(feedlist::TFeedEntry&)>& change) {
        rig->List().UpdateFeed(*rig->List().FindFeed(id), change);
    }
    Request LastFeedRequest() {
        Request last;
        for (const Request& request : server.Requests())
            if (request.path == "/feed") last = request;
        return last;
    }
    std::string Status() { return rig->Status().toStdString(); }

    apptest::TStagedHome home;
    std::unique_ptr<apptest::TUpdateRig> rig;
    std::mutex mutex;
    std::string body;
    std::string etag;
    std::string lastModified;
    bool answerNotModified = true;
    Response failure;
    std::vector<std::string> finished;
    // Last: it stops the threads that use the members above.
    testsupport::LoopbackServer server;
};

TEST_F(ConditionalUpdateTest, NotModifiedKeepsTheCopyAndCountsAsAnUpdate) {
    const std::string node = AddStoredFeed("1", "/feed");
    Publish(Rss({"A", "B"}), "\"v1\"");
    rig->Updates().UpdateFeed(node);
    ASSERT_EQ(Attr(node, "unread"), "2") << Status();
    EXPECT_EQ(Attr(node, "etag"), "\"v1\"");
    EXPECT_EQ(Attr(node, "lastmodified"), kDate);
    EXPECT_FALSE(LastFeedRequest().HasHeader("If-None-Match")) << "nothing to validate on a first download";

    const std::string copy = home.ReadFile("feeds/1.xml");
    const auto written = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time("feeds/1.xml", written);
    ChangeFeed(node, [&](feedlist::TFeedEntry& feed) { feed.LastUpdate = "earlier"; });
    ChangeFeed(node, [](feedlist::TFeedEntry& feed) { feed.Unread = 1; });
    finished.clear();

    rig->Updates().UpdateFeed(node);
    const Request sent = LastFeedRequest();
    EXPECT_EQ(sent.Header("If-None-Match"), "\"v1\"");
    EXPECT_EQ(sent.Header("If-Modified-Since"), kDate);
    EXPECT_EQ(home.ReadFile("feeds/1.xml"), copy);
    EXPECT_EQ(fs::last_write_time("feeds/1.xml"), written) << "the stored copy was rewritten";
    EXPECT_EQ(Attr(node, "unread"), "1");
    EXPECT_NE(Attr(node, "lastupdate"), "earlier");
    EXPECT_EQ(Status(), "Daily (1) has not changed");
    EXPECT_TRUE(rig->Notify().Balloon().FeedId.empty());
    EXPECT_EQ(finished, std::vector<std::string>{"1"});
    EXPECT_TRUE(rig->Updates().RowState(node).Failure.isEmpty());

    // A new version: downloaded whole, new items counted, new validators.
    Publish(Rss({"C", "A", "B"}), "\"v2\"", "Wed, 09 Dec 2026 10:00:00 GMT");
    rig->Updates().UpdateFeed(node);
    EXPECT_EQ(Attr(node, "unread"), "2");
    EXPECT_EQ(Attr(node, "etag"), "\"v2\"");
    EXPECT_EQ(Attr(node, "lastmodified"), "Wed, 09 Dec 2026 10:00:00 GMT");

    // A server that stops sending validators: the old ones are not sent again.
    Publish(Rss({"C", "A", "B"}), "", "");
    rig->Updates().UpdateFeed(node);
    EXPECT_EQ(Attr(node, "etag"), "<absent>");
    EXPECT_EQ(Attr(node, "lastmodified"), "<absent>");
    rig->Updates().UpdateFeed(node);
    EXPECT_FALSE(LastFeedRequest().HasHeader("If-None-Match"));
    EXPECT_FALSE(LastFeedRequest().HasHeader("If-Modified-Since"));
}

TEST_F(ConditionalUpdateTest, ValidatorsAreNotUsedWithoutAUsableStoredCopy) {
    const std::string node = AddStoredFeed("1", "/feed");
    Publish(Rss({"A", "B"}), "\"v1\"");
    rig->Updates().UpdateFeed(node);
    ASSERT_EQ(Attr(node, "etag"), "\"v1\"");

    // The copy is gone: the feed is fetched whole, without validators.
    fs::remove("feeds/1.xml");
    rig->Updates().UpdateFeed(node);
    EXPECT_FALSE(LastFeedRequest().HasHeader("If-None-Match"));
    EXPECT_TRUE(fs::exists("feeds/1.xml"));
    EXPECT_EQ(Attr(node, "unread"), "2");

    // The copy is damaged: the server says "not modified", and the feed is
    // fetched again without validators so that the copy is repaired.
    home.WriteFile("feeds/1.xml", "<rss><channel>");
    const int before = server.NumHits("/feed");
    rig->Updates().UpdateFeed(node);
    EXPECT_EQ(server.NumHits("/feed"), before + 2);
    EXPECT_FALSE(LastFeedRequest().HasHeader("If-None-Match"));
    EXPECT_NE(home.ReadFile("feeds/1.xml").find("<title>A</title>"), std::string::npos);
    EXPECT_EQ(Status().find("Could not"), std::string::npos) << Status();
}

TEST_F(ConditionalUpdateTest, ConfigFilesLoadWithAndWithoutValidators) {
    const std::string node = AddStoredFeed("1", "/feed");
    Publish(Rss({"A"}), "\"v1\"");
    rig->Updates().UpdateFeed(node);
    rig->Save();
    rig.reset();

    // Written after: the known attributes lead, in their order, and the
    // file loads as before (a reader that knows nothing of validators looks
    // its attributes up by name).
    xml::Document written;
    written.LoadFromFile("config.xml");
    const auto attributes = written.DocumentElement()
                                .ChildByName("internal")
                                .ChildByName("feedlist")
                                .ChildByName("items")
                                .ChildElements()
                                .front()
                                .Attributes();
    ASSERT_GE(attributes.size(), 7u);
    const char* order[] = {"url", "id", "caption", "unread", "lastupdate"};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(attributes[i].first, order[i]);
    Start();
    ASSERT_NE(rig->List().FindFeed(node), nullptr);
    EXPECT_EQ(rig->Feed(node).Caption, "Daily");
    EXPECT_EQ(rig->Feed(node).Unread, 1);
    rig->Updates().UpdateFeed(node);
    EXPECT_EQ(LastFeedRequest().Header("If-None-Match"), "\"v1\"") << "validators read back";
    rig.reset();

    // Written before: no validators, the first update sends none.
    const std::string old = home.ReadFile("config.xml");
    std::string stripped = old;
    for (const char* name : {" etag=\"&quot;v1&quot;\"", " lastmodified=\"Tue, 08 Dec 2026 10:00:00 GMT\""}) {
        const auto at = stripped.find(name);
        ASSERT_NE(at, std::string::npos) << old;
        stripped.erase(at, std::string(name).size());
    }
    home.WriteFile("config.xml", stripped);
    Start();
    ASSERT_NE(rig->List().FindFeed(node), nullptr);
    EXPECT_EQ(Attr(node, "etag"), "<absent>");
    rig->Updates().UpdateFeed(node);
    EXPECT_FALSE(LastFeedRequest().HasHeader("If-None-Match"));
    EXPECT_EQ(Attr(node, "etag"), "\"v1\"");
}

TEST_F(ConditionalUpdateTest, RetryAfterMakesPollingPassTheFeedBy) {
    struct Case {
        const char* name;
        int status;
        testsupport::HeaderList headers;
        bool backsOff;
    } cases[] = {
        {"429 with seconds", 429, {{"Retry-After", "120"}}, true},
        {"503 with a date", 503, {{"Retry-After", "Fri, 31 Dec 2100 23:59:59 GMT"}}, true},
        {"503 without Retry-After", 503, {}, false},
        {"500 with Retry-After", 500, {{"Retry-After", "120"}}, false},
    };
    const std::string node = AddStoredFeed("1", "/feed");
    AddStoredFeed("2", "/other");
    Publish(Rss({"A"}), "");
    rig->Options().GetConfigNode("general\\UpdateInterval").SetText("0");
    for (const Case& c : cases) {
        Fail(c.status, c.headers);
        rig->Updates().UpdateFeed(node);
        EXPECT_FALSE(rig->Updates().RowState(node).Failure.isEmpty()) << c.name;
        EXPECT_EQ(rig->Updates().PollingDeferred("1"), c.backsOff) << c.name;

        // Polling with no pause: the feed is left alone while the pause
        // lasts, the other one is fetched again and again.
        const int hits = server.NumHits("/feed");
        const int others = server.NumHits("/other");
        rig->Updates().Start();
        ASSERT_TRUE(WaitUntil([&] { return server.NumHits("/other") >= others + 3; })) << c.name;
        rig->Updates().Stop();
        EXPECT_EQ(server.NumHits("/feed") > hits, !c.backsOff) << c.name;

        // A manual update fetches at once, and its success lifts the pause.
        Heal();
        const int manual = server.NumHits("/feed");
        rig->Updates().UpdateFeed(node);
        EXPECT_EQ(server.NumHits("/feed"), manual + 1) << c.name;
        EXPECT_FALSE(rig->Updates().PollingDeferred("1")) << c.name;
        EXPECT_TRUE(rig->Updates().RowState(node).Failure.isEmpty()) << c.name;
    }
}

}  // namespace
