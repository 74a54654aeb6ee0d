// The item store in the window: new items counted by the store through real
// update cycles (each case beside what the first-title rule answered), the
// first start with a base, a damaged base, marking read and unread, Next
// Unread, the page's marks, Find in Feeds, and a feed's full articles.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "ItemStore.h"
#include "PaneProtocol.h"
#include "ConfigSaver.h"
#include "FeedDocument.h"
#include "FeedPageFunctions.h"
#include "FeedUpdate.h"
#include "FixtureFile.h"
#include "ItemBase.h"
#include "ItemStore.h"
#include "LoopbackServer.h"
#include "ReadStateController.h"
#include "TimeBound.h"
#include "WebBrowser.h"
#include "fFindInFeeds.h"
#include "LightPane.h"
#include "NotifyController.h"
#include "fMain.h"

namespace {

namespace fs = std::filesystem;
using apptest::TStagedHome;
using apptest::WaitUntil;

std::string Fixture(const std::string& name) {
    return testsupport::ReadFixtureFile(std::string(QUILLET_TEST_DATA_DIR) + "/newitems/" + name);
}

class ItemStoreWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddHandler("/feed", [this](const testsupport::Request& request) {
            std::lock_guard lock(mutex);
            testsupport::Response response;
            response.headers = {{"Content-Type", "application/rss+xml"}};
            response.body = bodies[request.target];
            return response;
        });
    }
    void TearDown() override { form.reset(); }

    void Start() {
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();  // the tests drive the updates
        apptest::Notify(*form).UseClock(clock);
        ASSERT_TRUE(WaitUntil([&] { return form->Items().Base() && form->Items().Base()->Opened(); }));
    }
    void Serve(const std::string& id, const std::string& body) {
        std::lock_guard lock(mutex);
        bodies["/feed?" + id] = body;
    }
    QTreeWidgetItem* Feed(const std::string& id, const std::string& unread = "0", QTreeWidgetItem* folder = nullptr) {
        return apptest::AddStoredFeed(
            *form, {{"url", server.Url("/feed?" + id)}, {"id", id}, {"caption", "Feed " + id}, {"unread", unread}},
            folder);
    }
    std::string Unread(QTreeWidgetItem* node) { return std::to_string(TFeedTree::FeedOf(node)->Unread); }
    // The text of the page the reading pane's helper shows.
    QString PageText() {
        QString text;
        bool replied = false;
        form->ReadingPane->RequestPageText([&](const QString& t) {
            text = t;
            replied = true;
        });
        EXPECT_TRUE(WaitUntil([&] { return replied; }));
        return text;
    }
    // A feed of `count` items whose links are `linkLength` characters long.
    static std::string LongLinkFeed(int count, std::size_t linkLength) {
        std::string body =
            "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Long Links</title>"
            "<link>http://long.example/</link><description>d</description>";
        for (int i = 0; i < count; ++i) {
            std::string link = "http://long.example/" + std::to_string(i) + "/";
            link.resize(linkLength, 'x');
            body += "<item><title>Story " + std::to_string(i) + "</title><link>" + link + "</link></item>";
        }
        return body + "</channel></rss>";
    }
    std::string Status() { return form->StatusText(0).toStdString(); }

    TStagedHome home;
    apptest::TFakeAnnounceClock clock;
    testsupport::LoopbackServer server;
    std::mutex mutex;
    std::map<std::string, std::string> bodies;
    std::unique_ptr<TFormMain> form;
};

