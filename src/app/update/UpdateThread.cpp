#include "UpdateThread.h"

#include <QDateTime>
#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#include <algorithm>
#include <chrono>
#include <future>

namespace {

// How often an empty feed list is looked at again when the pause is 0.
constexpr std::chrono::milliseconds kEmptyListRecheck(250);
// Automatic polling looks at the feed list at least this often while it
// waits, so that added feeds and a changed option are seen.
constexpr std::chrono::milliseconds kAutomaticRecheck(30'000);
// A feed that could not start (it is downloading elsewhere, or its server
// asked for a pause) is looked at again after this.
constexpr std::chrono::seconds kAutomaticBusyRetry(60);

}  // namespace

std::optional<TUpdateThread::THost::TOwnInterval> ReadOwnInterval(const std::string& interval,
                                                                  const std::string& lastUpdate) {
    bool ok = false;
    const qlonglong seconds = QString::fromStdString(interval).trimmed().toLongLong(&ok);
    if (!ok || seconds <= 0) return std::nullopt;
    TUpdateThread::THost::TOwnInterval own;
    own.Every = std::chrono::seconds(seconds);
    const QDateTime last = QDateTime::fromString(QString::fromStdString(lastUpdate), Qt::ISODate);
    if (last.isValid())
        own.LastUpdate = std::chrono::system_clock::time_point(std::chrono::milliseconds(last.toMSecsSinceEpoch()));
    return own;
}

TUpdateThread::TUpdateThread(THost host)
    : FHost(std::move(host)),
      FSchedule({.HostSpacing = FHost.HostSpacing, .MinGap = std::chrono::seconds(1)}),
      FCompletion(std::make_unique<QThreadPool>()) {
    FCompletion->setMaxThreadCount(1);
    FCompletion->setExpiryTimeout(-1);
    FThread = std::thread([this] { Execute(); });
}

TUpdateThread::~TUpdateThread() { Stop(); }

void TUpdateThread::Stop() {
    // From here on, a queued part that has not run yet finds the flag and
    // returns without touching anything.
    FShared->Stopped = true;
    {
        std::lock_guard lock(FMutex);
        FTerminated = true;
        if (FCurrentJob) FCurrentJob->Cancel();
    }
    FWake.notify_all();
    if (FThread.joinable()) FThread.join();
}

std::string TUpdateThread::LastFeedId() const { return FLastFeed; }

const TUpdateThread::TPollingList& TUpdateThread::PollingList() const {
    const std::optional<std::uint64_t> version =
        FHost.ListVersion ? std::optional<std::uint64_t>(FHost.ListVersion()) : std::nullopt;
    if (version && FListVersion == version) return FList;
    FListVersion = version;
    TPollingList list;
    list.Ids = FHost.FeedIds();
    list.Index.reserve(list.Ids.size());
    for (std::size_t i = 0; i < list.Ids.size(); ++i) {
        const std::string& id = list.Ids[i];
        list.Index.emplace(id, static_cast<int>(i));
        if (FHost.OwnInterval) {
            const auto own = FHost.OwnInterval(id);
            if (own && own->Every > std::chrono::seconds(0)) list.OwnInterval.push_back(id);
        }
    }
    FList = std::move(list);
    return FList;
}

int TUpdateThread::IndexInList(const std::string& id) const {
    const TPollingList& list = PollingList();
    const auto found = list.Index.find(id);
    return found == list.Index.end() ? -1 : found->second;
}

bool TUpdateThread::HasOwnInterval(const std::string& id) const {
    if (!FHost.OwnInterval) return false;
    if (!FHost.ListVersion) {
        const auto own = FHost.OwnInterval(id);
        return own && own->Every > std::chrono::seconds(0);
    }
    const auto& own = PollingList().OwnInterval;
    return std::find(own.begin(), own.end(), id) != own.end();
}

namespace {

std::string At(const std::vector<std::string>& ids, int index) {
    return index >= 0 && index < static_cast<int>(ids.size()) ? ids[static_cast<std::size_t>(index)] : std::string();
}

}  // namespace

std::string TUpdateThread::GetNextFeed() {
    const std::vector<std::string> ids = PollingOrder();
    std::string next;
    if (!FLastFeed.empty()) {
        if (const int index = IndexInList(FLastFeed); index >= 0)
            next = At(ids, index + 1);  // none after the last feed
        else if (FLastIndex >= 0)
            next = At(ids, FLastIndex);  // deleted: its successor moved up
    }
    if (next.empty() && !ids.empty()) next = ids.front();
    return next;
}

std::chrono::system_clock::time_point TUpdateThread::Now() const {
    return FHost.Now ? FHost.Now() : std::chrono::system_clock::now();
}

std::optional<std::chrono::system_clock::time_point> TUpdateThread::OwnDueTime(const std::string& id) const {
    if (!FHost.OwnInterval || !HasOwnInterval(id)) return std::nullopt;
    const std::optional<THost::TOwnInterval> own = FHost.OwnInterval(id);
    if (!own || own->Every <= std::chrono::seconds(0)) return std::nullopt;
    using Clock = std::chrono::system_clock;
    // A last update in the future (a clock set back, a hand-edited file)
    // would hold the feed back for as long: it does not count.
    std::optional<Clock::time_point> last;
    if (own->LastUpdate && *own->LastUpdate <= Now()) last = own->LastUpdate;
    if (const auto started = FOwnStarted.find(id); started != FOwnStarted.end())
        last = last ? std::max(*last, started->second) : started->second;
    return last ? *last + own->Every : Clock::time_point::min();
}

std::optional<std::chrono::milliseconds> TUpdateThread::UntilOwnDue() const {
    if (!FHost.OwnInterval) return std::nullopt;
    const auto now = Now();
    std::optional<std::chrono::milliseconds> soonest;
    for (const std::string& id : OwnIntervalFeeds()) {
        const auto due = OwnDueTime(id);
        if (!due) continue;
        const auto until = *due <= now ? std::chrono::milliseconds(0)
                                       : std::chrono::duration_cast<std::chrono::milliseconds>(*due - now);
        if (!soonest || until < *soonest) soonest = until;
    }
    return soonest;
}

std::string TUpdateThread::NextDueFeed(const std::string& ownId, bool roundReady) {
    auto deferred = [this, &ownId](const std::string& id) {
        return FHost.Deferred && FHost.Deferred(id) && (ownId.empty() || id != ownId);
    };
    if (FHost.OwnInterval) {
        const auto now = Now();
        std::string overdue;
        std::chrono::system_clock::time_point overdueSince;
        for (const std::string& id : OwnIntervalFeeds()) {
            const auto due = OwnDueTime(id);
            if (!due || *due > now || deferred(id)) continue;
            if (overdue.empty() || *due < overdueSince) {
                overdue = id;
                overdueSince = *due;
            }
        }
        if (!overdue.empty()) return overdue;
    }
    if (!roundReady) return {};
    std::string next = GetNextFeed();
    if (next.empty() || (!FHost.Deferred && !FHost.OwnInterval)) return next;
    const std::vector<std::string> ids = PollingOrder();
    const int count = static_cast<int>(ids.size());
    const int start = std::max(0, IndexInList(next));
    for (int step = 0; step < count; ++step) {
        const std::string& candidate = ids[static_cast<std::size_t>((start + step) % count)];
        if (!HasOwnInterval(candidate) && !deferred(candidate)) return candidate;
    }
    return {};
}

void TUpdateThread::MarkVisited(const std::string& id) {
    FLastFeed = id;
    FLastIndex = IndexInList(id);
}

void TUpdateThread::MarkStarted(const std::string& id) {
    if (OwnDueTime(id))
        FOwnStarted[id] = Now();
    else
        MarkVisited(id);
}

std::shared_ptr<TUpdateJob> TUpdateThread::StartNext(bool roundReady) {
    const std::string id = NextDueFeed({}, roundReady);
    FOwnChoice = !roundReady || (!id.empty() && OwnDueTime(id));
    FAllDeferred = roundReady && id.empty() && !GetNextFeed().empty();
    if (id.empty()) {
        // The pass stays where it is while feeds are deferred or the round
        // pauses; it starts over only when the list is empty.
        if (roundReady && !FAllDeferred) {
            FLastFeed.clear();
            FLastIndex = -1;
        }
        return nullptr;
    }
    MarkStarted(id);
    std::shared_ptr<TUpdateJob> job = FHost.PrepareUpdate(id);
    if (job) job->Start();
    return job;
}

std::shared_ptr<TUpdateJob> TUpdateThread::PrepareAhead(std::string& preparedId) {
    const std::string id = NextDueFeed();
    // A feed that follows itself (a list of one) must see its own result
    // before it is fetched again.
    if (id.empty() || id == FLastFeed) return nullptr;
    preparedId = id;
    return FHost.PrepareUpdate(id);
}

void TUpdateThread::StartPreparedOrAbandon(const std::shared_ptr<TUpdateJob>& prepared, const std::string& preparedId) {
    if (NextDueFeed(preparedId) == preparedId) {
        MarkStarted(preparedId);
        prepared->Start();
        return;
    }
    // The list changed while the result was pending: the feed fetched ahead
    // is not the next one any more. The thread visits the right one instead.
    FAbandoned = prepared.get();
    prepared->Cancel();
}

bool TUpdateThread::RunOnUi(const std::function<void()>& fn) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    QMetaObject::invokeMethod(
        FHost.Context,
        [shared = FShared, fn, done] {
            // An error must not escape into the event loop; the host reports
            // its own failures (the status bar), so nothing is lost here.
            try {
                if (!shared->Stopped) fn();
            } catch (...) {
            }
            done->set_value();
        },
        Qt::QueuedConnection);
    // Waiting in slices keeps Stop() from deadlocking: the user-interface
    // thread may be blocked in Stop() itself, and then the call above only
    // runs (as a no-op) after this thread has gone.
    while (finished.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        if (FTerminated) return false;
    }
    return !FTerminated;
}

