// "Update all": the scheduler against stand-in updates (limits, order of
// results, cancelling), then the update cycle against a loopback server.
#include "UpdateAll.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AppTestSupport.h"
#include "FeedUpdate.h"
#include "LoopbackServer.h"
#include "UpdateRig.h"
#include "fMain.h"

namespace {

using apptest::WaitUntil;
using namespace std::chrono_literals;

// Counts how many downloads run at once, in all and per host.
struct TConcurrency {
    std::mutex Mutex;
    int Now = 0;
    int Peak = 0;
    std::map<std::string, int> PerHostNow;
    int PeakPerHost = 0;

    void Enter(const std::string& host) {
        std::lock_guard lock(Mutex);
        Peak = std::max(Peak, ++Now);
        PeakPerHost = std::max(PeakPerHost, ++PerHostNow[host]);
    }
    void Leave(const std::string& host) {
        std::lock_guard lock(Mutex);
        --Now;
        --PerHostNow[host];
    }
};

class StandInJob : public TUpdateJob {
public:
    StandInJob(std::string key, std::string host, TConcurrency& concurrency, std::vector<std::string>& applied,
               std::chrono::milliseconds duration)
        : Key(std::move(key)),
          Host(std::move(host)),
          FConcurrency(concurrency),
          FApplied(applied),
          FDuration(duration) {}
    void Start() override { StartedOnUi = QThread::currentThread() == qApp->thread(); }
    void Fetch() override {
        FConcurrency.Enter(Host);
        const auto end = std::chrono::steady_clock::now() + FDuration;
        while (!Cancelled && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(2ms);
        FConcurrency.Leave(Host);
    }
    void Finish() override {
        FinishedOnUi = QThread::currentThread() == qApp->thread();
        FApplied.push_back(Key);
    }
    void Cancel() override { Cancelled = true; }

    std::string Key;
    std::string Host;
    std::atomic<bool> Cancelled{false};
    bool StartedOnUi = false;
    bool FinishedOnUi = false;

private:
    TConcurrency& FConcurrency;
    std::vector<std::string>& FApplied;
    std::chrono::milliseconds FDuration;
};

class UpdateAllSchedulerTest : public ::testing::Test {
protected:
    TConcurrency concurrency;
    std::vector<std::string> applied;
    std::vector<std::shared_ptr<StandInJob>> jobs;
    std::map<std::string, std::chrono::milliseconds> durations;  // default 30 ms
    std::vector<std::string> leftOut;