TEST_F(ItemStoreWindowTest, NewItemsAreThoseTheStoreNeverSaw) {
    struct Case {
        const char* name;
        int byStore;
        int byFirstTitle;  // what the replaced rule made of the same change
    };
    const Case cases[] = {
        {"added_at_top", 1, 1},   {"first_deleted", 0, 2},   {"first_title_edited", 0, 3}, {"reordered", 0, 1},
        {"moved_to_https", 0, 0}, {"drops_old_items", 1, 1}, {"deleted_and_added", 1, 3},
    };
    Start();
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string id = std::to_string(++n);
        const std::string before = Fixture(std::string(c.name) + ".before.xml");
        const std::string after = Fixture(std::string(c.name) + ".after.xml");
        QTreeWidgetItem* node = Feed(id);
        Serve(id, before);
        form->Updates().UpdateFeed(apptest::FeedId(node));
        feed::TFeedDocument a, b;
        a.LoadFromString(before);
        b.LoadFromString(after);
        EXPECT_EQ(Unread(node), std::to_string(a.Items().Count())) << "a first download is all unread";
        apptest::ChangeFeed(*form, node, [](feedlist::TFeedEntry& feed) { feed.Unread = 0; });
        apptest::Notify(*form).ForgetBalloon();
        clock.Advance(TAnnouncer::kMinSpacing);  // each case's balloon comes at once

        Serve(id, after);
        form->Updates().UpdateFeed(apptest::FeedId(node));
        EXPECT_EQ(Unread(node), std::to_string(c.byStore));
        EXPECT_EQ(apptest::Notify(*form).Balloon().FeedId.empty(), c.byStore == 0);

        const TNewItemCount old = CountNewItems(ComparableTitles(b), ComparableTitles(a));
        EXPECT_EQ(old.Count, c.byFirstTitle);
    }

    // A store that fails in the middle of a run (here a table gone) leaves
    // the counting to the stored copy's titles, and polling goes on.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(form->Items().Base()->Path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE unread", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    QTreeWidgetItem* node = Feed("99");
    Serve("99", Fixture("added_at_top.before.xml"));
    form->Updates().UpdateFeed(apptest::FeedId(node));
    apptest::ChangeFeed(*form, node, [](feedlist::TFeedEntry& feed) { feed.Unread = 0; });
    Serve("99", Fixture("added_at_top.after.xml"));
    form->Updates().UpdateFeed(apptest::FeedId(node));
    EXPECT_EQ(Unread(node), "1");
}

TEST_F(ItemStoreWindowTest, FirstStartWithABaseTakesStoredCopiesAsSeen) {
    // A home from before the store: a stored copy, two of its items unread.
    home.WriteFile("feeds/7.xml", Fixture("added_at_top.before.xml"));
    ASSERT_FALSE(fs::exists(home.Dir() / "items.db"));
    Start();
    QTreeWidgetItem* node = Feed("7", "2");
    ASSERT_TRUE(WaitUntil([&] { return form->Items().Base()->SeedingDone(); }));
    form->Items().BaseOpened();  // seeds again, now with the feed added above
    ASSERT_TRUE(WaitUntil([&] { return form->Items().Store()->UnreadCount("7") == 2; }));

    Serve("7", Fixture("added_at_top.after.xml"));
    form->Updates().UpdateFeed(apptest::FeedId(node));
    EXPECT_EQ(Unread(node), "3") << "the two unread ones and the one new item";
    EXPECT_EQ(apptest::Notify(*form).Balloon().Title.toStdString(), "Story 4");
}

TEST_F(ItemStoreWindowTest, DamagedBaseIsSetAsideAndRebuilt) {
    home.WriteFile("items.db", std::string(8192, 'x'));
    home.WriteFile("feeds/3.xml", Fixture("reordered.before.xml"));
    Start();
    QTreeWidgetItem* node = Feed("3");
    ASSERT_TRUE(WaitUntil([&] { return Status().find("kept as") != std::string::npos; })) << Status();
    bool aside = false;
    for (const auto& entry : fs::directory_iterator(home.Dir()))
        aside |= entry.path().filename().string().rfind("items.db.damaged", 0) == 0;
    EXPECT_TRUE(aside);
    // Rebuilt from the copy: the same items again are nothing new.
    Serve("3", Fixture("reordered.after.xml"));
    form->Updates().UpdateFeed(apptest::FeedId(node));
    EXPECT_EQ(Unread(node), "0");
    EXPECT_EQ(form->Items().Store()->ItemCount("3"), 3);
}