void TUpdateThread::PostToUi(std::function<void()> fn) {
    QMetaObject::invokeMethod(
        FHost.Context,
        [shared = FShared, fn = std::move(fn)] {
            try {
                if (!shared->Stopped) fn();
            } catch (...) {
            }
        },
        Qt::QueuedConnection);
}

void TUpdateThread::Pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(FMutex);
    FWake.wait_for(lock, std::max(duration, std::chrono::milliseconds(0)), [this] { return FTerminated.load(); });
}

void TUpdateThread::Execute() {
    using SteadyClock = std::chrono::steady_clock;
    std::shared_ptr<TUpdateJob> job;  // started or prepared ahead; its result is to come
    // The previous update's second half, beside this one's download. Its
    // result is posted before the next trip to the window, so results
    // keep their order and each trip still comes after the last result.
    std::future<void> completing;
    auto joinCompleting = [&completing] {
        if (completing.valid()) completing.get();
    };
    // The round goes on from this time; feeds of their own interval do not
    // wait for it.
    SteadyClock::time_point roundResume = SteadyClock::now();
    while (!FTerminated) {
        if (!job) {
            joinCompleting();
            const bool roundReady = SteadyClock::now() >= roundResume;
            bool automatic = false;
            if (!RunOnUi([this, &job, roundReady, &automatic] {
                    automatic = FHost.Automatic && FHost.Automatic();
                    if (!automatic) job = StartNext(roundReady);
                }))
                break;
            if (automatic) {
                if (!AutomaticStep()) break;
                // Back to one after another, the round starts afresh.
                roundResume = SteadyClock::now();
                continue;
            }
        }

        if (job) {
            {
                std::lock_guard lock(FMutex);
                if (FTerminated) break;
                FCurrentJob = job;
            }
            job->Download();
            {
                std::lock_guard lock(FMutex);
                FCurrentJob.reset();
            }
        }
        joinCompleting();

        // One trip reads the pause and, when there is none, prepares the
        // next feed's update so that it downloads while this result is
        // being applied. Queued calls run in order, so this trip also waits
        // for the previous result.
        int interval = 0;
        bool listEmpty = false;
        bool ownChoice = false;
        std::optional<std::chrono::milliseconds> untilOwnDue;
        std::shared_ptr<TUpdateJob> next;
        std::string nextId;
        const bool read = RunOnUi([&] {
            if (job && job.get() == FAbandoned) {
                FAbandoned = nullptr;
                job.reset();  // fetched ahead for nothing: never applied
                return;
            }
            interval = FHost.UpdateIntervalSeconds();
            listEmpty = FLastFeed.empty() || FAllDeferred;
            ownChoice = FOwnChoice;
            untilOwnDue = UntilOwnDue();
            if (job && interval == 0) next = PrepareAhead(nextId);
        });
        if (!read) break;

        if (job) completing = CompleteAndPost(job, next, nextId);
        job = std::move(next);
        if (!job) {
            // With no pause and no feed the thread would only spin; it looks
            // again a few times a second instead. A feed of its own interval
            // leaves the round's pause running.
            const std::chrono::milliseconds pause = std::chrono::seconds(interval);
            if (!ownChoice) roundResume = SteadyClock::now() + (listEmpty ? std::max(pause, kEmptyListRecheck) : pause);
            // Rounded up: a wait cut to whole milliseconds would wake just
            // before the round resumes and spin through its last moment.
            auto wait = std::max(std::chrono::ceil<std::chrono::milliseconds>(roundResume - SteadyClock::now()),
                                 std::chrono::milliseconds(0));
            // One due now may be deferred: it is looked at again in a moment.
            if (untilOwnDue) wait = std::min(wait, std::max(*untilOwnDue, kEmptyListRecheck));
            Pause(wait);
        }
    }
    joinCompleting();
}

