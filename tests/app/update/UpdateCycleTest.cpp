// The feed update cycle end to end: the update controller and its parts in
// a staged working directory, feeds served by a loopback server, and the
// stored copies, elements, row texts and status messages that result; then
// the window's own wiring of it (the pane, the actions, start-up, closing).
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "FeedUpdate.h"
#include "LoopbackServer.h"
#include "ReadStateController.h"
#include "UpdateRig.h"
#include "WebBrowser.h"
#include "NotifyController.h"
#include "fMain.h"

namespace {

namespace fs = std::filesystem;
using apptest::TStagedHome;
using apptest::WaitUntil;
using testsupport::LoopbackServer;
using testsupport::Response;

std::string Rss(const std::string& channelTitle, const std::vector<std::string>& titles) {
    std::string body = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel>";
    if (!channelTitle.empty()) body += "<title>" + channelTitle + "</title>";
    body += "<link>http://example.invalid/</link><description>News</description>";
    for (const std::string& title : titles)
        body += "<item><title>" + title + "</title><description>About &lt;b&gt;" + title +
                "&lt;/b&gt; today</description></item>";
    return body + "</channel></rss>";
}

// A server of one feed and the stored feeds' attributes, for the rig and
// the window alike.
class ServedFeedTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddHandler("/feed", [this](const testsupport::Request&) {
            std::lock_guard lock(bodyMutex);
            Response response;
            response.headers = {{"Content-Type", "application/rss+xml"}};
            response.body = body;
            return response;
        });
    }
    void Serve(const std::string& text) {
        std::lock_guard lock(bodyMutex);
        body = text;
    }
    static std::vector<std::pair<std::string, std::string>> Stored(const std::string& id, const std::string& url,
                                                                   const std::string& caption,
                                                                   const std::string& unread) {
        return {{"url", url}, {"id", id}, {"caption", caption}, {"unread", unread}, {"lastupdate", "earlier"}};
    }
    virtual TOptions& Options() = 0;
    std::string Attr(const std::string& id, const char* name) {
        return apptest::StoredFeedElement(Options(), id).Attribute(name).value_or("<absent>");
    }
    void SetOption(const char* path, const std::string& value) { Options().GetConfigNode(path).SetText(value); }

    TStagedHome home;
    std::mutex bodyMutex;
    std::string body;
    LoopbackServer server;
};

class UpdateCycleTest : public ServedFeedTest {
protected:
    void SetUp() override {
        ServedFeedTest::SetUp();
        rig = std::make_unique<apptest::TUpdateRig>();
        rig->Notify().UseClock(clock);
    }
    void TearDown() override { rig.reset(); }
    TOptions& Options() override { return rig->Options(); }

    std::string AddStoredFeed(const std::string& id, const std::string& url, const std::string& caption = "",
                              const std::string& unread = "0") {
        return feedlist::IdText(rig->AddStoredFeed(Stored(id, url, caption, unread))->Feed());
    }
    void ChangeFeed(const std::string& id, const std::function<void(feedlist::TFeedEntry&)>& change) {
        rig->List().UpdateFeed(*rig->List().FindFeed(id), change);
    }
    void Delete(const std::string& id) { rig->Feeds().DeleteFeed(rig->List().FindFeed(id)); }
    std::string Status() { return rig->Status().toStdString(); }
    const TNotifyController::TBalloon& Balloon() { return rig->Notify().Balloon(); }
    // Also lets the pause between two notifications pass, so the next
    // update's balloon comes at once.
    void ForgetBalloon() {
        clock.Advance(TAnnouncer::kMinSpacing);
        rig->Notify().ForgetBalloon();
    }

    apptest::TFakeAnnounceClock clock;
    std::unique_ptr<apptest::TUpdateRig> rig;
};

