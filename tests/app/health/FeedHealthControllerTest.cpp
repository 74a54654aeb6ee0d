// The health controller alone, over a list of <item> elements and a fake
// clock: what it counts, stops and forgets, knowing feeds only by id.
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "FeedHealthController.h"
#include "FeedListModel.h"
#include "XmlDom.h"

namespace {

using schedule::TOutcomeKind;

TEST(FeedHealthControllerTest, AGoneFeedIsCountedStoppedAndForgottenByItsId) {
    apptest::TStagedHome home;
    feedlist::TFeedList list;
    list.AddFeed(list.Root(), apptest::FeedEntry(1, "http://a.invalid/"));
    list.AddFeed(list.Root(), apptest::FeedEntry(2, "http://b.invalid/"));
    std::vector<std::string> listed = {"1", "2"};
    std::vector<std::string> shown;
    const auto start = std::chrono::system_clock::now();
    auto now = start;

    TFeedHealthController::THost host;
    host.Options = [] { return nullptr; };
    host.ShowStatus = [](const QString&) {};
    host.Guarded = [](const std::function<void()>& handler) { handler(); };
    host.FeedIds = [&] { return listed; };
    host.FeedList = &list;
    host.FeedName = [](const std::string& id) { return QString::fromStdString(id); };
    host.ShowFeedState = [&](const std::string& id) { shown.push_back(id); };
    host.Now = [&] { return now; };
    QWidget window;
    TFeedHealthController health(std::move(host), &window);

    const struct {
        const char* id;
        TOutcomeKind kind;
        int status;
        bool stopped;
        bool counted;
    } cases[] = {{"1", TOutcomeKind::Gone, 410, true, true}, {"2", TOutcomeKind::Updated, 200, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        now += std::chrono::minutes(5);  // each review counts the whole book again
        health.Book()->Record(c.id, schedule::TFetchOutcome{c.kind, now, c.status, {}, {}, {}, false});
        health.Review(c.id);
        EXPECT_EQ(health.Stopped(c.id), c.stopped);
        EXPECT_EQ(health.Cause(c.id).isEmpty(), !c.counted);
        EXPECT_EQ(shown.back(), c.id) << "the row shows its cause";
        EXPECT_TRUE(health.StatusButton()->isVisibleTo(&window));
        EXPECT_EQ(health.StatusButton()->text(), "1 feed needs attention");
    }

    EXPECT_EQ(list.FindFeed(1)->Feed().Stopped, "gone") << "kept in the list";

    // A feed that left the list leaves the count and the record at once.
    listed = {"2"};
    list.Remove(*list.FindFeed(1));
    health.FeedDeleted("1");
    EXPECT_FALSE(health.StatusButton()->isVisibleTo(&window));
    EXPECT_TRUE(health.Book()->Get("1").History().empty());
}

}  // namespace