std::future<void> TUpdateThread::CompleteAndPost(std::shared_ptr<TUpdateJob> job, std::shared_ptr<TUpdateJob> next,
                                                 std::string nextId) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    auto task = [this, job = std::move(job), next = std::move(next), nextId = std::move(nextId), done] {
        try {
            job->Complete();
        } catch (...) {
            // the job reports its own failures with its result
        }
        // The result and the start of the next update share one event:
        // nothing can come between them.
        PostToUi([this, job, next, nextId] {
            try {
                job->Finish();
            } catch (...) {
                // reported by the host
            }
            if (next) StartPreparedOrAbandon(next, nextId);
        });
        done->set_value();
    };
    if (!FCompletion->tryStart(task)) task();  // no thread to spare: completed here
    return finished;
}

// ---------------------------------------------------------------------------
// Automatic polling

void TUpdateThread::Recheck() {
    {
        std::lock_guard lock(FMutex);
        FRecheck = true;
    }
    FWake.notify_all();
}

std::optional<std::chrono::system_clock::time_point> TUpdateThread::AutomaticDueTime(const std::string& id) const {
    return FSchedule.DueTime(id);
}

std::chrono::seconds TUpdateThread::LearnGap(const std::string& id) {
    const std::chrono::seconds gap = schedule::LearnedGap(
        FHost.FirstSeen ? FHost.FirstSeen(id) : std::vector<schedule::TTimePoint>{}, Now(), FRoundLength);
    // A feed of its own interval spends outside the budget.
    if (FHost.OwnInterval && FHost.OwnInterval(id))
        FBudget.Forget(id);
    else
        FBudget.Note(id, gap);
    return gap;
}