TEST_F(ItemStoreWindowTest, MarkReadAndUnreadFollowTheSelection) {
    Start();
    QTreeWidgetItem* folder = form->Tree().RowOf(form->Feeds().AddFolder("Harbour"));
    QTreeWidgetItem* a = Feed("1", "0", folder);
    QTreeWidgetItem* b = Feed("2", "0", folder);
    QTreeWidgetItem* c = Feed("3");
    for (const char* id : {"1", "2", "3"}) Serve(id, Fixture("added_at_top.before.xml"));
    for (QTreeWidgetItem* node : {a, b, c}) form->Updates().UpdateFeed(apptest::FeedId(node));
    EXPECT_EQ(folder->text(0).toStdString(), "Harbour (6)");

    struct Step {
        const char* what;
        std::function<void()> act;
        const char* a;
        const char* b;
        const char* c;
        const char* folderText;
    };
    const Step steps[] = {
        {"feed read", [&] { form->Items().MarkFeedsRead(form->Tree().FeedIdsUnder({a})); }, "0", "3", "3",
         "Harbour (3)"},
        {"feed unread", [&] { form->Items().MarkFeedsUnread(form->Tree().FeedIdsUnder({a})); }, "3", "3", "3",
         "Harbour (6)"},
        {"folder read", [&] { form->Items().MarkFeedsRead(form->Tree().FeedIdsUnder({folder})); }, "0", "0", "3",
         "Harbour"},
        {"all read", [&] { form->Actions().MarkAllRead->trigger(); }, "0", "0", "0", "Harbour"},
        {"folder unread", [&] { form->Items().MarkFeedsUnread(form->Tree().FeedIdsUnder({folder})); }, "3", "3", "0",
         "Harbour (6)"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(Unread(a), step.a);
        EXPECT_EQ(Unread(b), step.b);
        EXPECT_EQ(Unread(c), step.c);
        EXPECT_EQ(folder->text(0).toStdString(), step.folderText);
        EXPECT_EQ(form->Items().Store()->UnreadCount("1"), std::stoi(step.a));
        EXPECT_EQ(form->Items().Store()->UnreadCount("3"), std::stoi(step.c));
        EXPECT_EQ(a->font(0).bold(), std::string(step.a) != "0");
    }
    // Saved as update counts are: within the saver's few seconds.
    ASSERT_TRUE(apptest::ConfigSaver(*form).Pending());
    apptest::ConfigSaver(*form).SaveNow();
    EXPECT_NE(home.ReadFile("config.xml").find("unread=\"3\""), std::string::npos) << "saved";
}

TEST_F(ItemStoreWindowTest, NextUnreadWalksTheTreeAndWraps) {
    Start();
    QTreeWidgetItem* first = Feed("1", "2");
    QTreeWidgetItem* folder = form->Tree().RowOf(form->Feeds().AddFolder("Harbour"));
    QTreeWidgetItem* inside = Feed("2", "0", folder);
    QTreeWidgetItem* deeper = Feed("3", "4", folder);
    QTreeWidgetItem* last = Feed("4", "0");
    folder->setExpanded(false);
    form->Tree().setCurrentItem(inside);

    // Each feed reached is read before the next step.
    QTreeWidgetItem* expected[] = {deeper, first};
    for (QTreeWidgetItem* node : expected) {
        ASSERT_TRUE(form->Items().SelectNextUnread());
        EXPECT_EQ(form->Tree().currentItem(), node);
        form->Items().MarkFeedsRead(form->Tree().FeedIdsUnder({node}));
    }
    EXPECT_TRUE(folder->isExpanded()) << "opened to show the feed";
    EXPECT_FALSE(form->Items().SelectNextUnread());
    EXPECT_EQ(Status(), "No feed has unread items.");
    EXPECT_EQ(form->Tree().currentItem(), first);
    (void)last;
}

TEST_F(ItemStoreWindowTest, PageMarksTheUnreadItemsOfTheStoredCopy) {
    Start();
    QTreeWidgetItem* node = Feed("5");
    Serve("5", Fixture("added_at_top.before.xml"));
    form->Updates().UpdateFeed(apptest::FeedId(node));
    apptest::ChangeFeed(*form, node, [](feedlist::TFeedEntry& feed) { feed.Unread = 0; });
    form->Items().Store()->MarkFeedRead("5");
    Serve("5", Fixture("added_at_top.after.xml"));
    form->Updates().UpdateFeed(apptest::FeedId(node));

    quillet::TPageMarks marks;
    for (const std::string& key : form->Items().Store()->UnreadKeys("5")) marks.Unread.insert(key);
    ASSERT_EQ(marks.Unread.size(), 1u);
    QByteArray page;
    {
        const quillet::TPageMarksScope scope(&marks);
        ASSERT_TRUE(TWebBrowser::TransformLocalXml("feeds/5.xml", page));
    }
    const std::string html = page.toStdString();
    EXPECT_EQ(std::string(html).find("class=\"item new\""), html.rfind("class=\"item new\"")) << "exactly one";
    EXPECT_NE(html.find("class=\"item new\""), std::string::npos) << html;
    const std::string anchor = quillet::ItemAnchor(*marks.Unread.begin());
    EXPECT_NE(html.find("href=\"#" + anchor + "\">1 new</a>"), std::string::npos) << html;
    EXPECT_NE(html.find("id=\"" + anchor + "\""), std::string::npos);

    // Without marks the page is as before: nothing new, and no anchors.
    ASSERT_TRUE(TWebBrowser::TransformLocalXml("feeds/5.xml", page));
    EXPECT_EQ(page.toStdString().find("class=\"item new\""), std::string::npos);
    EXPECT_EQ(page.toStdString().find("1 new"), std::string::npos);
    EXPECT_EQ(page.toStdString().find("id=\"" + anchor + "\""), std::string::npos);

    // The page on show follows Mark All as Read: "1 new" and its mark go.
    ASSERT_TRUE(apptest::ShowFeedOnScreen(*form, node));
    const auto newOnPage = [&] { return form->ReadingPane->LightPane()->toPlainText().contains("1 new"); };
    ASSERT_TRUE(WaitUntil(newOnPage));
    EXPECT_EQ(form->ReadingPane->Marks().value("unread").toArray().size(), 1);
    form->Actions().MarkAllRead->trigger();
    EXPECT_TRUE(form->ReadingPane->Marks().value("unread").toArray().isEmpty());
    EXPECT_TRUE(WaitUntil([&] { return !newOnPage(); }));
}

TEST_F(ItemStoreWindowTest, FindInFeedsShowsTheChosenItem) {
    Start();
    QTreeWidgetItem* a = Feed("1");
    QTreeWidgetItem* b = Feed("2");
    Serve("1", Fixture("added_at_top.after.xml"));
    Serve("2", Fixture("first_title_edited.after.xml"));
    form->Updates().UpdateFeed(apptest::FeedId(a));
    form->Updates().UpdateFeed(apptest::FeedId(b));
    form->Tree().setCurrentItem(a);

    form->Actions().FindInFeeds->trigger();
    ASSERT_TRUE(form->Items().FindInFeeds());
    form->Items().FindInFeeds()->SearchText->setText("correct");  // a prefix, as typed so far
    form->Items().FindInFeeds()->SearchNow();
    ASSERT_EQ(form->Items().FindInFeeds()->SearchResults->topLevelItemCount(), 1);
    EXPECT_EQ(form->Items().FindInFeeds()->SearchResults->topLevelItem(0)->text(0).toStdString(), "Feed 2");
    EXPECT_EQ(form->Items().FindInFeeds()->SearchResults->topLevelItem(0)->text(1).toStdString(),
              "Story 1 (corrected)");

    form->Items().FindInFeeds()->Choose(0);
    EXPECT_EQ(form->Tree().currentItem(), b);
    EXPECT_EQ(form->ReadingPane->Marks().value("target").toString().toStdString(), "g:http://harbour.example/1");
    EXPECT_EQ(Unread(b), "3") << "never on screen, so nothing is read";

    form->Items().FindInFeeds()->SearchText->setText("Story");
    form->Items().FindInFeeds()->SearchNow();
    EXPECT_EQ(form->Items().FindInFeeds()->SearchResults->topLevelItemCount(), 7);

    // Down in the field goes into the results; their dates are read whole.
    TFormFindInFeeds& find = *form->Items().FindInFeeds();
    find.show();
    find.activateWindow();
    find.SearchText->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return find.SearchText->hasFocus(); }, 5000));
    QTest::keyClick(find.SearchText, Qt::Key_Down);
    EXPECT_TRUE(find.SearchResults->hasFocus());
    EXPECT_EQ(find.SearchResults->currentItem(), find.SearchResults->topLevelItem(0));
    QTest::keyClick(find.SearchResults, Qt::Key_Down);
    EXPECT_EQ(find.SearchResults->currentItem(), find.SearchResults->topLevelItem(1));
    const QString date = find.SearchResults->topLevelItem(0)->text(2);
    EXPECT_GE(find.SearchResults->columnWidth(2), find.SearchResults->fontMetrics().horizontalAdvance(date))
        << date.toStdString();
}