    std::unique_ptr<TUpdateAll> Make() {
        return std::make_unique<TUpdateAll>([this](const std::string& key) -> std::shared_ptr<TUpdateJob> {
            if (std::find(leftOut.begin(), leftOut.end(), key) != leftOut.end()) return nullptr;
            const auto found = durations.find(key);
            auto job = std::make_shared<StandInJob>(key, key.substr(0, 1), concurrency, applied,
                                                    found == durations.end() ? 30ms : found->second);
            jobs.push_back(job);
            return job;
        });
    }
    // Keys "<host letter><number>", hosts cycling a, b, c, d.
    static std::vector<TUpdateAll::TEntry> Entries(int count, int hosts) {
        std::vector<TUpdateAll::TEntry> entries;
        for (int i = 0; i < count; ++i) {
            const std::string host(1, static_cast<char>('a' + i % hosts));
            entries.push_back({host + std::to_string(i), host});
        }
        return entries;
    }
    static std::vector<std::string> Keys(const std::vector<TUpdateAll::TEntry>& entries) {
        std::vector<std::string> keys;
        for (const auto& entry : entries) keys.push_back(entry.Key);
        return keys;
    }
};

TEST_F(UpdateAllSchedulerTest, LimitsDownloadsAndAppliesResultsInListOrder) {
    struct Case {
        const char* name;
        int feeds;
        int hosts;
        int expectedPeak;
        int expectedPeakPerHost;
    } cases[] = {
        {"many hosts: six at once", 30, 5, 6, 2},
        {"one host: two at once", 8, 1, 2, 2},
        {"two hosts: four at once", 12, 2, 4, 2},
        {"fewer feeds than slots", 3, 3, 3, 1},
    };
    for (const Case& c : cases) {
        concurrency.Peak = concurrency.PeakPerHost = 0;
        applied.clear();
        jobs.clear();
        durations.clear();
        const auto entries = Entries(c.feeds, c.hosts);
        // An early feed that is slow must not let later results overtake it.
        durations[entries[1].Key] = 150ms;
        auto all = Make();
        bool finished = false;
        QObject::connect(all.get(), &TUpdateAll::finished, [&] { finished = true; });
        ASSERT_TRUE(all->Run(entries)) << c.name;
        EXPECT_FALSE(all->Run(entries)) << c.name << ": a second pass while one runs";
        ASSERT_TRUE(WaitUntil([&] { return finished; })) << c.name;
        EXPECT_EQ(applied, Keys(entries)) << c.name;
        EXPECT_EQ(concurrency.Peak, c.expectedPeak) << c.name;
        EXPECT_EQ(concurrency.PeakPerHost, c.expectedPeakPerHost) << c.name;
        EXPECT_EQ(all->PeakDownloads(), c.expectedPeak) << c.name;
        for (const auto& job : jobs) {
            EXPECT_TRUE(job->StartedOnUi) << c.name;
            EXPECT_TRUE(job->FinishedOnUi) << c.name;
        }
        EXPECT_FALSE(all->Running());
    }
}

TEST_F(UpdateAllSchedulerTest, FeedsLeftOutAndEmptyPassesStillFinish) {
    auto all = Make();
    int finished = 0;
    QObject::connect(all.get(), &TUpdateAll::finished, [&] { ++finished; });

    ASSERT_TRUE(all->Run({}));
    ASSERT_TRUE(WaitUntil([&] { return finished == 1; }));

    const auto entries = Entries(6, 2);
    leftOut = {entries[0].Key, entries[3].Key, entries[5].Key};
    ASSERT_TRUE(all->Run(entries));
    ASSERT_TRUE(WaitUntil([&] { return finished == 2; }));
    EXPECT_EQ(applied, (std::vector<std::string>{entries[1].Key, entries[2].Key, entries[4].Key}));

    leftOut = Keys(entries);
    applied.clear();
    ASSERT_TRUE(all->Run(entries));
    ASSERT_TRUE(WaitUntil([&] { return finished == 3; }));
    EXPECT_TRUE(applied.empty());
}

TEST_F(UpdateAllSchedulerTest, CancelStopsDownloadsAtOnceAndAppliesNothingMore) {
    auto all = Make();
    bool finished = false;
    QObject::connect(all.get(), &TUpdateAll::finished, [&] { finished = true; });
    const auto entries = Entries(20, 4);
    for (const auto& entry : entries) durations[entry.Key] = 60s;  // would hang without the cancel
    durations[entries[0].Key] = 10ms;
    ASSERT_TRUE(all->Run(entries));
    ASSERT_TRUE(WaitUntil([&] { return applied.size() == 1; }));
    QElapsedTimer clock;
    clock.start();
    all->Cancel();
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_FALSE(all->Running());
    WaitUntil([] { return false; }, 100);
    EXPECT_EQ(applied.size(), 1u);
    EXPECT_FALSE(finished);
    EXPECT_EQ(concurrency.Now, 0);
    // Only the downloads that had started were cancelled; the rest never ran.
    EXPECT_EQ(jobs.size(), 7u);

    // The scheduler can run again after a cancel.
    durations.clear();
    applied.clear();
    ASSERT_TRUE(all->Run(Entries(4, 2)));
    ASSERT_TRUE(WaitUntil([&] { return finished; }));
    EXPECT_EQ(applied.size(), 4u);
}

TEST(UpdateHostOf, GroupsAddressesByHostName) {
    EXPECT_EQ(UpdateHostOf("http://Example.COM/feed"), "example.com");
    EXPECT_EQ(UpdateHostOf("http://example.com:8080/other"), "example.com");
    EXPECT_EQ(UpdateHostOf("https://user@news.example.org/rss?x=1"), "news.example.org");
    EXPECT_EQ(UpdateHostOf("not an address"), "");
}

// ---------------------------------------------------------------------------
// The update cycle against a loopback server, and the window's action

std::string Rss(const std::string& title) {
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title +
           "</title><link>http://example.invalid/</link><description>d</description>"
           "<item><title>One</title><description>x</description></item></channel></rss>";
}

class UpdateAllCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddHandler("/feed", [this](const testsupport::Request& request) {
            const std::string host = request.Header("Host");
            concurrency.Enter(host.substr(0, host.find(':')));
            std::this_thread::sleep_for(std::chrono::milliseconds(latencyMs.load()));
            concurrency.Leave(host.substr(0, host.find(':')));
            testsupport::Response response;
            response.body = Rss("Feed " + request.target.substr(request.target.find('=') + 1));
            return response;
        });
    }
    // The update cycle alone, or the window (`withWindow`) around it.
    void Start(bool withWindow) {
        if (withWindow) {
            form = std::make_unique<TFormMain>();
            form->Updates().Stop();
        } else {
            rig = std::make_unique<apptest::TUpdateRig>();
        }
        QObject::connect(&Updates(), &TUpdateController::feedUpdateFinished,
                         [this](const QString& id, const QString&) { finishedIds.push_back(id.toStdString()); });
    }
    TUpdateController& Updates() { return form ? form->Updates() : rig->Updates(); }
    feedlist::TFeedList& List() { return form ? form->FeedList() : rig->List(); }

