// What the tree shows about each feed beyond its caption: the address of a
// feed without a name, the failure of its last update, and an update in
// progress.
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>

#include "AppTestSupport.h"
#include "FeedUpdate.h"
#include "LoopbackServer.h"
#include "UpdateController.h"
#include "UpdateRig.h"
#include "fMain.h"
#include "uvxLanguage.h"

namespace {

using apptest::WaitUntil;

// A served feed, and feeds stored as an earlier run would have left them.
class ServedStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddHandler("/news/feed.xml", [this](const testsupport::Request&) {
            std::lock_guard lock(mutex);
            return response;
        });
        Serve(200,
              "<rss version=\"2.0\"><channel><title>Daily</title><item><title>A</title></item>"
              "<item><title>B</title></item></channel></rss>");
    }
    void TearDown() override { GlobalLanguage().SetLCID(1033); }

    void Serve(int status, std::string body) {
        std::lock_guard lock(mutex);
        response = testsupport::Response();
        response.statusLine = testsupport::StatusLine(status);
        response.body = std::move(body);
    }
    std::vector<std::pair<std::string, std::string>> Stored(const std::string& url, const std::string& caption,
                                                            const std::string& unread) {
        return {{"url", url},
                {"id", std::to_string(++lastId)},
                {"caption", caption},
                {"unread", unread},
                {"lastupdate", "earlier"}};
    }
    static std::string Caption(QTreeWidgetItem* node) { return TFeedTree::FeedOf(node)->Caption; }
    static qint64 IconOf(QTreeWidgetItem* node) { return node->data(0, Qt::DecorationRole).value<QIcon>().cacheKey(); }
    static QString ToolTipOf(QTreeWidgetItem* node) { return node->data(0, Qt::ToolTipRole).toString(); }
    std::string Host() { return "127.0.0.1:" + std::to_string(server.Port()); }

    apptest::TStagedHome home;
    std::mutex mutex;
    testsupport::Response response;
    int lastId = 0;
    // Last: it stops the threads that use the members above.
    testsupport::LoopbackServer server;
};

// The update cycle and the tree, without the window.
class FeedStateTest : public ServedStateTest {
protected:
    void SetUp() override {
        ServedStateTest::SetUp();
        rig = std::make_unique<apptest::TUpdateRig>();
    }
    void TearDown() override {
        rig.reset();
        ServedStateTest::TearDown();
    }
    TFeedNode* AddStoredFeed(const std::string& url, const std::string& caption = "", const std::string& unread = "0") {
        return &rig->RowOf(feedlist::IdText(rig->AddStoredFeed(Stored(url, caption, unread))->Feed()));
    }
    TUpdateController& Updates() { return rig->Updates(); }
    TUpdateController::TRowState State(QTreeWidgetItem* node) { return Updates().RowState(apptest::FeedId(node)); }
    void Update(QTreeWidgetItem* node) { Updates().UpdateFeed(apptest::FeedId(node)); }
    void Rename(QTreeWidgetItem* node, const QString& text) { rig->Feeds().Rename(TFeedTree::EntryOf(node), text); }

    std::unique_ptr<apptest::TUpdateRig> rig;
};

// A rename in the window's own label editor.
class FeedStateWindowTest : public ServedStateTest {
protected:
    void SetUp() override {
        ServedStateTest::SetUp();
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
    }
    void TearDown() override {
        form.reset();
        ServedStateTest::TearDown();
    }
    TFeedNode* AddStoredFeed(const std::string& url, const std::string& caption) {
        return static_cast<TFeedNode*>(apptest::AddStoredFeed(*form, Stored(url, caption, "0")));
    }
    TUpdateController::TRowState State(QTreeWidgetItem* node) {
        return form->Updates().RowState(apptest::FeedId(node));
    }
    // The label editor open now (closed ones linger until deleted).
    QLineEdit* OpenEditor() {
        for (QLineEdit* editor : form->Tree().viewport()->findChildren<QLineEdit*>())
            if (editor->isVisible()) return editor;
        return nullptr;
    }
    std::unique_ptr<TFormMain> form;
};