// Read state follows what the pane showed: a page never on screen, or one
// whose helper cannot start, marks nothing; a page whose keys pass the
// protocol's line bound many times over is shown, marked and then read.
TEST_F(ItemStoreWindowTest, OnlyAPageShownCountsAsRead) {
    Start();
    form->ReadingPane->SetKind(TReadingPane::TKind::Engine);  // a helper that cannot start
    QTreeWidgetItem* node = Feed("8");
    Serve("8", LongLinkFeed(2000, 600));
    form->Updates().UpdateFeed(apptest::FeedId(node));
    ASSERT_EQ(Unread(node), "2000");

    apptest::ShowFeed(*form, node);  // the window is hidden: only remembered
    WaitUntil([] { return false; }, 200);
    EXPECT_EQ(Unread(node), "2000");

    qputenv("QUILLET_PANE_PROGRAM", "/nonexistent/quillet-pane");
    QSignalSpy failed(form->ReadingPane, &TReadingPane::BrowserFailed);
    form->show();
    ASSERT_TRUE(WaitUntil([&] { return failed.count() > 0; }));
    qputenv("QUILLET_PANE_PROGRAM", QUILLET_PANE_PROGRAM_PATH);
    EXPECT_EQ(Unread(node), "2000");
    EXPECT_EQ(form->Items().Store()->UnreadCount("8"), 2000);

    ASSERT_TRUE(apptest::ShowFeedOnScreen(*form, node));
    EXPECT_TRUE(PageText().contains("2000 new"));
    EXPECT_EQ(Unread(node), "0");
    EXPECT_EQ(form->Items().Store()->UnreadCount("8"), 0);
}

