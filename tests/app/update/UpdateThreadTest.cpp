// The polling thread against a plain tree: the order in which it visits
// feeds, how it copes with feeds added and deleted under it, and how fast it
// stops. The updates here are stand-ins that record what happened.
#include "UpdateThread.h"

#include "AppTestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

using apptest::WaitUntil;

class FakeJob : public TUpdateJob {
public:
    std::function<void()> OnStart;
    std::function<void(FakeJob&)> OnFetch;
    std::function<void()> OnFinish;
    std::function<void()> OnComplete;
    std::atomic<bool> Completed{false};
    std::atomic<bool> CancelRequested{false};
    bool FetchedOnUiThread = false;
    schedule::TAnswerHints Answer;
    schedule::TAnswerHints AnswerHints() const override { return Answer; }

    void Start() override {
        if (OnStart) OnStart();
    }
    void Fetch() override {
        FetchedOnUiThread = QThread::currentThread() == qApp->thread();
        if (OnFetch) OnFetch(*this);
    }
    void Complete() override {
        if (OnComplete) OnComplete();
        Completed = true;
    }
    void Finish() override {
        if (OnFinish) OnFinish();
    }
    void Cancel() override { CancelRequested = true; }
};

// A list of feed ids. Each case runs twice: with the list read at every
// step, and with it read once per change (as the window does).
class PollingFixture : public ::testing::TestWithParam<bool> {
protected:
    QObject Context;
    std::vector<std::string> List;
    std::vector<std::string> Visits;  // ids, in the order updates began
    std::vector<std::string> Finished;
    int Interval = 0;
    int IntervalReads = 0;
    // Lets a test act inside the update of a feed (on the user-interface
    // thread, between the download and the next choice).
    std::function<void(const std::string&)> DuringFinish;
    std::function<void(const std::string&)> DuringStart;
    std::function<void(FakeJob&)> DuringFetch;
    std::function<void()> DuringComplete;
    bool AnyFetchOnUiThread = false;
    bool AnyResultBeforeItsCompletion = false;
    // Feeds the pass is to go by (by id); unset: none.
    std::function<bool(const std::string&)> IsDeferred;
    std::atomic<int> DeferredAsked{0};
    // Feeds with an interval of their own (by id), measured by a clock the
    // test moves; both read on the user-interface thread only.
    std::map<std::string, TUpdateThread::THost::TOwnInterval> Own;
    std::chrono::system_clock::time_point FakeNow = std::chrono::system_clock::time_point(std::chrono::hours(500000));
    // Automatic polling: the option, each feed's history and answer (by id).
    std::function<bool()> Automatic;
    std::map<std::string, std::vector<std::chrono::system_clock::time_point>> History;
    std::map<std::string, schedule::TAnswerHints> Answers;
    std::uint64_t ListVersion = 0;
    // What each feed asked for before a restart, and when it was fetched.
    std::map<std::string, TUpdateThread::THost::TKept> Kept;

    void AddFeed(const std::string& id, std::size_t at = SIZE_MAX) {
        List.insert(List.begin() + static_cast<std::ptrdiff_t>(std::min(at, List.size())), id);
        ++ListVersion;
    }
    bool Has(const std::string& id) const { return std::find(List.begin(), List.end(), id) != List.end(); }
    void Remove(const std::string& id) {
        std::erase(List, id);
        ++ListVersion;
    }
    void Clear() {
        List.clear();
        ++ListVersion;
    }