TEST_F(FeedStateTest, FeedWithoutCaptionShowsItsAddressUntilItHasATitle) {
    struct Case {
        std::string url;
        std::string unread;
        std::string shown;
    } cases[] = {
        {"http://example.com/news/rss.xml?page=2#top", "0", "example.com/news/rss.xml"},
        {"https://Example.com:8443/", "0", "example.com:8443/"},
        {"http://example.com", "3", "example.com (3)"},
        {"not an address at all", "0", "not an address at all"},
    };
    for (const Case& c : cases) {
        TFeedNode* node = AddStoredFeed(c.url, "", c.unread);
        EXPECT_EQ(node->text(0).toStdString(), c.shown) << c.url;
        EXPECT_EQ(Caption(node), "") << "the stored caption stays empty";
        // Renaming starts from the caption, not from the address.
        EXPECT_EQ(node->data(0, Qt::EditRole).toString().toStdString(), c.unread == "0" ? "" : " (" + c.unread + ")");
    }

    // The first successful update names it; the address goes.
    TFeedNode* fetched = AddStoredFeed(server.Url("/news/feed.xml"));
    EXPECT_EQ(fetched->text(0).toStdString(), Host() + "/news/feed.xml");
    Update(fetched);
    EXPECT_EQ(Caption(fetched), "Daily");
    EXPECT_EQ(fetched->text(0).toStdString(), "Daily (2)");
    EXPECT_EQ(fetched->data(0, Qt::EditRole).toString().toStdString(), "Daily (2)");

    // Renamed to nothing: the address again, until the next update.
    Rename(fetched, "");
    EXPECT_EQ(Caption(fetched), "");
    EXPECT_EQ(fetched->text(0).toStdString(), Host() + "/news/feed.xml (2)");
    Rename(fetched, "Mine");
    EXPECT_EQ(fetched->text(0).toStdString(), "Mine");
    EXPECT_EQ(fetched->data(0, Qt::EditRole).toString().toStdString(), "Mine");
}

TEST_F(FeedStateTest, FailedUpdateShowsIconAndToolTipUntilTheNextSuccess) {
    TFeedNode* node = AddStoredFeed(server.Url("/news/feed.xml"), "Mine");
    const qint64 normal = IconOf(node);
    EXPECT_TRUE(ToolTipOf(node).isEmpty());

    Serve(404, "gone");
    Update(node);
    EXPECT_EQ(IconOf(node), Updates().FailedIcon().cacheKey());
    const QString tip = ToolTipOf(node);
    EXPECT_TRUE(tip.contains("404 Not Found")) << tip.toStdString();
    // The time of the failure, to the second.
    EXPECT_TRUE(tip.contains(QDateTime::currentDateTime().toString("yyyy-MM-dd"))) << tip.toStdString();
    EXPECT_EQ(node->text(0).toStdString(), "Mine");
    const QDateTime failedAt = State(node).FailureTime;

    // Kept in memory through a language switch and a failing repeat, whose
    // time replaces the first one.
    GlobalLanguage().SetLCID(1031);
    EXPECT_EQ(IconOf(node), Updates().FailedIcon().cacheKey());
    EXPECT_EQ(ToolTipOf(node), tip);
    Serve(200, "<rss><channel><title>broken");
    Update(node);
    EXPECT_EQ(IconOf(node), Updates().FailedIcon().cacheKey());
    EXPECT_FALSE(ToolTipOf(node).contains("404")) << "the tooltip tells the latest failure";
    EXPECT_GE(State(node).FailureTime, failedAt);

    Serve(200, "<rss version=\"2.0\"><channel><title>Daily</title><item><title>A</title></item></channel></rss>");
    Update(node);
    EXPECT_EQ(IconOf(node), normal);
    EXPECT_TRUE(ToolTipOf(node).isEmpty());
    EXPECT_TRUE(State(node).Failure.isEmpty());

    // Other feeds are not touched by one feed's failure.
    TFeedNode* other = AddStoredFeed(server.Url("/news/feed.xml"), "Other");
    Serve(500, "");
    Update(node);
    EXPECT_EQ(IconOf(other), normal);
    EXPECT_EQ(IconOf(node), Updates().FailedIcon().cacheKey());
}