TEST_F(UpdateCycleTest, FirstDownloadThenAnIdenticalOne) {
    const std::string feed = AddStoredFeed("1", server.Url("/feed"));
    Serve(Rss("Daily", {"A", "B", "C"}));

    rig->Updates().UpdateFeed(feed);
    EXPECT_EQ(Attr(feed, "unread"), "3");
    EXPECT_EQ(Attr(feed, "caption"), "Daily");
    EXPECT_EQ(rig->Caption(feed), "Daily (3)");
    EXPECT_NE(Attr(feed, "lastupdate"), "earlier");
    EXPECT_TRUE(Balloon().FeedId.empty()) << "no balloon for a first download";
    // The display text when the update began: the address, standing in
    // for the empty caption.
    EXPECT_EQ(Status(), "Updated 127.0.0.1:" + std::to_string(server.Port()) + "/feed");
    const std::string stored = home.ReadFile("feeds/1.xml");
    EXPECT_NE(stored.find("<?xml-stylesheet"), std::string::npos) << stored;
    EXPECT_NE(stored.find("../rss.xsl"), std::string::npos);
    EXPECT_NE(stored.find("<title>A</title>"), std::string::npos);
    // The copy renders through the delivered stylesheet, descriptions as markup.
    QByteArray page;
    ASSERT_TRUE(TWebBrowser::TransformLocalXml("feeds/1.xml", page));
    EXPECT_TRUE(page.contains("<h1>")) << page.constData();
    EXPECT_TRUE(page.contains("About <b>B</b> today")) << page.constData();

    // The same content again: nothing new, but the copy and the time renew.
    ChangeFeed(feed, [&](feedlist::TFeedEntry& entry) { entry.LastUpdate = "earlier"; });
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time("feeds/1.xml", old);
    rig->Updates().UpdateFeed(feed);
    EXPECT_EQ(Attr(feed, "unread"), "3");
    EXPECT_TRUE(Balloon().FeedId.empty());
    EXPECT_GT(fs::last_write_time("feeds/1.xml"), old);
    EXPECT_NE(Attr(feed, "lastupdate"), "earlier");
    EXPECT_EQ(Status(), "Updated Daily (3)");
}

TEST_F(UpdateCycleTest, StatusMessagesFrameTheDownload) {
    const std::string feed = AddStoredFeed("1", server.Url("/feed"), "Mine");
    Serve(Rss("Daily", {"A"}));
    const std::shared_ptr<TFeedUpdate> update = rig->Updates().BeginFeedUpdate(feed);
    ASSERT_TRUE(update);
    EXPECT_EQ(Status(), "Updating Mine...");
    update->Fetch();
    EXPECT_EQ(Status(), "Updating Mine...");  // the download changes nothing visible
    EXPECT_FALSE(fs::exists("feeds/1.xml"));
    update->Finish();
    EXPECT_EQ(Status(), "Updated Mine");
    EXPECT_TRUE(fs::exists("feeds/1.xml"));
}