    // Feed i on host h<i % hosts>.localhost, which resolves to this machine.
    void AddFeeds(int count, int hosts) {
        for (int i = 0; i < count; ++i) {
            feedlist::TFeedEntry feed = apptest::FeedEntry(i + 1, "http://h" + std::to_string(i % hosts) +
                                                                      ".localhost:" + std::to_string(server.Port()) +
                                                                      "/feed?n=" + std::to_string(i));
            feed.LastUpdate = "earlier";
            List().AddFeed(List().Root(), std::move(feed));
            ids.push_back(std::to_string(i + 1));
        }
    }

    apptest::TStagedHome home;
    // What the server's threads use goes after the server, which stops them.
    TConcurrency concurrency;
    std::atomic<int> latencyMs{60};
    std::unique_ptr<apptest::TUpdateRig> rig;
    std::unique_ptr<TFormMain> form;
    testsupport::LoopbackServer server;
    std::vector<std::string> finishedIds;
    std::vector<std::string> ids;
};

TEST_F(UpdateAllCycleTest, FetchesEveryFeedInParallelAndAppliesInListOrder) {
    Start(false);
    AddFeeds(14, 4);
    rig->Updates().UpdateAll();
    EXPECT_FALSE(rig->UpdateAllEnabled()) << "one pass at a time";
    // The user-interface thread keeps working while the pass runs.
    ASSERT_TRUE(WaitUntil([&] { return rig->UpdateAllEnabled(); }));
    EXPECT_EQ(finishedIds, ids);
    EXPECT_LE(concurrency.Peak, TUpdateAll::kMaxDownloads);
    EXPECT_GE(concurrency.Peak, 4) << "downloads did not overlap";
    EXPECT_LE(concurrency.PeakPerHost, TUpdateAll::kMaxPerHost);
    for (int i = 0; i < 14; ++i) {
        const TFeedNode& row = rig->RowOf(ids[static_cast<std::size_t>(i)]);
        EXPECT_EQ(row.Feed().Caption, "Feed " + std::to_string(i));
        const qint64 icon = row.data(0, Qt::DecorationRole).value<QIcon>().cacheKey();
        EXPECT_NE(icon, rig->Updates().BusyIcon().cacheKey()) << "still shown as busy";
        EXPECT_NE(icon, rig->Updates().FailedIcon().cacheKey());
    }
    EXPECT_EQ(server.NumHits("/feed"), 14);
}

TEST_F(UpdateAllCycleTest, NeverTwoDownloadsOfOneFeedWithManualAndPollingUpdates) {
    Start(false);
    AddFeeds(6, 6);
    latencyMs = 200;
    rig->Updates().UpdateAll();
    // Polling with no pause runs alongside; a manual update of a feed that
    // "update all" is downloading waits for that download, then fetches.
    rig->Options().GetConfigNode("general\\UpdateInterval").SetText("0");
    rig->Updates().Start();
    ASSERT_TRUE(WaitUntil([&] { return concurrency.Now > 0; }));
    rig->Updates().UpdateFeed("1");
    ASSERT_TRUE(WaitUntil([&] { return rig->UpdateAllEnabled(); }));
    rig->Updates().Stop();

    // Every request of one feed came after the previous one was answered.
    std::map<std::string, int> inFlight;
    for (const auto& request : server.Requests()) ++inFlight[request.target];
    EXPECT_GE(inFlight["/feed?n=0"], 2) << "the manual update fetched again";
    EXPECT_LE(concurrency.PeakPerHost, 1) << "a feed was downloaded twice at once";
}

// The window's action starts the pass, and closing the window ends it.
TEST_F(UpdateAllCycleTest, ClosingTheWindowDuringThePassIsQuick) {
    Start(true);
    AddFeeds(30, 3);
    latencyMs = 2000;
    form->Actions().UpdateAll->trigger();
    ASSERT_TRUE(WaitUntil([&] { return concurrency.Now >= 6; }));
    QElapsedTimer clock;
    clock.start();
    form->close();
    form.reset();
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_TRUE(finishedIds.empty());
}

}  // namespace
