// The item store in the window: new items counted by the store through real
// update cycles (each case beside what the first-title rule answered), the
// first start with a base, a damaged base, marking read and unread, Next
// Unread, the page's marks and Find in Feeds.
#include <QJsonArray>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "ConfigSaver.h"
#include "FeedDocument.h"
#include "FeedPageFunctions.h"
#include "FeedUpdate.h"
#include "FixtureFile.h"
#include "ItemBase.h"
#include "ItemStore.h"
#include "LoopbackServer.h"
#include "WebBrowser.h"
#include "fFindInFeeds.h"
#include "fMain.h"

namespace {

namespace fs = std::filesystem;
using apptest::TStagedHome;
using apptest::WaitUntil;

std::string Fixture(const std::string& name)
{
    return testsupport::ReadFixtureFile(std::string(QUILLET_TEST_DATA_DIR) + "/newitems/" + name);
}

class ItemStoreWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.AddHandler("/feed", [this](const testsupport::Request& request) {
            std::lock_guard lock(mutex);
            testsupport::Response response;
            response.headers = {{"Content-Type", "application/rss+xml"}};
            response.body = bodies[request.target];
            return response;
        });
    }
    void TearDown() override { form.reset(); }

    void Start()
    {
        form = std::make_unique<TFormMain>();
        form->StopUpdateThread();  // the tests drive the updates
        form->UseAnnounceClock(clock);
        ASSERT_TRUE(WaitUntil([&] { return form->FItemBase && form->FItemBase->Opened(); }));
    }
    void Serve(const std::string& id, const std::string& body)
    {
        std::lock_guard lock(mutex);
        bodies["/feed?" + id] = body;
    }
    QTreeWidgetItem* Feed(const std::string& id, const std::string& unread = "0", QTreeWidgetItem* folder = nullptr)
    {
        xml::Node container = folder ? static_cast<TFolderNode*>(folder)->Folder()
                                     : form->Options().GetConfigNode("internal\\feedlist\\items");
        xml::Node item = container.AppendElement("item");
        item.SetAttribute("url", server.Url("/feed?" + id));
        item.SetAttribute("id", id);
        item.SetAttribute("caption", "Feed " + id);
        item.SetAttribute("unread", unread);
        return form->AddFeedNode(item, folder);
    }
    std::string Unread(QTreeWidgetItem* node) { return form->GetFeedItem(node).Attribute("unread").value_or(""); }
    std::string Status() { return form->StatusText(0).toStdString(); }

    TStagedHome home;
    apptest::TFakeAnnounceClock clock;
    testsupport::LoopbackServer server;
    std::mutex mutex;
    std::map<std::string, std::string> bodies;
    std::unique_ptr<TFormMain> form;
};

TEST_F(ItemStoreWindowTest, NewItemsAreThoseTheStoreNeverSaw)
{
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
        form->UpdateFeed(node);
        feed::TFeedDocument a, b;
        a.LoadFromString(before);
        b.LoadFromString(after);
        EXPECT_EQ(Unread(node), std::to_string(a.Items().Count())) << "a first download is all unread";
        form->GetFeedItem(node).SetAttribute("unread", "0");
        form->FBalloonNode.clear();
        clock.Advance(TAnnouncer::kMinSpacing);  // each case's balloon comes at once

        Serve(id, after);
        form->UpdateFeed(node);
        EXPECT_EQ(Unread(node), std::to_string(c.byStore));
        EXPECT_EQ(form->FBalloonNode.empty(), c.byStore == 0);

        const TNewItemCount old = CountNewItems(ComparableTitles(b), ComparableTitles(a));
        EXPECT_EQ(old.Count, c.byFirstTitle);
    }

    // A store that fails in the middle of a run (here a table gone) leaves
    // the counting to the stored copy's titles, and polling goes on.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(form->FItemBase->Path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE unread", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    QTreeWidgetItem* node = Feed("99");
    Serve("99", Fixture("added_at_top.before.xml"));
    form->UpdateFeed(node);
    form->GetFeedItem(node).SetAttribute("unread", "0");
    Serve("99", Fixture("added_at_top.after.xml"));
    form->UpdateFeed(node);
    EXPECT_EQ(Unread(node), "1");
}

TEST_F(ItemStoreWindowTest, FirstStartWithABaseTakesStoredCopiesAsSeen)
{
    // A home from before the store: a stored copy, two of its items unread.
    home.WriteFile("feeds/7.xml", Fixture("added_at_top.before.xml"));
    ASSERT_FALSE(fs::exists(home.Dir() / "items.db"));
    Start();
    QTreeWidgetItem* node = Feed("7", "2");
    ASSERT_TRUE(WaitUntil([&] { return form->FItemBase->SeedingDone(); }));
    form->ItemBaseOpened();  // seeds again, now with the feed added above
    ASSERT_TRUE(WaitUntil([&] { return form->ItemStore()->UnreadCount("7") == 2; }));

    Serve("7", Fixture("added_at_top.after.xml"));
    form->UpdateFeed(node);
    EXPECT_EQ(Unread(node), "3") << "the two unread ones and the one new item";
    EXPECT_EQ(form->FBalloonTitle.toStdString(), "Story 4");
}

TEST_F(ItemStoreWindowTest, DamagedBaseIsSetAsideAndRebuilt)
{
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
    form->UpdateFeed(node);
    EXPECT_EQ(Unread(node), "0");
    EXPECT_EQ(form->ItemStore()->ItemCount("3"), 3);
}