TEST_F(UpdateCycleTest, CountsNewItemsAgainstTheFirstStoredTitle) {
    // The rule that counts where there is no item store.
    rig->Items().CloseBase();
    struct Case {
        const char* name;
        std::vector<std::string> stored, downloaded;
        std::string unreadBefore, unreadAfter;
        std::string balloonTitle, balloonText;  // "" when no balloon
    } cases[] = {
        {"old first title further down",
         {"A", "B", "C"},
         {"X", "Y", "A", "B"},
         "1",
         "3",
         "Daily: 2 new items",
         "X\nY\n"},
        {"old first title gone", {"A", "B", "C"}, {"X", "Y", "Z", "W"}, "1", "3", "Daily: 3 new items", "X\nY\nZ\n"},
        {"one new item", {"A", "B"}, {"N", "A", "B"}, "4", "5", "N", "About N today"},
        {"nothing new", {"A", "B", "C"}, {"A", "B", "C"}, "2", "2", "", ""},
        {"download without items", {"A", "B", "C"}, {}, "2", "2", "", ""},
        {"stored copy without items", {}, {"X", "Y"}, "0", "2", "Daily: 2 new items", "X\nY\n"},
        {"titles with entities",
         {"1 &lt; 2"},
         {"new &amp; shiny", "1 &lt; 2"},
         "0",
         "1",
         "new & shiny",
         "About new & shiny today"},
    };
    int id = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string feed = AddStoredFeed(std::to_string(++id), server.Url("/feed"));
        Serve(Rss("Daily", c.stored));
        rig->Updates().UpdateFeed(feed);
        ASSERT_TRUE(fs::exists("feeds/" + std::to_string(id) + ".xml"));
        ChangeFeed(feed, [&](feedlist::TFeedEntry& entry) { entry.Unread = std::stoll(c.unreadBefore); });
        ForgetBalloon();

        Serve(Rss("Daily", c.downloaded));
        rig->Updates().UpdateFeed(feed);
        EXPECT_EQ(Attr(feed, "unread"), c.unreadAfter);
        EXPECT_EQ(Balloon().Title.toStdString(), c.balloonTitle);
        EXPECT_EQ(Balloon().Text.toStdString(), c.balloonText);
        EXPECT_EQ(Balloon().FeedId, c.balloonTitle.empty() ? "" : std::to_string(id));
        EXPECT_EQ(rig->Caption(feed), c.unreadAfter == "0" ? "Daily" : "Daily (" + c.unreadAfter + ")");
    }
}

TEST_F(UpdateCycleTest, CaptionComesFromTheChannelOnlyWhenEmpty) {
    const std::string named = AddStoredFeed("1", server.Url("/feed"), "My name");
    const std::string untitled = AddStoredFeed("2", server.Url("/feed"));
    Serve(Rss("Daily", {"A"}));
    rig->Updates().UpdateFeed(named);
    EXPECT_EQ(Attr(named, "caption"), "My name");
    EXPECT_EQ(rig->Caption(named), "My name (1)");

    Serve(Rss("", {"A"}));
    rig->Updates().UpdateFeed(untitled);
    EXPECT_EQ(Attr(untitled, "caption"), "Title Required");
}

TEST_F(UpdateCycleTest, FailedDownloadsChangeNothingButTheStatus) {
    server.AddEndpoint("/missing", 404, {}, "gone");
    server.AddEndpoint("/broken", 200, {}, "<rss version=\"2.0\"><channel><title>cut");
    server.AddEndpoint("/html", 200, {}, "<html><body>not a feed</body></html>");
    struct Case {
        const char* name;
        std::string url;
        std::string messagePart;
    } cases[] = {
        {"404", server.Url("/missing"), "404"},
        {"refused", "http://127.0.0.1:1/feed", "127.0.0.1"},
        {"malformed XML", server.Url("/broken"), ""},
        {"unknown format", server.Url("/html"), "unkown format"},
    };
    const std::string previous =
        "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>Kept</title>"
        "<item><title>Old</title></item></channel></rss>\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        home.WriteFile("feeds/5.xml", previous);
        const std::string feed = AddStoredFeed("5", c.url, "Kept", "2");
        rig->Updates().UpdateFeed(feed);
        const std::string status = Status();
        EXPECT_EQ(status.rfind("Could not update Kept (2) - ", 0), 0u) << status;
        EXPECT_GT(status.size(), std::string("Could not update Kept (2) - ").size());
        EXPECT_NE(status.find(c.messagePart), std::string::npos) << status;
        EXPECT_EQ(home.ReadFile("feeds/5.xml"), previous);
        EXPECT_EQ(Attr(feed, "lastupdate"), "earlier");
        EXPECT_EQ(Attr(feed, "unread"), "2");
        Delete(feed);
    }
}

