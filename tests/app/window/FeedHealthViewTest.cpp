// Feed Health in the window: a feed the publisher removed shows its cause
// and stops being polled; a moved feed's new address is used and undone.
#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "AppTestSupport.h"
#include "FeedHealth.h"
#include "FeedHealthController.h"
#include "FixtureFile.h"
#include "LoopbackServer.h"
#include "fAddFeed.h"
#include "fFeedHealth.h"
#include "fMain.h"

namespace {

using TAction = TFormFeedHealth::TAction;

class FeedHealthViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
        const std::string feed = testsupport::ReadFixtureFile(std::string(QUILLET_TEST_DATA_DIR) + "/health/feed.xml");
        server.AddEndpoint("/gone", 410, {}, "");
        server.AddEndpoint("/old", 301, {{"Location", "/new"}}, "");
        server.AddEndpoint("/new", 200, {{"Content-Type", "application/rss+xml"}}, feed);
        const std::string page =
            testsupport::ReadFixtureFile(std::string(QUILLET_TEST_DATA_DIR) + "/health/blog_page.html");
        server.AddEndpoint("/page", 200, {{"Content-Type", "text/html"}}, page);
        server.AddEndpoint("/blog/feed/", 200, {{"Content-Type", "application/rss+xml"}}, feed);
        server.AddEndpoint(
            "/two", 200, {{"Content-Type", "text/html"}},
            testsupport::ReadFixtureFile(std::string(QUILLET_TEST_DATA_DIR) + "/health/two_feeds_page.html"));
        server.AddEndpoint("/blog/comments/", 200, {{"Content-Type", "application/rss+xml"}}, feed);
        server.AddEndpoint("/ttl", 200, {{"Content-Type", "application/rss+xml"}},
                           testsupport::ReadFixtureFile(std::string(QUILLET_TEST_DATA_DIR) + "/health/feed_ttl.xml"));
        server.AddEndpoint("/busy", 503, {{"Retry-After", "7200"}}, "Come back later");
    }
    std::string Url(QTreeWidgetItem* node) { return TFeedTree::FeedOf(node)->Url; }
    // The window's health part, its status line and its view, found as the
    // user finds them.
    TFeedHealthController& Health() { return *form->findChild<TFeedHealthController*>(); }
    QPushButton* Status() { return form->findChild<QPushButton*>("StatusHealth"); }
    TFormFeedHealth* View() { return form->findChild<TFormFeedHealth*>(); }
    const TFormFeedHealth::TRow* Row(const std::string& id) {
        for (const TFormFeedHealth::TRow& row : View()->Rows())
            if (row.Id.toStdString() == id) return &row;
        return nullptr;
    }

    apptest::TStagedHome home;
    std::unique_ptr<TFormMain> form;
    testsupport::LoopbackServer server;
};

TEST_F(FeedHealthViewTest, AFeedThatIsGoneShowsItsCauseAndIsNoLongerPolled) {
    QTreeWidgetItem* node = apptest::AddConfiguredFeed(*form, "1", server.Url("/gone"), "Removed");
    EXPECT_FALSE(Status()->isVisibleTo(form.get()));
    form->Updates().UpdateFeed(apptest::FeedId(node));

    EXPECT_TRUE(Status()->isVisibleTo(form.get()));
    EXPECT_EQ(Status()->text(), "1 feed needs attention");
    EXPECT_TRUE(form->Updates().PollingDeferred("1")) << "a 410 stops polling";
    const QString tip = node->data(0, Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains("removed this feed for good")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("410 Gone")) << "the server's own words";
    // Each later update moves the count by its own feed, both ways.
    QTreeWidgetItem* second = apptest::AddConfiguredFeed(*form, "2", server.Url("/gone"), "Also removed");
    form->Updates().UpdateFeed(apptest::FeedId(second));
    EXPECT_EQ(Status()->text(), "2 feeds need attention");
    apptest::ChangeFeed(*form, second, [&](feedlist::TFeedEntry& feed) { feed.Url = server.Url("/new"); });
    form->Updates().UpdateFeed(apptest::FeedId(second));
    EXPECT_EQ(Status()->text(), "1 feed needs attention");

    Health().Open();
    const TFormFeedHealth::TRow* row = Row("1");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Feed, "Removed");
    EXPECT_EQ(row->Attention, schedule::TAttention::Gone);
    EXPECT_EQ(row->Cause, Health().Cause("1"));
    ASSERT_TRUE(View()->Select("1"));
    EXPECT_TRUE(View()->BtnRetry->isVisibleTo(View()));
    EXPECT_FALSE(View()->BtnUseAddress->isVisibleTo(View()));

    // The history and the stop survive a restart, before any update.
    form.reset();
    form = std::make_unique<TFormMain>();
    form->Updates().Stop();
    ASSERT_TRUE(apptest::WaitUntil([&] { return Status()->isVisibleTo(form.get()); }));
    EXPECT_TRUE(form->Updates().PollingDeferred("1"));
    node = form->Tree().FindFeedNodeById("1");
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->data(0, Qt::ToolTipRole).toString().contains("removed this feed for good"));
}