TEST_F(ItemStoreWindowTest, MarkReadAndUnreadFollowTheSelection)
{
    Start();
    QTreeWidgetItem* folder = form->AddFolder("Harbour");
    QTreeWidgetItem* a = Feed("1", "0", folder);
    QTreeWidgetItem* b = Feed("2", "0", folder);
    QTreeWidgetItem* c = Feed("3");
    for (const char* id : {"1", "2", "3"}) Serve(id, Fixture("added_at_top.before.xml"));
    for (QTreeWidgetItem* node : {a, b, c}) form->UpdateFeed(node);
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
        {"feed read", [&] { form->MarkFeedsRead({a}); }, "0", "3", "3", "Harbour (3)"},
        {"feed unread", [&] { form->MarkFeedsUnread(a); }, "3", "3", "3", "Harbour (6)"},
        {"folder read", [&] { form->MarkFeedsRead({folder}); }, "0", "0", "3", "Harbour"},
        {"all read", [&] { form->ActionMarkAllReadExecute(); }, "0", "0", "0", "Harbour"},
        {"folder unread", [&] { form->MarkFeedsUnread(folder); }, "3", "3", "0", "Harbour (6)"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(Unread(a), step.a);
        EXPECT_EQ(Unread(b), step.b);
        EXPECT_EQ(Unread(c), step.c);
        EXPECT_EQ(folder->text(0).toStdString(), step.folderText);
        EXPECT_EQ(form->ItemStore()->UnreadCount("1"), std::stoi(step.a));
        EXPECT_EQ(form->ItemStore()->UnreadCount("3"), std::stoi(step.c));
        EXPECT_EQ(a->font(0).bold(), std::string(step.a) != "0");
    }
    // Saved as update counts are: within the saver's few seconds.
    ASSERT_TRUE(form->ConfigSaver->Pending());
    form->ConfigSaver->SaveNow();
    EXPECT_NE(home.ReadFile("config.xml").find("unread=\"3\""), std::string::npos) << "saved";
}

TEST_F(ItemStoreWindowTest, NextUnreadWalksTheTreeAndWraps)
{
    Start();
    QTreeWidgetItem* first = Feed("1", "2");
    QTreeWidgetItem* folder = form->AddFolder("Harbour");
    QTreeWidgetItem* inside = Feed("2", "0", folder);
    QTreeWidgetItem* deeper = Feed("3", "4", folder);
    QTreeWidgetItem* last = Feed("4", "0");
    folder->setExpanded(false);
    form->TreeView->setCurrentItem(inside);

    // Showing a feed counts it read, so each step finds the next one.
    const QTreeWidgetItem* expected[] = {deeper, first};
    for (const QTreeWidgetItem* node : expected) {
        ASSERT_TRUE(form->SelectNextUnread());
        EXPECT_EQ(form->TreeView->currentItem(), node);
    }
    EXPECT_TRUE(folder->isExpanded()) << "opened to show the feed";
    EXPECT_FALSE(form->SelectNextUnread());
    EXPECT_EQ(Status(), "No feed has unread items.");
    EXPECT_EQ(form->TreeView->currentItem(), first);
    (void)last;
}

TEST_F(ItemStoreWindowTest, PageMarksTheUnreadItemsOfTheStoredCopy)
{
    Start();
    QTreeWidgetItem* node = Feed("5");
    Serve("5", Fixture("added_at_top.before.xml"));
    form->UpdateFeed(node);
    form->GetFeedItem(node).SetAttribute("unread", "0");
    form->ItemStore()->MarkFeedRead("5");
    Serve("5", Fixture("added_at_top.after.xml"));
    form->UpdateFeed(node);

    quillet::TPageMarks marks;
    for (const std::string& key : form->ItemStore()->UnreadKeys("5")) marks.Unread.insert(key);
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
}

TEST_F(ItemStoreWindowTest, FindInFeedsShowsTheChosenItem)
{
    Start();
    QTreeWidgetItem* a = Feed("1");
    QTreeWidgetItem* b = Feed("2");
    Serve("1", Fixture("added_at_top.after.xml"));
    Serve("2", Fixture("first_title_edited.after.xml"));
    form->UpdateFeed(a);
    form->UpdateFeed(b);
    form->TreeView->setCurrentItem(a);

    form->ActionFindInFeedsExecute();
    ASSERT_TRUE(form->FindInFeeds);
    form->FindInFeeds->SearchText->setText("correct");  // a prefix, as typed so far
    form->FindInFeeds->SearchNow();
    ASSERT_EQ(form->FindInFeeds->SearchResults->topLevelItemCount(), 1);
    EXPECT_EQ(form->FindInFeeds->SearchResults->topLevelItem(0)->text(0).toStdString(), "Feed 2");
    EXPECT_EQ(form->FindInFeeds->SearchResults->topLevelItem(0)->text(1).toStdString(), "Story 1 (corrected)");

    form->FindInFeeds->Choose(0);
    EXPECT_EQ(form->TreeView->currentItem(), b);
    EXPECT_EQ(form->WebBrowser->Marks().value("target").toString().toStdString(), "g:http://harbour.example/1");
    EXPECT_EQ(Unread(b), "0") << "shown, so read";

    form->FindInFeeds->SearchText->setText("Story");
    form->FindInFeeds->SearchNow();
    EXPECT_EQ(form->FindInFeeds->SearchResults->topLevelItemCount(), 7);
}

}  // namespace
