// The polling thread: walks the feed list one feed per interval.
//
// The thread owns no widget and no configuration data. Everything that looks
// at the tree or the configuration (choosing the next feed, starting and
// finishing an update, reading the interval) is carried over to the
// user-interface thread as queued calls; only the download and the parsing
// run here. The visible start of an update and its result each run in one
// event, and a result always runs before the next update's start, so two
// updates never interleave their visible steps. A manual update running on
// the user-interface thread at the same time cannot deadlock with this
// thread: it only has to let queued events through.
//
// With no pause between feeds the thread does not wait for a result to be
// applied: it fetches the next feed while the user-interface thread stores
// the previous one. That next feed is chosen ahead, silently; when the
// result has been applied the choice is checked again against the list as
// it is then, and a feed that is no longer next (one was added, moved or
// deleted meanwhile) has its download abandoned, so feeds are visited in
// exactly the order of one-at-a-time polling.
//
// A feed with an update interval of its own stands outside the round: the
// round passes it by, and once its interval has run since its last update
// (or since the thread last started it, so a failing feed is not fetched
// again at once) it is fetched next, ahead of the round, which then goes on
// where it was. A pause between round feeds is cut short for it.
//
// With automatic polling on (THost::Automatic) there is no round: every
// feed waits in the schedule's queue (schedule::TScheduler) until its own
// rhythm, its own interval or its server says it is due, one request at a
// time, hosts spaced apart. The pause of the options is then the least time
// between two requests, and sets the freshness asked for: the feeds share a
// third of the requests the round would send (schedule::TPollBudget), each
// after its own posting rate. Any fetch of a feed (this thread's, a manual
// update, "update all") restarts its rhythm (Fetched).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "PollBudget.h"
#include "Rhythm.h"
#include "Scheduler.h"

class QObject;
class QThreadPool;

// One feed update, split where it crosses threads.
class TUpdateJob {
public:
    virtual ~TUpdateJob() = default;
    // The visible start of the update ("UpdatingFeed"); runs on the
    // user-interface thread, before Finish and never for an abandoned job.
    virtual void Start() = 0;
    // The download and the parsing; runs off the user-interface thread and
    // touches only the job's own objects.
    virtual void Fetch() = 0;
    // Fetch in two halves, for a caller that runs the second beside the
    // next job's download: Download goes over the network, Complete does
    // what is left before Finish (writing, recording). Both run off the
    // user-interface thread, one after the other.
    virtual void Download() { Fetch(); }
    virtual void Complete() {}
    // Applies the result; runs on the user-interface thread.
    virtual void Finish() = 0;
    // Abandons a running Fetch as soon as possible; callable from any thread.
    virtual void Cancel() = 0;
    // What the answer said about the next fetch, for automatic polling;
    // read on the user-interface thread after Finish.
    virtual schedule::TAnswerHints AnswerHints() const { return {}; }
};

class TUpdateThread {
public:
    // What the thread needs from the main window; every function is called
    // on the user-interface thread, inside an event of `Context`.
    struct THost {
        QObject* Context = nullptr;
        // The ids of the feeds to poll, in the order they are polled (the
        // list's, through its folders).
        std::function<std::vector<std::string>()> FeedIds;
        // Optional: a number that changes whenever feeds are added, removed
        // or moved, or a feed's own interval or address changes. The thread
        // then reads the list once per change instead of at every step
        // (each step would otherwise cost a walk of thousands of feeds on
        // the user-interface thread).
        std::function<std::uint64_t()> ListVersion;
        // Prepares the update of a feed without any visible effect (what to
        // fetch); nullptr when there is nothing to fetch.
        std::function<std::shared_ptr<TUpdateJob>(const std::string& id)> PrepareUpdate;
        // The pause after an update, in seconds.
        std::function<int()> UpdateIntervalSeconds;
        // Optional: true for a feed the pass is to go by for now (its
        // server asked for a pause, or it is downloading elsewhere). It is
        // skipped without a pause of its own, as if it were not in the list.
        std::function<bool(const std::string& id)> Deferred;
        // Optional: a feed's own interval and the time of its last update
        // (nullopt: never updated); nullopt for a feed that follows the round.
        struct TOwnInterval {
            std::chrono::seconds Every{0};
            std::optional<std::chrono::system_clock::time_point> LastUpdate;
        };
        std::function<std::optional<TOwnInterval>(const std::string& id)> OwnInterval;
        // Optional: the clock the own intervals are measured by; the system
        // clock without it.
        std::function<std::chrono::system_clock::time_point()> Now;

