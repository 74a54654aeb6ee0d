// A feed whose hundred thousand items are all replaced at once: applying the
// result must not hold the user-interface thread, whatever the feed's size.
#include <QApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "AppTestSupport.h"
#include "FeedUpdate.h"
#include "LoopbackServer.h"
#include "NotifyController.h"
#include "UpdateRig.h"

namespace {

using apptest::TStagedHome;
using testsupport::LoopbackServer;
using testsupport::Response;

constexpr int kItems = 100000;
// The longest the user-interface thread may be held by one update.
constexpr qint64 kMaxHoldMs = 100;

std::string HugeFeed(const std::string& prefix) {
    std::string body =
        "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Huge</title>"
        "<link>http://example.invalid/</link><description>d</description>";
    body.reserve(static_cast<std::size_t>(kItems) * 120);
    for (int i = 0; i < kItems; ++i)
        body += "<item><title>" + prefix + " story number " + std::to_string(i) +
                " with a title long enough to need shortening</title><description>Body " + std::to_string(i) +
                "</description></item>";
    return body + "</channel></rss>";
}

// Runs one update of feed `id` the way the polling thread does: the download
// off the user-interface thread, then the result on it, timed together with
// letting go of the update.
qint64 TimedUpdate(apptest::TUpdateRig& rig, const std::string& id) {
    std::shared_ptr<TFeedUpdate> update = rig.Updates().BeginFeedUpdate(id);
    update->Fetch();
    EXPECT_FALSE(update->Failed()) << update->Error();
    QElapsedTimer clock;
    clock.start();
    update->Finish();
    update.reset();
    return clock.elapsed();
}

// The update cycle with one feed, whose server answers with `body` as it is
// at the time; no feed is on show, as while the user reads something else.
struct TServedFeed {
    explicit TServedFeed(const std::string& title) {
        server.AddHandler("/feed", [this](const testsupport::Request&) {
            Response response;
            response.body = body;
            return response;
        });
        rig->AddStoredFeed({{"url", server.Url("/feed")}, {"id", id}, {"caption", title}, {"unread", "0"}});
    }
    TStagedHome home;
    std::unique_ptr<apptest::TUpdateRig> rig = std::make_unique<apptest::TUpdateRig>();
    std::string body;
    LoopbackServer server;
    std::string id = "1";
};

TEST(HugeChange, AHundredThousandItemsReplacedDoNotHoldTheWindow) {
    TServedFeed served("Huge");
    auto& [home, rig, body, server, id] = served;
    body = HugeFeed("Old");
    const qint64 first = TimedUpdate(*rig, id);
    ASSERT_EQ(rig->Feed(id).Unread, kItems);

    body = HugeFeed("New");
    const qint64 change = TimedUpdate(*rig, id);
    std::cout << "[ figures  ] user-interface hold: first download " << first << " ms, 100,000-item change " << change
              << " ms\n";

    // Every item is new and the count replaced, the balloon lists the
    // first titles, and the stored copy holds the new items.
    EXPECT_EQ(rig->Feed(id).Unread, kItems);
    EXPECT_EQ(rig->Notify().Balloon().Title.toStdString(), "Huge: 100000 new items");
    EXPECT_TRUE(rig->Notify().Balloon().Text.startsWith("New story number 0"))
        << rig->Notify().Balloon().Text.left(80).toStdString();
    const std::string stored = home.ReadFile("feeds/1.xml");
    EXPECT_NE(stored.find("New story number 99999 "), std::string::npos);
    EXPECT_EQ(stored.find("Old story"), std::string::npos);
    EXPECT_TRUE(rig->Status().startsWith("Updated Huge")) << rig->Status().toStdString();

    EXPECT_LE(first, kMaxHoldMs);
    EXPECT_LE(change, kMaxHoldMs);
}

// Ten thousand new items against ten thousand alert words, only alert
// words announced: the matching runs beside the download, the window only
// takes its verdicts.
TEST(HugeChange, TenThousandAlertWordsOnTenThousandNewItemsDoNotHoldTheWindow) {
    constexpr int kCount = 10000;
    TServedFeed served("Alerts");
    auto& [home, rig, body, server, id] = served;
    const auto feed = [](const std::string& prefix) {
        std::string text =
            "<rss version=\"2.0\"><channel><title>Alerts</title><link>http://example.invalid/</link>"
            "<description>d</description>";
        for (int i = 0; i < kCount; ++i)
            text += "<item><title>" + prefix + " " + std::to_string(i) + "</title><description>&lt;p&gt;About code " +
                    std::to_string(i) + " &amp;amp; code" + std::to_string(i * 7) +
                    " red&lt;/p&gt;</description></item>";
        return text + "</channel></rss>";
    };
    body = feed("Old");
    TimedUpdate(*rig, id);

    std::string words;
    for (int i = 0; i < kCount; ++i) words += "code" + std::to_string(i) + " red, ";
    rig->Options().GetConfigNode("general\\AlertWords").SetText(words);
    rig->Options().GetConfigNode("general\\OnlyAlertWords").SetText("True");
    body = feed("New");
    const qint64 hold = TimedUpdate(*rig, id);
    std::cout << "[ figures  ] user-interface hold: 10,000 new items, 10,000 alert words " << hold << " ms\n";
    // "code<7i> red" is one of the words for 7i < 10000.
    EXPECT_EQ(rig->Notify().Balloon().Title.toStdString(), "Alerts: 1429 new items");
    EXPECT_TRUE(rig->Notify().Balloon().Text.startsWith("New 0"))
        << rig->Notify().Balloon().Text.left(80).toStdString();
    EXPECT_LE(hold, kMaxHoldMs);
}

TEST(HugeChange, ACopyWrittenForADroppedResultIsNotLeftBehind) {
    TStagedHome home;
    apptest::TUpdateRig rig;
    LoopbackServer server;
    server.AddEndpoint("/feed", 200, {},
                       "<rss version=\"2.0\"><channel><title>T</title><item><title>A</title>"
                       "</item></channel></rss>");
    const std::string id = feedlist::IdText(rig.AddStoredFeed({{"url", server.Url("/feed")}, {"id", "1"}})->Feed());

    // The feed is deleted while it downloads: its new copy never replaces
    // anything, and nothing of it stays in the feeds folder.
    std::shared_ptr<TFeedUpdate> update = rig.Updates().BeginFeedUpdate(id);
    update->Fetch();
    rig.Feeds().DeleteFeed(rig.List().FindFeed(id));
    update->Finish();
    update.reset();
    EXPECT_TRUE(std::filesystem::is_empty("feeds"));
}

}  // namespace
