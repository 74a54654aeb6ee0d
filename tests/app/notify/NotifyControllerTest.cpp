// The notifications controller alone, over a list of <item> elements and a
// fake clock: its balloons, the switch of the selected feed, and a deleted
// feed's news and balloon.
#include <QAction>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "FeedDocument.h"
#include "FeedListModel.h"
#include "NotifyController.h"
#include "XmlDom.h"

namespace {

using namespace std::chrono_literals;

TEST(NotifyControllerTest, BalloonsAndTheSwitchFollowTheFeedsOfTheList) {
    apptest::TStagedHome home;
    feedlist::TFeedList list;
    const feedlist::TListEntry& daily = *list.AddFeed(list.Root(), apptest::FeedEntry(1, "http://a.invalid/"));
    const feedlist::TListEntry& weekly = *list.AddFeed(list.Root(), apptest::FeedEntry(2, "http://b.invalid/"));
    feed::TFeedDocument document;
    document.LoadFromString(
        "<rss version=\"2.0\"><channel><title>Channel</title><link>http://x.invalid/</link><description>d"
        "</description><item><title>One</title><description>About one</description></item>"
        "<item><title>Two</title></item></channel></rss>");

    struct TShown {
        QString Title, Text;
        int Timeout;
    };
    std::vector<TShown> shown;
    const feedlist::TListEntry* selected = nullptr;
    int saves = 0;
    TNotifyController::THost host;
    host.Options = [] { return nullptr; };
    host.FeedList = &list;
    host.SelectedFeed = [&] { return selected; };
    host.ShowStatus = [](const QString&) {};
    host.ScheduleConfigSave = [&] { ++saves; };
    host.ShowBalloon = [&](const QString& title, const QString& text, int timeout) {
        shown.push_back({title, text, timeout});
    };
    QWidget window;
    TNotifyController notify(std::move(host), &window);
    apptest::TFakeAnnounceClock clock;
    notify.UseClock(clock);

    // Alone, news is shown at once; the next within the spacing waits and
    // is summed up, a deleted feed's part left out.
    notify.AnnounceNewItems(daily.Feed(), document, 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown.back().Title, "One");
    EXPECT_EQ(shown.back().Timeout, 10) << "the fallback without options";
    notify.AnnounceNewItems(weekly.Feed(), document, 2);
    notify.AnnounceNewItems(daily.Feed(), document, 1);
    notify.FeedDeleted("1");
    EXPECT_TRUE(notify.Balloon().FeedId.empty()) << "the deleted feed's balloon leads nowhere";
    clock.Advance(40s);
    notify.Tick();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(notify.Balloon().FeedId, "2");
    EXPECT_EQ(shown.back().Text, "One\nTwo\n");
    notify.ShowBalloon();
    EXPECT_EQ(shown.size(), 3u) << "a click on the tray icon shows it again";

    // The switch follows the selection and is kept in the feed's entry.
    notify.RefreshAction();
    EXPECT_FALSE(notify.Action()->isEnabled());
    selected = &weekly;
    notify.RefreshAction();
    EXPECT_TRUE(notify.Action()->isChecked());
    notify.Action()->trigger();
    EXPECT_FALSE(weekly.Feed().Notify);
    EXPECT_FALSE(notify.Action()->isChecked());
    EXPECT_EQ(saves, 1);
    notify.AnnounceNewItems(weekly.Feed(), document, 1);
    clock.Advance(40s);
    notify.Tick();
    EXPECT_EQ(shown.size(), 3u) << "a muted feed announces nothing";
}

}  // namespace