        // Automatic polling. Optional: true while each feed is to be polled
        // at its own rhythm instead of one after another; without it, or
        // while it says false, the round above runs as it always has.
        std::function<bool()> Automatic;
        // A feed's address: feeds of one host are spaced apart.
        std::function<std::string(const std::string& id)> FeedUrl;
        // When the feed's newest items were first seen, its rhythm (any
        // order; none for a feed without a history).
        std::function<std::vector<std::chrono::system_clock::time_point>(const std::string& id)> FirstSeen;
        // The least time between two requests to one host.
        std::chrono::seconds HostSpacing{10};
        // Optional: what a feed and its server last asked of the next
        // fetch and when it was last fetched, as kept across restarts; read
        // once, when the schedule first meets the feed, so that a restart
        // honours a Retry-After and a feed fetched lately waits its rhythm.
        struct TKept {
            schedule::TAnswerHints Asked;
            std::optional<std::chrono::system_clock::time_point> LastFetch;
        };
        std::function<TKept(const std::string& id)> Kept;
    };

    // Starts running at once: the first feed is updated without a pause.
    explicit TUpdateThread(THost host);
    // Stops and joins.
    ~TUpdateThread();
    TUpdateThread(const TUpdateThread&) = delete;
    TUpdateThread& operator=(const TUpdateThread&) = delete;

    // Call on the user-interface thread. Cancels the download in flight,
    // wakes the sleeping thread and joins it. Once it returns, no queued part
    // of this thread will touch the window any more.
    void Stop();
    bool Terminated() const { return FTerminated.load(); }

    // The feed after the one visited last, or the first feed when that was
    // the last one, was deleted with nothing after it, or there was none yet;
    // "" for an empty list. User-interface thread only.
    std::string GetNextFeed();

    // The id of the feed visited last ("" before the first pass).
    std::string LastFeedId() const;

    // Automatic polling waiting for its next feed looks at the schedule
    // again at once (the clock, the options or the list changed) instead of
    // at its next regular look. Any thread.
    void Recheck();

    // The automatic schedule's due time of a feed, by id; nullopt for a
    // feed it does not hold (or while polling one after another).
    // User-interface thread only.
    std::optional<std::chrono::system_clock::time_point> AutomaticDueTime(const std::string& id) const;

    // A feed was fetched at `at` by anyone (a manual update, "update all",
    // this thread): its next automatic due time counts from that fetch and
    // what its answer said. User-interface thread only.
    void Fetched(const std::string& id, const schedule::TAnswerHints& answer, std::chrono::system_clock::time_point at);

private:
    void Execute();
    // Automatic polling: one feed fetched, or a wait until the next is
    // due. False once the thread is stopped.
    bool AutomaticStep();
    // User-interface thread. Brings the schedule up to date with the feed
    // list and starts the update of the feed due now, if any; otherwise sets
    // `wait` to how long until one may be.
    std::shared_ptr<TUpdateJob> StartAutomatic(std::chrono::milliseconds& wait, std::string& id,
                                               std::chrono::system_clock::time_point& started);
    void SyncSchedule();
    // Whether the feed is in the polling list.
    bool Polled(const std::string& id) const { return IndexInList(id) >= 0; }
    // User-interface thread, after a result: the feed's next due time from
    // what it and its answer say.
    void Reschedule(const std::string& id, const schedule::TAnswerHints& answer,
                    std::chrono::system_clock::time_point started);
    // A feed's typical gap from its history, noted in the budget.
    std::chrono::seconds LearnGap(const std::string& id);
    // What decides a feed's next fetch, with its gap learned now unless
    // given.
    schedule::TFeedHints HintsOf(const std::string& id, std::optional<std::chrono::seconds> gap = std::nullopt);
    // A feed of its own interval that is due now, the longest overdue first;
    // else GetNextFeed, passing by deferred feeds and those of their own
    // interval in list order. "" when the list is empty or nothing is
    // due. The feed `ownId`, whose download this thread runs itself, is
    // never deferred. `roundReady` is false while the round pauses: only a
    // feed of its own interval is chosen then.
    std::string NextDueFeed(const std::string& ownId = {}, bool roundReady = true);
    // When a feed of its own interval is due next, by the host's clock;
    // nullopt for a feed that follows the round.
    std::optional<std::chrono::system_clock::time_point> OwnDueTime(const std::string& id) const;
    // How long until the next feed of its own interval is due, zero for one
    // due now; nullopt when there is none.
    std::optional<std::chrono::milliseconds> UntilOwnDue() const;
    std::chrono::system_clock::time_point Now() const;
    // User-interface thread. Notes that the feed starts now: a round feed
    // moves the pass on, a feed of its own interval only restarts its
    // interval.
    void MarkStarted(const std::string& id);
    // User-interface thread. Moves the pass on to the feed.
    void MarkVisited(const std::string& id);
    // The feeds in polling order, where each is in it, and which of them
    // have an interval of their own.
    struct TPollingList {
        std::vector<std::string> Ids;
        std::unordered_map<std::string, int> Index;
        std::vector<std::string> OwnInterval;
    };
    const TPollingList& PollingList() const;
    // Copies: without ListVersion any host call may read the list afresh.
    std::vector<std::string> PollingOrder() const { return PollingList().Ids; }
    std::vector<std::string> OwnIntervalFeeds() const { return PollingList().OwnInterval; }
    int IndexInList(const std::string& id) const;
    bool HasOwnInterval(const std::string& id) const;
    // User-interface thread. Chooses the next feed and starts its update;
    // nullptr for an empty list or a feed with nothing to fetch.
    std::shared_ptr<TUpdateJob> StartNext(bool roundReady = true);
    // User-interface thread. Prepares the next feed's update ahead of the
    // current result, or nullptr when the next feed is the current one.
    std::shared_ptr<TUpdateJob> PrepareAhead(std::string& preparedId);
    // User-interface thread, after the current result: starts the update
    // prepared ahead if its feed is still the next one, else abandons it.
    void StartPreparedOrAbandon(const std::shared_ptr<TUpdateJob>& prepared, const std::string& preparedId);
    // Runs fn on the user-interface thread without waiting for it.
    void PostToUi(std::function<void()> fn);
    // Runs fn on the user-interface thread and waits for it. False when the
    // thread was stopped before it ran (fn then never runs).
    bool RunOnUi(const std::function<void()>& fn);
    // Waits `duration` or until stopped.
    void Pause(std::chrono::milliseconds duration);