schedule::TFeedHints TUpdateThread::HintsOf(const std::string& id, std::optional<std::chrono::seconds> gap) {
    if (!gap) gap = LearnGap(id);
    schedule::TFeedHints hints;
    if (const auto own = FHost.OwnInterval ? FHost.OwnInterval(id) : std::nullopt) hints.OwnInterval = own->Every;
    hints.Learned = FBudget.Interval(*gap);
    if (const auto answer = FAnswers.find(id); answer != FAnswers.end()) answer->second.ApplyTo(hints);
    return hints;
}

void TUpdateThread::SyncSchedule() {
    const int pause = std::max(1, FHost.UpdateIntervalSeconds());
    // Nothing to bring up to date while the list and the pause are as they
    // were: every step would otherwise walk every feed.
    const std::optional<std::uint64_t> version =
        FHost.ListVersion ? std::optional<std::uint64_t>(FHost.ListVersion()) : std::nullopt;
    if (version && version == FScheduledVersion && pause == FScheduledPause) return;
    FScheduledVersion = version;
    FScheduledPause = pause;
    const auto now = Now();
    std::unordered_map<std::string, std::string> present;
    const std::vector<std::string> ids = PollingOrder();
    FRoundLength = std::chrono::seconds(pause) * static_cast<long>(ids.size());
    FBudget.SetRoundRate(1.0 / pause);
    // A feed met for the first time goes when its rhythm and what it asked
    // for last say, counted from its last fetch; never fetched, it goes now.
    // Those overdue go in the order they fell due, spread out by the
    // spacing rules, never in one burst. Every gap is learned before any
    // interval is shared out, so the budget is shared once, not once a feed.
    struct TMet {
        std::string Id;
        std::string Host;
        std::optional<std::chrono::system_clock::time_point> Last;
        std::optional<std::chrono::seconds> Gap;
    };
    std::vector<TMet> met;
    for (const std::string& id : ids) {
        if (id.empty()) continue;
        const std::string host = schedule::HostOf(FHost.FeedUrl ? FHost.FeedUrl(id) : std::string());
        const auto known = FScheduledHost.find(id);
        if (known == FScheduledHost.end()) {
            TMet feed{id, host, std::nullopt, std::nullopt};
            if (FHost.Kept) {
                THost::TKept kept = FHost.Kept(id);
                feed.Last = kept.LastFetch;
                if (!(kept.Asked == schedule::TAnswerHints{})) FAnswers[id] = std::move(kept.Asked);
            }
            const std::optional<THost::TOwnInterval> own = FHost.OwnInterval ? FHost.OwnInterval(id) : std::nullopt;
            if (own && own->LastUpdate && (!feed.Last || *own->LastUpdate > *feed.Last)) feed.Last = own->LastUpdate;
            if (feed.Last && *feed.Last <= now)
                feed.Gap = LearnGap(id);
            else
                FBudget.Note(id, FRoundLength);  // as if it posted once a round
            met.push_back(std::move(feed));
        } else if (known->second != host) {
            // Another server: the old one's freshness and Retry-After say
            // nothing about it.
            FAnswers.erase(id);
            FSchedule.Upsert(id, host, FSchedule.DueTime(id).value_or(now));
        }
        present.emplace(id, host);
    }
    for (TMet& feed : met) {
        auto due = now;
        if (feed.Gap)
            due = schedule::NextDue(HintsOf(feed.Id, feed.Gap), *feed.Last);
        else if (const auto answer = FAnswers.find(feed.Id); answer != FAnswers.end() && answer->second.RetryAfter)
            due = std::max(now, *answer->second.RetryAfter);
        FSchedule.Upsert(feed.Id, feed.Host, due);
    }
    for (const auto& [id, host] : FScheduledHost) {
        if (!present.count(id)) {
            FSchedule.Remove(id);
            FAnswers.erase(id);
            FBudget.Forget(id);
        }
    }
    FScheduledHost = std::move(present);
}