    std::unique_ptr<TUpdateThread> Start() {
        TUpdateThread::THost host;
        host.Context = &Context;
        host.FeedIds = [this] { return List; };
        if (GetParam()) host.ListVersion = [this] { return ListVersion; };
        host.PrepareUpdate = [this](const std::string& id) -> std::shared_ptr<TUpdateJob> {
            auto job = std::make_shared<FakeJob>();
            job->OnStart = [this, id] {
                Visits.push_back(id);
                if (DuringStart) DuringStart(id);
            };
            job->OnFetch = DuringFetch;
            job->OnComplete = DuringComplete;
            if (const auto answer = Answers.find(id); answer != Answers.end()) job->Answer = answer->second;
            job->OnFinish = [this, id, raw = job.get()] {
                AnyFetchOnUiThread = AnyFetchOnUiThread || raw->FetchedOnUiThread;
                AnyResultBeforeItsCompletion = AnyResultBeforeItsCompletion || !raw->Completed;
                Finished.push_back(id);
                if (DuringFinish) DuringFinish(id);
            };
            return job;
        };
        host.UpdateIntervalSeconds = [this] {
            ++IntervalReads;
            return Interval;
        };
        if (!Own.empty()) {
            host.OwnInterval = [this](const std::string& id) -> std::optional<TUpdateThread::THost::TOwnInterval> {
                const auto found = Own.find(id);
                if (found == Own.end()) return std::nullopt;
                return found->second;
            };
            host.Now = [this] { return FakeNow; };
        }
        if (Automatic) {
            host.Automatic = Automatic;
            host.Now = [this] { return FakeNow; };
            host.FeedUrl = [](const std::string& id) { return "http://" + id + ".example/feed"; };
            host.FirstSeen = [this](const std::string& id) { return History[id]; };
            host.Kept = [this](const std::string& id) { return Kept[id]; };
        }
        if (IsDeferred)
            host.Deferred = [this](const std::string& id) {
                ++DeferredAsked;
                return IsDeferred(id);
            };
        return std::make_unique<TUpdateThread>(std::move(host));
    }

    static std::vector<std::string> Ids(std::initializer_list<const char*> ids) {
        return std::vector<std::string>(ids.begin(), ids.end());
    }
};

INSTANTIATE_TEST_SUITE_P(ListReadEachStepOrPerChange, PollingFixture, ::testing::Bool());

TEST_P(PollingFixture, VisitsFeedsInListOrderAndStartsAgain) {
    AddFeed("1");
    AddFeed("2");
    AddFeed("3");
    auto thread = Start();
    ASSERT_TRUE(WaitUntil([&] { return Visits.size() >= 5; }));
    thread->Stop();
    Visits.resize(5);
    EXPECT_EQ(Visits, Ids({"1", "2", "3", "1", "2"}));
    EXPECT_FALSE(AnyFetchOnUiThread);
    // The pause is read again after every update.
    EXPECT_GE(IntervalReads, 4);
}

TEST_P(PollingFixture, FeedAddedDuringTheLastFeedIsVisitedNext) {
    AddFeed("1");
    AddFeed("2");
    AddFeed("3");
    DuringFinish = [&](const std::string& id) {
        if (id == "3" && !Has("4")) AddFeed("4");
    };
    auto thread = Start();
    ASSERT_TRUE(WaitUntil([&] { return Visits.size() >= 5; }));
    thread->Stop();
    Visits.resize(5);
    EXPECT_EQ(Visits, Ids({"1", "2", "3", "4", "1"}));
}

TEST_P(PollingFixture, DeletingTheLastVisitedFeedDoesNotStopThePass) {
    struct Case {
        const char* name;
        const char* deleted;  // deleted while its own update finishes
        std::vector<std::string> expected;
    } cases[] = {
        {"middle feed", "2", Ids({"1", "2", "3", "1", "3"})},
        {"last feed", "3", Ids({"1", "2", "3", "1", "2"})},
        {"first feed", "1", Ids({"1", "2", "3", "2", "3"})},
    };
    for (const Case& c : cases) {
        Clear();
        Visits.clear();
        AddFeed("1");
        AddFeed("2");
        AddFeed("3");
        bool deleted = false;
        DuringFinish = [&](const std::string& id) {
            if (id == c.deleted && !deleted) {
                Remove(id);
                deleted = true;
            }
        };
        auto thread = Start();
        ASSERT_TRUE(WaitUntil([&] { return Visits.size() >= 5; })) << c.name;
        thread->Stop();
        Visits.resize(5);
        EXPECT_EQ(Visits, c.expected) << c.name;
    }
}