TEST_F(UpdateCycleTest, IdThatIsNoNumberIsGivenOneInsteadOfNamingAnotherFile) {
    Serve(Rss("Daily", {"A"}));
    // As a hand-edited config.xml would hold it: the list numbers it anew.
    const std::string feed = AddStoredFeed("../escape", server.Url("/feed"), "Odd");
    const std::string id = feed;
    ASSERT_TRUE(IsValidFeedId(id)) << id;
    rig->Updates().UpdateFeed(id);
    EXPECT_FALSE(fs::exists("escape.xml"));
    EXPECT_TRUE(fs::exists(StoredCopyPath(id)));
    EXPECT_EQ(apptest::StoredFeedElement(Options(), id).Attribute("url"), server.Url("/feed"));
}

TEST_F(UpdateCycleTest, UnreadableStoredCopyIsReplaced) {
    home.WriteFile("feeds/3.xml", "this is not XML");
    const std::string feed = AddStoredFeed("3", server.Url("/feed"), "", "7");
    Serve(Rss("Daily", {"A", "B"}));
    rig->Updates().UpdateFeed(feed);
    EXPECT_EQ(Attr(feed, "unread"), "2");
    EXPECT_TRUE(Balloon().FeedId.empty());
    EXPECT_NE(home.ReadFile("feeds/3.xml").find("<title>A</title>"), std::string::npos);
    // An empty caption shows the address, with the count.
    EXPECT_EQ(Status(), "Updated 127.0.0.1:" + std::to_string(server.Port()) + "/feed (7)");
}

TEST_F(UpdateCycleTest, MissingFeedsFolderIsCreated) {
    fs::remove_all("feeds");
    const std::string feed = AddStoredFeed("4", server.Url("/feed"));
    Serve(Rss("Daily", {"A"}));
    rig->Updates().UpdateFeed(feed);
    EXPECT_TRUE(fs::exists("feeds/4.xml"));
}

TEST_F(UpdateCycleTest, FeedDeletedDuringItsDownloadIsDropped) {
    const std::string feed = AddStoredFeed("6", server.Url("/feed"), "Gone");
    Serve(Rss("Daily", {"A"}));
    const std::shared_ptr<TFeedUpdate> update = rig->Updates().BeginFeedUpdate(feed);
    update->Fetch();
    Delete(feed);
    update->Finish();
    EXPECT_FALSE(fs::exists("feeds/6.xml"));
    EXPECT_EQ(Status(), "Updating Gone...");
}

TEST_F(UpdateCycleTest, OptionsAreReadForEveryUpdate) {
    const std::string feed = AddStoredFeed("1", server.Url("/feed"));
    struct Case {
        const char *secure, *follow;
        bool expectSecure, expectFollow;
    } cases[] = {{"True", "False", true, false}, {"False", "True", false, true}, {"", "junk", false, false}};
    for (const Case& c : cases) {
        SetOption("general\\SecureFeeds", c.secure);
        SetOption("general\\FollowRedirects", c.follow);
        const auto update = rig->Updates().BeginFeedUpdate(feed);
        EXPECT_EQ(update->Request().Options.secureFeeds, c.expectSecure) << c.secure;
        EXPECT_EQ(update->Request().Options.followRedirects, c.expectFollow) << c.follow;
    }

    const std::pair<const char*, int> intervals[] = {{"5", 5}, {"0", 0}, {"", 60}, {"soon", 60}, {"-3", 0}};
    for (const auto& [text, seconds] : intervals) {
        SetOption("general\\UpdateInterval", text);
        EXPECT_EQ(rig->Updates().UpdateIntervalSeconds(), seconds) << text;
    }
}