TEST_F(FeedHealthViewTest, AMovedFeedsNewAddressIsUsedAndUndone) {
    const struct {
        const char* name;
        bool follow;  // with redirects followed the move is taken by itself
    } cases[] = {{"offered", false}, {"followed", true}};
    int id = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        form->Options().GetConfigNode("general\\FollowRedirects").SetText(c.follow ? "True" : "False");
        const std::string feedId = std::to_string(++id);
        QTreeWidgetItem* node = apptest::AddConfiguredFeed(*form, feedId, server.Url("/old"), "Moving");
        Health().Open();
        for (int update = 0; update < 3; ++update) {
            EXPECT_EQ(Row(feedId), nullptr) << "no move before three updates in a row";
            form->Updates().UpdateFeed(apptest::FeedId(node));
        }
        ASSERT_NE(Row(feedId), nullptr);
        if (!c.follow) {
            EXPECT_EQ(Row(feedId)->Attention, schedule::TAttention::Moved);
            EXPECT_TRUE(Row(feedId)->Cause.contains(QString::fromStdString(server.Url("/new"))));
            EXPECT_EQ(Url(node), server.Url("/old"));
            ASSERT_TRUE(View()->Select(QString::fromStdString(feedId)));
            View()->Act(TAction::UseAddress);
        }
        EXPECT_EQ(Url(node), server.Url("/new"));
        ASSERT_NE(Row(feedId), nullptr);
        EXPECT_EQ(Row(feedId)->Attention, schedule::TAttention::AddressChanged);
        ASSERT_TRUE(View()->Select(QString::fromStdString(feedId)));
        EXPECT_TRUE(View()->BtnUndo->isVisibleTo(View()));

        View()->Act(TAction::Undo);
        EXPECT_EQ(Url(node), server.Url("/old"));
        EXPECT_EQ(Row(feedId), nullptr);
        // The move the user undid is not taken or offered again.
        for (int update = 0; update < 3; ++update) form->Updates().UpdateFeed(apptest::FeedId(node));
        EXPECT_EQ(Url(node), server.Url("/old"));
        if (const TFormFeedHealth::TRow* row = Row(feedId)) {
            EXPECT_NE(row->Attention, schedule::TAttention::Moved);
        }
        form->Feeds().DeleteFeed(TFeedTree::EntryOf(node));
    }
}

// Acts on the discovery dialog once it is open and its search has ended.
void OnChoiceDialog(std::function<void(TFormAddFeed*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto* dialog = qobject_cast<TFormAddFeed*>(QApplication::activeModalWidget());
        if (!dialog || dialog->Searching()) return;
        timer->stop();
        timer->deleteLater();
        act(dialog);
    });
    timer->start();
}

TEST_F(FeedHealthViewTest, TheFeedFoundOnThePageReplacesTheAddress) {
    const struct {
        const char* name;
        const char* page;
        int row;  // the feed chosen in the list; -1: none offered
        bool cancel;
        const char* result;  // the address afterwards
    } cases[] = {
        {"one feed: taken", "/page", -1, false, "/blog/feed/"},
        {"several: the user chooses", "/two", 1, false, "/blog/comments/"},
        {"cancelled: nothing changes", "/two", 0, true, "/two"},
    };
    int id = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string feedId = std::to_string(++id);
        QTreeWidgetItem* node = apptest::AddConfiguredFeed(*form, feedId, server.Url(c.page), "Daily", "2");
        form->Updates().UpdateFeed(apptest::FeedId(node));
        Health().Open();
        ASSERT_NE(Row(feedId), nullptr);
        ASSERT_EQ(Row(feedId)->Attention, schedule::TAttention::NotAFeed);
        ASSERT_TRUE(View()->Select(QString::fromStdString(feedId)));
        bool offered = false;
        OnChoiceDialog([&](TFormAddFeed* dialog) {
            offered = !dialog->ResultList->isHidden();
            EXPECT_FALSE(dialog->EditCaption->isVisibleTo(dialog)) << "the feed keeps its name";
            if (c.cancel) return dialog->CancelBtn->click();
            dialog->ResultList->setCurrentRow(c.row);
            dialog->OKBtn->click();
        });
        View()->Act(TAction::FindFeed);
        EXPECT_EQ(offered, c.row >= 0);
        EXPECT_EQ(Url(node), server.Url(c.result));
        EXPECT_EQ(form->Tree().FeedNodesUnder(form->Tree().RootNode()).size(), static_cast<std::size_t>(id))
            << "no feed added";
        EXPECT_EQ(TFeedTree::FeedOf(node)->Caption, "Daily");
        EXPECT_EQ(std::to_string(TFeedTree::FeedOf(node)->Unread), "2");
        if (c.cancel) continue;
        ASSERT_NE(Row(feedId), nullptr);
        EXPECT_EQ(Row(feedId)->Attention, schedule::TAttention::AddressChanged);
        ASSERT_TRUE(View()->Select(QString::fromStdString(feedId)));
        View()->Act(TAction::Undo);
        EXPECT_EQ(Url(node), server.Url(c.page));
    }
}