// Moving the shown feed (Move To) leaves the row that takes its place
// unshown and unread; a rename shows under the new name; a delete leaves
// no page of the deleted feed and selects its folder, not another feed.
TEST_F(ItemStoreWindowTest, MovingRenamingOrDeletingTheShownFeedTouchesNoOtherFeed) {
    Start();
    QTreeWidgetItem* folder = form->Tree().RowOf(form->Feeds().AddFolder("Harbour"));
    QTreeWidgetItem* shown = Feed("1");
    QTreeWidgetItem* next = Feed("2");
    for (const char* id : {"1", "2"}) Serve(id, Fixture("added_at_top.before.xml"));
    for (QTreeWidgetItem* node : {shown, next}) form->Updates().UpdateFeed(apptest::FeedId(node));
    ASSERT_TRUE(apptest::ShowFeedOnScreen(*form, shown));
    const QString page = form->ReadingPane->LocationURL();

    ASSERT_TRUE(apptest::MoveSelectedTo(*form, "Harbour"));
    EXPECT_EQ(shown->parent(), folder);
    EXPECT_EQ(form->Tree().currentItem(), shown);
    EXPECT_EQ(form->ReadingPane->LocationURL(), page) << "the next row was shown";
    EXPECT_EQ(Unread(next), "3");
    EXPECT_EQ(form->Items().Store()->UnreadCount("2"), 3);

    form->Feeds().Rename(TFeedTree::EntryOf(shown), "Renamed Harbour");
    EXPECT_TRUE(WaitUntil([&] { return PageText().contains("Renamed Harbour"); }));

    form->Feeds().DeleteFeed(TFeedTree::EntryOf(shown));
    WaitUntil([] { return false; }, 500);
    EXPECT_EQ(form->Tree().currentItem(), folder);
    EXPECT_FALSE(PageText().contains("Story 1"));
    EXPECT_NE(form->ReadingPane->LocationURL(), page);
    EXPECT_EQ(Unread(next), "3");
    EXPECT_EQ(form->Items().Store()->UnreadCount("2"), 3);
}