std::shared_ptr<TUpdateJob> TUpdateThread::StartAutomatic(std::chrono::milliseconds& wait, std::string& id,
                                                          std::chrono::system_clock::time_point& started) {
    wait = kAutomaticRecheck;
    SyncSchedule();
    // The pause between feeds set in the options stays the least time
    // between any two requests, so feeds due together are spread out.
    FSchedule.SetMinGap(std::max<std::chrono::milliseconds>(std::chrono::seconds(FHost.UpdateIntervalSeconds()),
                                                            std::chrono::seconds(1)));
    const auto next = FSchedule.Next();
    if (!next) return nullptr;
    const auto now = Now();
    if (next->At > now) {
        wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(next->At - now));
        return nullptr;
    }
    wait = std::chrono::milliseconds(0);
    const bool polled = Polled(next->Id);
    const std::string host = FScheduledHost[next->Id];
    std::shared_ptr<TUpdateJob> job;
    if (polled && !(FHost.Deferred && FHost.Deferred(next->Id))) job = FHost.PrepareUpdate(next->Id);
    if (!job) {
        FSchedule.Upsert(next->Id, host, now + kAutomaticBusyRetry);
        return nullptr;
    }
    // Until its result says better, the feed waits its rhythm from now: a
    // result that never comes cannot leave it due for ever.
    FSchedule.Requested(next->Id, now, schedule::NextDue(HintsOf(next->Id), now));
    MarkVisited(next->Id);
    id = next->Id;
    started = now;
    job->Start();
    return job;
}