TEST_F(FeedHealthViewTest, WhatAFeedAskedForOutlivesARestart) {
    using namespace std::chrono;
    const struct {
        const char* id;
        const char* path;
        std::optional<seconds> ttl;
        bool retryAfter;  // held back for the next two hours, one after another too
    } cases[] = {{"1", "/ttl", minutes(120), false}, {"2", "/busy", std::nullopt, true}};
    const auto before = system_clock::now();
    for (const auto& c : cases)
        form->Updates().UpdateFeed(apptest::FeedId(apptest::AddConfiguredFeed(*form, c.id, server.Url(c.path), c.id)));
    form.reset();
    form = std::make_unique<TFormMain>();
    form->Updates().Stop();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const schedule::TFeedHealth health = Health().Book()->Get(c.id);
        EXPECT_EQ(health.Asked().Ttl, c.ttl);
        EXPECT_EQ(health.Asked().Skip.Hours[2], c.ttl.has_value());
        EXPECT_EQ(health.Asked().Skip.Days[6], c.ttl.has_value()) << "Sunday";
        ASSERT_TRUE(health.LastFetch());
        EXPECT_GE(*health.LastFetch(), before);
        EXPECT_EQ(health.Asked().RetryAfter.has_value(), c.retryAfter);
        EXPECT_EQ(form->Updates().PollingDeferred(c.id), c.retryAfter);
    }
}

// A book no version wrote, one entry nested a million levels deep: the
// window starts, says where the book went, and keeps what could be read.
TEST_F(FeedHealthViewTest, ADamagedBookIsSetAsideAtStartWithAWord) {
    form.reset();
    std::string book =
        testsupport::ReadFixtureFile(std::string(QUILLET_TEST_DATA_DIR) + "/health/book_deep_entry.json");
    const std::string nesting = std::string(1'000'000, '[') + std::string(1'000'000, ']');
    for (std::size_t at; (at = book.find("\"NESTING\"")) != std::string::npos;) book.replace(at, 9, nesting);
    home.WriteFile("health.json", book);
    form = std::make_unique<TFormMain>();
    form->Updates().Stop();
    EXPECT_NE(form->StatusText(0).toStdString().find("kept as health.json.damaged-"), std::string::npos)
        << form->StatusText(0).toStdString();
    EXPECT_EQ(Health().Book()->Get("3").History().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(home.Dir() / "health.json"));
}

}  // namespace

namespace {

// Feeds of one site differ at the end of their names: the list shows them
// whole (a wider column, the middle cut only when it must be) and in a tooltip.
TEST(FeedHealthView, TwoFeedsOfOneSiteReadApart) {
    apptest::TStagedHome home;
    TFormFeedHealth view(nullptr);
    view.show();
    const QStringList names{"Local Feed 00 of the harbour master's notices", "Local Feed 00 of the harbour pilots"};
    std::vector<TFormFeedHealth::TRow> rows;
    for (const QString& name : names) rows.push_back({QString::number(rows.size() + 1), name, "Gone", {}, {}});
    view.SetRows(rows);
    for (int i = 0; i < names.size(); ++i) {
        QTreeWidgetItem* item = view.ListFeeds->topLevelItem(i);
        EXPECT_EQ(item->toolTip(0), names[i]);
        EXPECT_GE(view.ListFeeds->columnWidth(0), view.ListFeeds->fontMetrics().horizontalAdvance(names[i]));
    }
    EXPECT_EQ(view.ListFeeds->textElideMode(), Qt::ElideMiddle);
}

}  // namespace