TEST_F(FeedStateTest, FeedBeingUpdatedShowsTheBusyIcon) {
    TFeedNode* node = AddStoredFeed(server.Url("/news/feed.xml"), "Mine");
    const qint64 normal = IconOf(node);
    const std::shared_ptr<TFeedUpdate> update = Updates().BeginFeedUpdate(apptest::FeedId(node));
    EXPECT_TRUE(State(node).Busy);
    EXPECT_EQ(IconOf(node), Updates().BusyIcon().cacheKey());
    EXPECT_TRUE(Updates().FeedDownloading("1"));
    update->Fetch();
    EXPECT_EQ(IconOf(node), Updates().BusyIcon().cacheKey()) << "busy until the result is applied";
    update->Finish();
    EXPECT_EQ(IconOf(node), normal);
    EXPECT_FALSE(Updates().FeedDownloading("1"));

    // A failed feed being updated again shows the busy icon, then the
    // failure again.
    Serve(503, "");
    Update(node);
    const std::shared_ptr<TFeedUpdate> again = Updates().BeginFeedUpdate(apptest::FeedId(node));
    EXPECT_EQ(IconOf(node), Updates().BusyIcon().cacheKey());
    again->Fetch();
    again->Finish();
    EXPECT_EQ(IconOf(node), Updates().FailedIcon().cacheKey());
}

TEST_F(FeedStateWindowTest, StateChangesDoNotDisturbARenameInProgress) {
    form->show();
    TFeedNode* node = AddStoredFeed(server.Url("/news/feed.xml"), "Mine");
    form->Tree().setCurrentItem(node);
    form->Actions().RenameFeed->trigger();
    QApplication::processEvents();
    QLineEdit* editor = OpenEditor();
    ASSERT_NE(editor, nullptr);
    editor->setText("Typed so far");

    // The polling thread starts and ends an update of this very feed.
    Serve(404, "");
    const std::shared_ptr<TFeedUpdate> update = form->Updates().BeginFeedUpdate(apptest::FeedId(node));
    QApplication::processEvents();
    EXPECT_EQ(editor->text(), "Typed so far");
    update->Fetch();
    update->Finish();
    QApplication::processEvents();
    EXPECT_FALSE(State(node).Failure.isEmpty());
    EXPECT_EQ(editor->text(), "Typed so far");

    // A successful one, with new items, neither.
    Serve(200, "<rss version=\"2.0\"><channel><title>Daily</title><item><title>A</title></item></channel></rss>");
    form->Updates().UpdateFeed(apptest::FeedId(node));
    QApplication::processEvents();
    EXPECT_EQ(std::to_string(TFeedTree::FeedOf(node)->Unread), "1");
    EXPECT_EQ(editor->text(), "Typed so far");
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(Caption(node), "Typed so far");
    // The page on show marks its new item read in its own time; the count
    // set below must not race with it.
    EXPECT_TRUE(WaitUntil([&] { return TFeedTree::FeedOf(node)->Unread == 0; }, 30000));

    // An abandoned rename shows what the feed got meanwhile.
    form->Actions().RenameFeed->trigger();
    QApplication::processEvents();
    editor = OpenEditor();
    ASSERT_NE(editor, nullptr);
    apptest::ChangeFeed(*form, node, [](feedlist::TFeedEntry& feed) { feed.Unread = 4; });
    form->Tree().UpdateNodeCaption(node);
    QTest::keyClick(editor, Qt::Key_Escape);
    WaitUntil([&] { return node->text(0).endsWith("(4)"); }, 1000);
    EXPECT_EQ(node->text(0).toStdString(), "Typed so far (4)");
    EXPECT_TRUE(node->font(0).bold());
}

}  // namespace