void TUpdateThread::Fetched(const std::string& id, const schedule::TAnswerHints& answer,
                            std::chrono::system_clock::time_point at) {
    FReported = id;
    Reschedule(id, answer, at);
    // The due time may have come closer: a waiting thread looks again.
    Recheck();
}

void TUpdateThread::Reschedule(const std::string& id, const schedule::TAnswerHints& answer,
                               std::chrono::system_clock::time_point started) {
    const auto host = FScheduledHost.find(id);
    if (host == FScheduledHost.end()) return;  // deleted meanwhile, or never scheduled
    // A feed's ttl and skips stand until another feed document says
    // otherwise; freshness and Retry-After are each answer's own.
    FAnswers[id].Merge(answer);
    const bool polled = Polled(id);
    schedule::TFeedHints hints = polled ? HintsOf(id) : schedule::TFeedHints{};
    if (!polled) FAnswers[id].ApplyTo(hints);
    FSchedule.Upsert(id, host->second, schedule::NextDue(hints, started));
}

bool TUpdateThread::AutomaticStep() {
    std::shared_ptr<TUpdateJob> job;
    std::chrono::milliseconds wait{0};
    std::string id;
    std::chrono::system_clock::time_point started;
    if (!RunOnUi([&] { job = StartAutomatic(wait, id, started); })) return false;
    if (!job) {
        if (wait > std::chrono::milliseconds(0)) {
            std::unique_lock lock(FMutex);
            FWake.wait_for(lock, wait, [this] { return FTerminated.load() || FRecheck; });
            FRecheck = false;
        }
        return !FTerminated;
    }
    {
        std::lock_guard lock(FMutex);
        if (FTerminated) return false;
        FCurrentJob = job;
    }
    job->Fetch();
    {
        std::lock_guard lock(FMutex);
        FCurrentJob.reset();
    }
    // The next choice queues behind this result, so it sees the feed's new
    // due time.
    PostToUi([this, job, id, started] {
        FReported.clear();
        try {
            job->Finish();
        } catch (...) {
            // reported by the host
        }
        if (FReported != id) Reschedule(id, job->AnswerHints(), started);
    });
    return !FTerminated;
}