TEST_F(UpdateCycleTest, ManualUpdateWhileThePollingThreadDownloads) {
    Response slow;
    slow.body = Rss("Slow", {"S1", "S2"});
    slow.fault = testsupport::Fault::SlowBody;
    slow.slowChunkSize = 16;
    slow.slowDelay = std::chrono::milliseconds(20);
    server.AddEndpoint("/slow", slow);
    const std::string polled = AddStoredFeed("1", server.Url("/slow"));
    const std::string manual = AddStoredFeed("2", server.Url("/feed"));
    Serve(Rss("Fast", {"F1"}));
    SetOption("general\\UpdateInterval", "3600");

    rig->Updates().Start();
    ASSERT_TRUE(WaitUntil([&] { return server.NumHits("/slow") > 0; }));
    rig->Updates().UpdateFeed(manual);
    EXPECT_EQ(Attr(manual, "caption"), "Fast");
    EXPECT_EQ(Attr(manual, "unread"), "1");
    // The polling thread's update completes too, on the user-interface thread.
    ASSERT_TRUE(WaitUntil([&] { return Attr(polled, "caption") == "Slow"; }));
    EXPECT_EQ(Attr(polled, "unread"), "2");
    EXPECT_TRUE(fs::exists("feeds/1.xml"));
    rig->Updates().Stop();
}

TEST_F(UpdateCycleTest, NewItemsCountAgainstTheStoredCopyAsItIsWhenTheResultArrives) {
    // The previous stored copy is read while a download runs. If another
    // update of the feed stores a newer copy before this result is applied,
    // the count must use the newer copy, not the one read earlier. (The
    // copies count where there is no item store.)
    rig->Items().CloseBase();
    const std::string feed = AddStoredFeed("1", server.Url("/feed"));
    Serve(Rss("Daily", {"A", "B", "C", "D", "E"}));
    rig->Updates().UpdateFeed(feed);
    ASSERT_EQ(Attr(feed, "unread"), "5");

    Serve(Rss("Daily", {"X", "A", "B", "C", "D", "E"}));
    const std::shared_ptr<TFeedUpdate> slow = rig->Updates().BeginFeedUpdate(feed);
    slow->Fetch();  // reads the copy that starts with A
    ASSERT_NE(slow->PreviousTitles(), nullptr);

    Serve(Rss("Daily", {"Y", "X", "A", "B", "C", "D", "E"}));
    rig->Updates().UpdateFeed(feed);  // Y and X are new
    ASSERT_EQ(Attr(feed, "unread"), "7") << Status();

    // The current copy starts with Y, which the slow download lacks: its
    // six items count as new. The copy read earlier would have given one.
    slow->Finish();
    EXPECT_EQ(Attr(feed, "unread"), "13");

    // Nothing stored in between: the copy read during the download serves.
    Serve(Rss("Daily", {"Z", "X", "A", "B", "C", "D", "E"}));
    const std::shared_ptr<TFeedUpdate> next = rig->Updates().BeginFeedUpdate(feed);
    next->Fetch();
    next->Finish();
    EXPECT_EQ(Attr(feed, "unread"), "14");
}

TEST_F(UpdateCycleTest, AddedFeedIsFetchedAtOnceAndSaved) {
    Serve(Rss("Daily", {"A", "B"}));
    const std::string added = feedlist::IdText(rig->Feeds().AddFeed(server.Url("/feed"))->Feed());
    EXPECT_EQ(Attr(added, "caption"), "Daily");
    EXPECT_EQ(Attr(added, "unread"), "2");
    // AddFeed saves after the update: the saved file has the caption.
    EXPECT_NE(home.ReadFile("config.xml").find("caption=\"Daily\""), std::string::npos);
}

// The window's wiring of the update cycle: the page on show, the Update Feed
// action, polling at start-up and closing during a download.
class UpdateCycleWindowTest : public ServedFeedTest {
protected:
    void SetUp() override {
        ServedFeedTest::SetUp();
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
    }
    void TearDown() override { form.reset(); }
    TOptions& Options() override { return form->Options(); }
    std::string AddStoredFeed(const std::string& id, const std::string& url, const std::string& caption = "") {
        return apptest::FeedId(apptest::AddStoredFeed(*form, Stored(id, url, caption, "0")));
    }
    QTreeWidgetItem* Row(const std::string& id) { return form->Tree().FindFeedNodeById(id); }
    const TNotifyController::TBalloon& Balloon() { return apptest::Notify(*form).Balloon(); }

    std::unique_ptr<TFormMain> form;
};