    // Shared with queued calls that may outlive a wait: they check `stopped`
    // on the user-interface thread before doing anything.
    struct TShared {
        bool Stopped = false;  // user-interface thread only
    };

    THost FHost;
    std::shared_ptr<TShared> FShared = std::make_shared<TShared>();
    // User-interface thread only:
    std::string FLastFeed;  // id of the feed visited last
    int FLastIndex = -1;    // its position then, to go on after a deletion
    // The last choice found every feed deferred: the thread waits a moment
    // before looking again, even with no pause between feeds.
    bool FAllDeferred = false;
    // The last choice was a feed of its own interval, or found only such
    // feeds not due yet: the round's pause is not restarted by it.
    bool FOwnChoice = false;
    // When the thread last started each feed of its own interval, by id.
    std::unordered_map<std::string, std::chrono::system_clock::time_point> FOwnStarted;
    // The list as read at FListVersion (none: read afresh at every use).
    mutable TPollingList FList;
    mutable std::optional<std::uint64_t> FListVersion;
    // An update prepared ahead whose feed turned out not to be next: its
    // download is cancelled and its result never applied.
    const TUpdateJob* FAbandoned = nullptr;
    std::atomic<bool> FTerminated{false};
    mutable std::mutex FMutex;
    std::condition_variable FWake;
    // Automatic polling, user-interface thread only: the queue, each
    // feed's host as queued, and what each feed's last answer said.
    schedule::TScheduler FSchedule;
    std::unordered_map<std::string, std::string> FScheduledHost;
    // The list's version and the pause the schedule was last brought up to
    // date with.
    std::optional<std::uint64_t> FScheduledVersion;
    int FScheduledPause = 0;
    std::unordered_map<std::string, schedule::TAnswerHints> FAnswers;
    // The feed whose fetch was last reported through Fetched: the thread's
    // own result, reported while it is applied, is not rescheduled twice.
    std::string FReported;
    // How long one round over every feed would take: the rhythm of a feed
    // without a history, so it is polled as often as before.
    std::chrono::seconds FRoundLength{0};
    // How the requests a third of the round's are shared among the feeds.
    schedule::TPollBudget FBudget;
    std::shared_ptr<TUpdateJob> FCurrentJob;  // guarded by FMutex
    bool FRecheck = false;                    // guarded by FMutex
    // Where each update's second half (writing, recording) runs while the
    // polling thread downloads the next feed: one thread, kept for good so
    // that its item-store connection is opened once.
    std::unique_ptr<QThreadPool> FCompletion;
    // Completes the update just downloaded, then posts its result together
    // with the start of the one prepared after it.
    std::future<void> CompleteAndPost(std::shared_ptr<TUpdateJob> job, std::shared_ptr<TUpdateJob> next,
                                      std::string nextId);
    std::thread FThread;
};

// A feed's own interval as its element keeps it: `interval` in whole seconds
// (nullopt when absent, not a number or not above zero: the feed follows
// the round) and `lastupdate` as written after each update, local time
// ("2026-12-01T10:00:00"; an unreadable one counts as never).
std::optional<TUpdateThread::THost::TOwnInterval> ReadOwnInterval(const std::string& interval,
                                                                  const std::string& lastUpdate);