// Another process writing items.db for as long as it likes: selecting feeds
// never waits on it, and what was shown is marked read once it lets go.
TEST_F(ItemStoreWindowTest, AWriteHeldOnTheBaseNeverHoldsTheWindow) {
    Start();
    std::vector<QTreeWidgetItem*> feeds;
    for (const char* id : {"1", "2", "3"}) {
        feeds.push_back(Feed(id));
        Serve(id, Fixture("added_at_top.before.xml"));
        form->Updates().UpdateFeed(apptest::FeedId(feeds.back()));
    }
    ASSERT_TRUE(apptest::ShowFeedOnScreen(*form, feeds[2]));

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(form->Items().Base()->Path().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; DELETE FROM unread WHERE feed = 'none'", nullptr, nullptr, nullptr),
              SQLITE_OK);
    // The longest the window's thread went without turning its loop.
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] { longest = std::max(longest, sinceTick.restart()); });
    const auto bound = testsupport::TimeBound(std::chrono::milliseconds(100)).count();
    for (QTreeWidgetItem* node : {feeds[0], feeds[1]}) {
        SCOPED_TRACE(apptest::FeedId(node));
        QElapsedTimer selection;
        selection.start();
        form->Tree().setCurrentItem(node);
        EXPECT_LT(selection.elapsed(), bound);
        sinceTick.start();
        longest = 0;
        ticks.start(5);
        ASSERT_TRUE(WaitUntil([&] { return form->Items().ShownPage().Marked; }));
        WaitUntil([] { return false; }, 300);
        ticks.stop();
        EXPECT_LT(longest, bound);
        EXPECT_EQ(Unread(node), "3") << "nothing could be marked yet";
    }
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(WaitUntil([&] { return Unread(feeds[0]) == "0" && Unread(feeds[1]) == "0"; }));
    EXPECT_EQ(form->Items().Store()->UnreadCount("1"), 0);
    EXPECT_EQ(form->Items().Store()->UnreadCount("3"), 0);
}

}  // namespace

TEST_F(ItemStoreWindowTest, AFeedWithFullArticlesShowsThemAfterItsUpdateAndOnRequest) {
    server.AddEndpoint("/post", 200, {{"Content-Type", "text/html"}},
                       testsupport::ReadFixtureFile(QUILLET_TEST_DATA_DIR "/extract/wordpress_blog.html"));
    Start();
    QTreeWidgetItem* node = Feed("9");
    apptest::ChangeFeed(*form, node, [](feedlist::TFeedEntry& feed) { feed.FullArticle = true; });
    Serve("9", "<rss version=\"2.0\"><channel><title>Blog</title><item><title>Post</title><link>" +
                   server.Url("/post") +
                   "</link><guid>urn:p1</guid><description>Teaser only</description></item></channel></rss>");
    form->Updates().UpdateFeed(apptest::FeedId(node));
    ASSERT_TRUE(WaitUntil(
        [&] { return form->Items().Store()->Article("9", "g:urn:p1").State == items::TArticleState::Fetched; }));
    ASSERT_TRUE(apptest::ShowFeedOnScreen(*form, node));
    const QString text = PageText();
    EXPECT_TRUE(text.contains("rebuilt the sourdough starter")) << text.toStdString();
    EXPECT_FALSE(text.contains("Teaser only"));
    EXPECT_TRUE(text.contains("Original page"));

    // The page's link asks the window, which fetches and never opens it.
    bool cancel = false;
    form->ReadingPane->OnBeforeNavigate(pane::ArticleRequestAddress("9", "g:urn:p1"), cancel);
    EXPECT_TRUE(cancel);
    EXPECT_TRUE(WaitUntil([&] { return server.NumHits("/post") == 2; }));
}