TEST_F(UpdateCycleWindowTest, SelectedFeedWithNewsIsShownAndCleared) {
    const std::string id = AddStoredFeed("8", server.Url("/feed"));
    Serve(Rss("Daily", {"A"}));
    form->Updates().UpdateFeed(id);
    ASSERT_TRUE(apptest::ShowFeedOnScreen(*form, Row(id)));  // seen: unread back to 0
    EXPECT_EQ(Attr(id, "unread"), "0");

    Serve(Rss("Daily", {"B", "A"}));
    form->Updates().UpdateFeed(id);
    EXPECT_EQ(Balloon().Title.toStdString(), "B");
    // Shown again with the news, which counts once the pane has shown it.
    EXPECT_TRUE(WaitUntil([&] { return form->Items().ShownPage().Marked && Attr(id, "unread") == "0"; }));
    EXPECT_EQ(Row(id)->text(0).toStdString(), "Daily");
    EXPECT_TRUE(form->ReadingPane->LocationURL().endsWith("/feeds/8.xml"));
}

TEST_F(UpdateCycleWindowTest, UpdateFeedActionFetchesTheSelectedFeedAtOnce) {
    const std::string id = AddStoredFeed("1", server.Url("/feed"));
    Serve(Rss("Daily", {"A", "B"}));
    form->Updates().UpdateFeed(id);

    Serve(Rss("Daily", {"C", "A", "B"}));
    form->Tree().setCurrentItem(form->Tree().RootNode());
    form->Actions().UpdateFeed->trigger();  // the root: nothing to update
    EXPECT_EQ(Attr(id, "unread"), "2");
    form->Tree().setCurrentItem(Row(id));
    form->Actions().UpdateFeed->trigger();
    EXPECT_EQ(Balloon().Title.toStdString(), "C");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(UpdateCycleWindowTest, ClosingDuringASlowDownloadIsQuickAndSaves) {
    Response hang;
    hang.fault = testsupport::Fault::NeverAnswer;
    server.AddEndpoint("/hang", hang);
    AddStoredFeed("1", server.Url("/hang"), "Hanging");
    form->Updates().Start();
    ASSERT_TRUE(WaitUntil([&] { return server.NumHits("/hang") > 0 || server.NumConnections() > 0; }));
    QElapsedTimer clock;
    clock.start();
    form->close();
    form.reset();
    EXPECT_LT(clock.elapsed(), 2000);
    const std::string config = home.ReadFile("config.xml");
    EXPECT_NE(config.find("Hanging"), std::string::npos) << config;
}

TEST_F(UpdateCycleWindowTest, PollingStartsByItselfOnceTheEventLoopRunsUnlessStoppedFirst) {
    AddStoredFeed("1", server.Url("/feed"));
    Serve(Rss("Daily", {"A"}));
    SetOption("general\\UpdateInterval", "3600");
    form->Options().Save();
    form.reset();

    // Shown as at start-up: the first feed is fetched at once, after the
    // window has come up rather than during its construction.
    form = std::make_unique<TFormMain>();
    EXPECT_EQ(server.NumHits("/feed"), 0) << "fetched while the window was being built";
    form->ShowAtStartup();
    ASSERT_TRUE(WaitUntil([&] { return server.NumHits("/feed") > 0; }, 5000));
    ASSERT_TRUE(WaitUntil([&] { return Attr("1", "caption") == "Daily"; }));
    form.reset();

    // Never shown (started to the tray, say): polling starts all the same.
    const int hits = server.NumHits("/feed");
    form = std::make_unique<TFormMain>();
    ASSERT_TRUE(WaitUntil([&] { return server.NumHits("/feed") > hits; }, 5000));
    form.reset();

    // A stop before the event loop runs cancels the pending start.
    form = std::make_unique<TFormMain>();
    form->Updates().Stop();
    form->ShowAtStartup();
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(server.NumHits("/feed"), hits + 1);
}

}  // namespace
