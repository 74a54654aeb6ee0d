// Notifications in the main window: the announcer's decisions as balloons,
// a summary's click, and the per-feed switch in the menus and config.xml.
#include <QMenu>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "TrayController.h"
#include "AppTestSupport.h"
#include "FeedDocument.h"
#include "FeedListXml.h"
#include "LoopbackServer.h"
#include "TrayIcon.h"
#include "NotifyController.h"
#include "fMain.h"

namespace {

using namespace std::chrono_literals;

class NotifyTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
        auto area = std::make_unique<apptest::TRecordingArea>();
        balloons = area->Balloons;
        form->TrayIcon = new TTrayIcon(form.get(), std::move(area));
        form->TrayIcon->SetIconVisible(true);
        apptest::Notify(*form).UseClock(clock);
    }

    QTreeWidgetItem* Feed(const std::string& id, const std::string& caption) {
        return apptest::AddConfiguredFeed(*form, id, "http://127.0.0.1:1/" + id, caption);
    }
    // A download of `titles`, all of them new.
    void Announce(QTreeWidgetItem* node, const std::vector<std::string>& titles) {
        std::string body =
            "<rss version=\"2.0\"><channel><title>Channel</title><link>http://x.invalid/</link>"
            "<description>d</description>";
        for (const std::string& title : titles)
            body += "<item><title>" + title + "</title><description>About " + title + "</description></item>";
        feed::TFeedDocument document;
        document.LoadFromString(body + "</channel></rss>");
        apptest::Notify(*form).AnnounceNewItems(*TFeedTree::FeedOf(node), document, static_cast<int>(titles.size()));
    }
    void Wait(std::chrono::seconds seconds) {
        clock.Advance(seconds);
        apptest::Notify(*form).Tick();
    }

    apptest::TStagedHome home;
    apptest::TFakeAnnounceClock clock;
    std::unique_ptr<TFormMain> form;
    std::shared_ptr<std::vector<apptest::TRecordingArea::Balloon>> balloons;
};

TEST_F(NotifyTest, NewsOfSeveralFeedsBecomesOneSummaryThatShowsTheFirstFeed) {
    QTreeWidgetItem* daily = Feed("1", "Daily");
    QTreeWidgetItem* weekly = Feed("2", "Weekly");
    QTreeWidgetItem* muted = Feed("3", "Muted");
    apptest::ChangeFeed(*form, muted, [](feedlist::TFeedEntry& feed) { feed.Notify = false; });
    form->Tree().setCurrentItem(muted);

    // Alone, an update reads as it always has.
    Announce(daily, {"One"});
    ASSERT_EQ(balloons->size(), 1u);
    EXPECT_EQ(balloons->back().Title, "One");
    EXPECT_EQ(balloons->back().Text, "About One");

    clock.Advance(5s);
    Announce(weekly, {"W1", "W2"});
    Announce(muted, {"Hushed"});
    clock.Advance(5s);
    Announce(daily, {"Two"});
    Wait(10s);
    EXPECT_EQ(balloons->size(), 1u) << "a second balloon within 30 seconds";

    Wait(10s);
    ASSERT_EQ(balloons->size(), 2u);
    EXPECT_EQ(balloons->back().Title, "3 new items in 2 feeds");
    EXPECT_EQ(balloons->back().Text, "W1\nW2\nTwo\n");
    apptest::Tray(*form).TrayIconBalloonHintClick();
    EXPECT_EQ(form->Tree().currentItem(), weekly);

    // One feed twice within the spacing: its own headline, as today.
    Announce(weekly, {"W3"});
    Announce(weekly, {"W4"});
    Wait(30s);
    ASSERT_EQ(balloons->size(), 3u);
    EXPECT_EQ(balloons->back().Title, "Channel: 2 new items");
    EXPECT_EQ(balloons->back().Text, "W4\nW3\n");

    // An alert word reaches through the muted feed.
    form->Options().GetConfigNode("general\\AlertWords").SetText("urgent, server down");
    Wait(30s);
    Announce(muted, {"Calm", "Server DOWN again"});
    ASSERT_EQ(balloons->size(), 4u);
    EXPECT_EQ(balloons->back().Title, "Server DOWN again");
}

TEST_F(NotifyTest, AnUpdateAllPassIsAnnouncedOnceWhenItEnds) {
    std::atomic<int> edition{1};
    testsupport::LoopbackServer server;
    server.AddHandler("/feed", [&edition](const testsupport::Request& request) {
        const std::string n = request.target.substr(request.target.find('=') + 1);
        std::string body = "<rss version=\"2.0\"><channel><title>Feed " + n +
                           "</title><link>http://x.invalid/</link><description>d</description>";
        for (int i = edition.load(); i >= 1; --i)
            body += "<item><title>Feed " + n + " story " + std::to_string(i) + "</title></item>";
        testsupport::Response response;
        response.body = body + "</channel></rss>";
        return response;
    });
    constexpr int kFeeds = 8;
    for (int i = 1; i <= kFeeds; ++i) Feed(std::to_string(i), "");
    for (int i = 1; i <= kFeeds; ++i)
        apptest::ChangeFeed(*form, form->Tree().FindFeedNodeById(std::to_string(i)),
                            [&](feedlist::TFeedEntry& feed) { feed.Url = server.Url("/feed?n=" + std::to_string(i)); });
    const auto pass = [&] {
        form->Actions().UpdateAll->trigger();
        ASSERT_TRUE(apptest::WaitUntil([&] { return form->Actions().UpdateAll->isEnabled(); }));
    };
    pass();  // the first download of a feed announces nothing
    edition = 2;
    pass();
    EXPECT_TRUE(balloons->empty()) << "announced before the pass ended";
    apptest::Notify(*form).Tick();
    ASSERT_EQ(balloons->size(), 1u);
    EXPECT_EQ(balloons->back().Title, "8 new items in 8 feeds");
    EXPECT_TRUE(balloons->back().Text.startsWith("Feed 1 story 2\nFeed 2 story 2\n"))
        << balloons->back().Text.toStdString();
}

TEST_F(NotifyTest, TheSwitchOfTheSelectedFeedIsKeptInItsElement) {
    QTreeWidgetItem* node = Feed("1", "Daily");
    const xml::Node item = apptest::StoredFeedElement(*form, "1");
    EXPECT_TRUE(form->FeedMenu->actions().contains(apptest::Notify(*form).Action()));
    EXPECT_TRUE(form->PopupMenuFeedList->actions().contains(apptest::Notify(*form).Action()));
    EXPECT_FALSE(apptest::Notify(*form).Action()->isEnabled());

    form->Tree().setCurrentItem(node);
    EXPECT_TRUE(apptest::Notify(*form).Action()->isEnabled());
    EXPECT_TRUE(apptest::Notify(*form).Action()->isChecked());
    apptest::Notify(*form).Action()->trigger();
    EXPECT_EQ(item.Attribute("notify"), "False");
    EXPECT_FALSE(apptest::Notify(*form).Action()->isChecked());
    apptest::Notify(*form).Action()->trigger();
    EXPECT_FALSE(item.HasAttribute("notify")) << "on is the default and needs no attribute";

    // Only a readable "false" silences a feed.
    const std::pair<const char*, bool> cases[] = {{"false", false}, {"0", false}, {"", true}, {"maybe", true}};
    xml::Document scratch;
    xml::Node stored = scratch.CreateDocumentElement("item");
    for (const auto& [value, notifies] : cases) {
        stored.SetAttribute("notify", value);
        EXPECT_EQ(feedlist::ReadFeedEntry(stored).Notify, notifies) << value;
    }
}

}  // namespace