TEST_P(PollingFixture, NextDownloadOverlapsTheResultButVisibleStepsNeverInterleave) {
    // Each result takes a while to complete (writing) and then to apply on
    // the user-interface thread. With no pause the next feed downloads
    // during both; a list of one feed must wait for its own result instead.
    // Either way every start is followed by its own result before the next
    // start, and no result is applied before its completion.
    for (const int feeds : {3, 1}) {
        Clear();
        Visits.clear();
        Finished.clear();
        for (int i = 1; i <= feeds; ++i) AddFeed(std::to_string(i));
        std::vector<std::string> uiSteps;
        std::atomic<bool> applying{false}, completing{false};
        std::atomic<int> fetchesDuringAResult{0}, fetchesDuringACompletion{0};
        // A download notices when a result is being completed or applied
        // while it runs.
        DuringFetch = [&](FakeJob&) {
            for (int i = 0; i < 50 && !applying && !completing; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            fetchesDuringACompletion += completing ? 1 : 0;
            for (int i = 0; i < 50 && !applying; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            fetchesDuringAResult += applying ? 1 : 0;
        };
        DuringComplete = [&] {
            completing = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            completing = false;
        };
        DuringStart = [&](const std::string& id) { uiSteps.push_back("start " + id); };
        DuringFinish = [&](const std::string& id) {
            uiSteps.push_back("result " + id);
            applying = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            applying = false;
        };
        auto thread = Start();
        ASSERT_TRUE(WaitUntil([&] { return Finished.size() >= 6; }));
        thread->Stop();
        std::vector<std::string> expected;
        for (int i = 0; i < 6; ++i) {
            const std::string id = std::to_string(i % feeds + 1);
            expected.push_back("start " + id);
            expected.push_back("result " + id);
        }
        uiSteps.resize(12);
        EXPECT_EQ(uiSteps, expected) << feeds << " feeds";
        EXPECT_FALSE(AnyResultBeforeItsCompletion);
        if (feeds == 1) {
            EXPECT_EQ(fetchesDuringAResult, 0);
            EXPECT_EQ(fetchesDuringACompletion, 0);
        } else {
            EXPECT_GE(fetchesDuringAResult, 4);
            EXPECT_GE(fetchesDuringACompletion, 4);
        }
    }
    DuringComplete = nullptr;
}

TEST_P(PollingFixture, AFeedFetchedAheadThatIsNoLongerNextIsAbandoned) {
    AddFeed("1");
    AddFeed("2");
    AddFeed("3");
    // While the first result is applied, feed 2 is already downloading; a
    // feed inserted after feed 1 now comes first.
    DuringFinish = [&](const std::string& id) {
        if (id == "1" && !Has("9")) AddFeed("9", 1);
    };
    std::atomic<int> cancelled{0};
    DuringFetch = [&](FakeJob& job) {
        for (int i = 0; i < 50 && !job.CancelRequested; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        cancelled += job.CancelRequested ? 1 : 0;
    };
    auto thread = Start();
    ASSERT_TRUE(WaitUntil([&] { return Finished.size() >= 5; }));
    const int cancelledWhilePolling = cancelled;  // Stop cancels one more
    thread->Stop();
    Visits.resize(5);
    EXPECT_EQ(Visits, Ids({"1", "9", "2", "3", "1"}));
    Finished.resize(5);
    EXPECT_EQ(Finished, Visits);  // the abandoned download was never applied
    EXPECT_EQ(cancelledWhilePolling, 1);
}

TEST_P(PollingFixture, EmptyListSleepsAndLooksAgain) {
    // Even with no pause between feeds, an empty list is looked at a few
    // times a second, not in a busy loop.
    auto thread = Start();
    ASSERT_TRUE(WaitUntil([&] { return IntervalReads >= 3; }));
    const int readsBefore = IntervalReads;
    WaitUntil([] { return false; }, 500);
    EXPECT_LE(IntervalReads - readsBefore, 4);
    EXPECT_TRUE(Visits.empty());
    AddFeed("9");
    ASSERT_TRUE(WaitUntil([&] { return !Visits.empty(); }));
    thread->Stop();
    EXPECT_EQ(Visits.front(), "9");
}

TEST_P(PollingFixture, StopCancelsASlowDownloadAndNothingFinishesAfterwards) {
    AddFeed("1");
    std::atomic<bool> fetching{false};
    DuringFetch = [&](FakeJob& job) {
        fetching = true;
        // A download that would take half a minute unless cancelled.
        for (int i = 0; i < 3000 && !job.CancelRequested; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    auto thread = Start();
    ASSERT_TRUE(WaitUntil([&] { return fetching.load(); }));
    QElapsedTimer clock;
    clock.start();
    thread->Stop();
    EXPECT_LT(clock.elapsed(), 2000);
    QCoreApplication::processEvents();
    EXPECT_TRUE(Finished.empty());
}

TEST_P(PollingFixture, StopDuringALongPauseReturnsAtOnce) {
    AddFeed("1");
    Interval = 3600;
    auto thread = Start();
    ASSERT_TRUE(WaitUntil([&] { return IntervalReads >= 1; }));
    QElapsedTimer clock;
    clock.start();
    thread.reset();  // the destructor stops too
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(Visits, Ids({"1"}));
}

TEST_P(PollingFixture, StopWhileTheThreadWaitsForTheUserInterface) {
    AddFeed("1");
    AddFeed("2");
    // Without processing events the thread's first call to the user-interface
    // thread stays queued; stopping must neither deadlock nor run it later.
    auto thread = Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    thread->Stop();
    QCoreApplication::processEvents();
    EXPECT_TRUE(Visits.empty());
}

TEST_P(PollingFixture, DeferredFeedsArePassedByWithoutTheirOwnPause) {
    for (int i = 1; i <= 4; ++i) AddFeed(std::to_string(i));
    std::mutex deferredMutex;
    std::set<std::string> deferred = {"2", "4"};
    IsDeferred = [&](const std::string& id) {
        std::lock_guard lock(deferredMutex);
        return deferred.count(id) > 0;
    };
    // No pause between feeds: deferred ones are skipped, others keep order.
    auto thread = Start();
    ASSERT_TRUE(WaitUntil([&] { return Visits.size() >= 5; }));
    thread->Stop();
    Visits.resize(5);
    EXPECT_EQ(Visits, Ids({"1", "3", "1", "3", "1"}));

    // Every feed deferred: the thread neither visits nor spins, and goes on
    // where it was once the pause is lifted.
    Visits.clear();
    deferred = {"1", "2", "3", "4"};
    DeferredAsked = 0;
    thread = Start();
    WaitUntil([] { return false; }, 400);
    EXPECT_TRUE(Visits.empty());
    EXPECT_LT(DeferredAsked.load(), 40) << "looked again too often";
    {
        std::lock_guard lock(deferredMutex);
        deferred = {"1"};
    }
    ASSERT_TRUE(WaitUntil([&] { return Visits.size() >= 3; }));
    thread->Stop();
    Visits.resize(3);
    EXPECT_EQ(Visits, Ids({"2", "3", "4"}));

    // With a pause, a skipped feed costs no pause of its own.
    Visits.clear();
    deferred = {"2", "3"};
    Interval = 1;
    QElapsedTimer clock;
    clock.start();
    thread = Start();
    ASSERT_TRUE(WaitUntil([&] { return Visits.size() >= 2; }, 5000));
    EXPECT_LT(clock.elapsed(), 1700) << "2 and 3 each took a pause";
    thread->Stop();
    EXPECT_EQ(Visits, Ids({"1", "4"}));
}

TEST_P(PollingFixture, FeedsOfTheirOwnIntervalWaitForItThenJumpTheRound) {
    using std::chrono::seconds;
    struct Case {
        const char* name;
        std::optional<seconds> lastUpdateAgo;  // of feed 9, whose interval is 600 s; nullopt: never
        const char* advanceAfter;              // the clock moves 600 s as this feed's result is applied
        std::vector<std::string> expected;
    } cases[] = {
        {"not due yet: passed by", seconds(0), nullptr, Ids({"1", "2", "3", "1", "2", "3"})},
        // Fetched once, as its interval now runs from that start, though its
        // last update stays where it was (a failure writes none).
        {"due: fetched next, then the round goes on", seconds(0), "2", Ids({"1", "2", "9", "3", "1", "2"})},
        {"never updated: fetched first", std::nullopt, nullptr, Ids({"9", "1", "2", "3", "1", "2"})},
        {"a last update in the future does not hold it back", seconds(-7200), nullptr,
         Ids({"9", "1", "2", "3", "1", "2"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Clear();
        Visits.clear();
        AddFeed("1");
        AddFeed("2");
        AddFeed("3");
        AddFeed("9");
        const auto start = FakeNow;
        Own["9"] = {seconds(600), c.lastUpdateAgo ? std::optional(start - *c.lastUpdateAgo) : std::nullopt};
        bool advanced = false;
        DuringFinish = [&](const std::string& id) {
            if (c.advanceAfter && id == c.advanceAfter && !advanced) {
                FakeNow += seconds(600);
                advanced = true;
            }
        };
        auto thread = Start();
        ASSERT_TRUE(WaitUntil([&] { return Visits.size() >= 6; }));
        thread->Stop();
        Visits.resize(6);
        EXPECT_EQ(Visits, c.expected);
    }
}

TEST_P(PollingFixture, ALongPauseOfTheRoundIsCutShortForAFeedThatFallsDue) {
    using std::chrono::seconds;
    Interval = 3600;
    AddFeed("1");
    AddFeed("9");
    Own["9"] = {seconds(600), FakeNow - seconds(599)};
    auto thread = Start();
    ASSERT_TRUE(WaitUntil([&] { return Visits.size() >= 1; }));
    FakeNow += seconds(2);
    ASSERT_TRUE(WaitUntil([&] { return Visits.size() >= 2; }, 3000));
    // The round keeps its hour: feed 1 is not fetched again.
    WaitUntil([] { return false; }, 400);
    thread->Stop();
    EXPECT_EQ(Visits, Ids({"1", "9"}));
}

TEST(OwnIntervalTest, ReadsTheIntervalAndLastUpdateAsTheElementKeepsThem) {
    const auto tenOClock = QDateTime(QDate(2026, 12, 1), QTime(10, 0)).toMSecsSinceEpoch();
    struct Case {
        const char* interval;
        const char* lastUpdate;
        std::optional<long long> seconds;  // nullopt: the feed follows the round
        bool hasLastUpdate;
    } cases[] = {
        {"3600", "2026-12-01T10:00:00", 3600, true},
        {" 90 ", "", 90, false},
        {"60", "yesterday", 60, false},
        {"", "2026-12-01T10:00:00", std::nullopt, false},
        {"0", "", std::nullopt, false},
        {"-300", "", std::nullopt, false},
        {"1h", "", std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.interval) + " / " + c.lastUpdate);
        const auto own = ReadOwnInterval(c.interval, c.lastUpdate);
        ASSERT_EQ(own.has_value(), c.seconds.has_value());
        if (!own) continue;
        EXPECT_EQ(own->Every.count(), *c.seconds);
        ASSERT_EQ(own->LastUpdate.has_value(), c.hasLastUpdate);
        if (own->LastUpdate) {
            EXPECT_EQ(
                std::chrono::duration_cast<std::chrono::milliseconds>(own->LastUpdate->time_since_epoch()).count(),
                tenOClock);
        }
    }
}

TEST_P(PollingFixture, AutomaticPollingFollowsEachRhythmAndTheDefaultStaysTheRound) {
    using namespace std::chrono;
    AddFeed("hourly");
    AddFeed("ttl");
    AddFeed("own");
    const auto t0 = FakeNow;
    for (int i = 0; i < 6; ++i) History["hourly"].push_back(t0 - hours(i));
    Answers["ttl"].HadFeed = true;
    Answers["ttl"].Ttl = hours(3);
    Own["own"] = {minutes(5), std::nullopt};

    // The option says no: the round goes on exactly as before.
    Automatic = [] { return false; };
    {
        auto thread = Start();
        ASSERT_TRUE(WaitUntil([&] { return Visits.size() >= 4; }));
        thread->Stop();
        Visits.resize(4);
        EXPECT_EQ(Visits, Ids({"own", "hourly", "ttl", "hourly"}));  // its own interval goes first
        EXPECT_FALSE(thread->AutomaticDueTime("hourly"));
    }

    // Automatic: every feed once, spread a second apart by the fake clock,
    // each then due as its rhythm, its answer or its own interval says.
    Visits.clear();
    Finished.clear();
    Automatic = [] { return true; };
    auto thread = Start();
    for (int step = 1; step <= 3; ++step) {
        ASSERT_TRUE(WaitUntil([&] { return static_cast<int>(Finished.size()) >= step; })) << step;
        FakeNow += seconds(1);
        thread->Recheck();
    }
    EXPECT_EQ(Visits, Ids({"hourly", "ttl", "own"}));
    // No pause asks for the freshest feeds the budget allows: the floor.
    EXPECT_EQ(thread->AutomaticDueTime("hourly"), t0 + minutes(15));
    EXPECT_EQ(thread->AutomaticDueTime("ttl"), t0 + seconds(1) + hours(3));
    EXPECT_EQ(thread->AutomaticDueTime("own"), t0 + seconds(2) + minutes(5));
    // The own interval comes round first.
    FakeNow = t0 + minutes(6);
    thread->Recheck();
    ASSERT_TRUE(WaitUntil([&] { return Visits.size() >= 4; }));
    thread->Stop();
    EXPECT_EQ(Visits.back(), "own");
    EXPECT_EQ(Visits.size(), 4u);
}

TEST_P(PollingFixture, AutomaticDueTimesCountFromWhatWasKeptAndFromAnyFetch) {
    using namespace std::chrono;
    const auto t0 = FakeNow;
    schedule::TAnswerHints ttl;
    ttl.HadFeed = true;
    ttl.Ttl = hours(3);
    schedule::TAnswerHints retry;
    retry.RetryAfter = t0 + hours(2);
    struct Case {
        const char* id;
        TUpdateThread::THost::TKept kept;
        std::optional<system_clock::time_point> due;  // nullopt: fetched at start
    };
    // No pause: the budget lets every feed go at the 15-minute floor.
    const std::vector<Case> restart = {
        {"recent", {{}, t0 - minutes(10)}, t0 + minutes(5)},
        {"ttl", {ttl, t0 - hours(1)}, t0 + hours(2)},
        {"retry", {retry, t0 - minutes(1)}, t0 + hours(2)},
        {"retry-never-fetched", {retry, std::nullopt}, t0 + hours(2)},
        {"new", {}, std::nullopt},
    };
    for (const Case& c : restart) {
        AddFeed(c.id);
        Kept[c.id] = c.kept;
        for (int i = 0; i < 6; ++i) History[c.id].push_back(t0 - hours(i));
    }
    Automatic = [] { return true; };
    auto thread = Start();
    ASSERT_TRUE(WaitUntil([&] { return Finished.size() >= 1; }));
    EXPECT_EQ(Visits, Ids({"new"}));  // no burst: the others wait
    for (const Case& c : restart) {
        if (c.due) {
            EXPECT_EQ(thread->AutomaticDueTime(c.id), c.due) << c.id;
        }
    }

    // A manual update restarts the rhythm from its own fetch; a Retry-After
    // it met holds the feed back.
    struct Fetch {
        const char* id;
        schedule::TAnswerHints answer;
        system_clock::time_point at;
        system_clock::time_point due;
    };
    schedule::TAnswerHints later;
    later.RetryAfter = t0 + hours(5);
    const std::vector<Fetch> fetches = {
        {"recent", {}, t0 + minutes(5), t0 + minutes(20)},
        {"ttl", {}, t0 + minutes(5), t0 + minutes(5) + hours(3)},  // the feed's ttl stands
        {"new", later, t0 + minutes(6), t0 + hours(5)},
    };
    for (const Fetch& f : fetches) {
        thread->Fetched(f.id, f.answer, f.at);
        EXPECT_EQ(thread->AutomaticDueTime(f.id), f.due) << f.id;
    }
    thread->Stop();
    EXPECT_EQ(Visits.size(), 1u);
}

}  // namespace
