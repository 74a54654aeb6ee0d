// The syncs of one feed-server account, run on a thread of their own: never
// the polling thread, never the window's. The engine (greader::TAccountSync)
// does the talking; this class gives it its item store connection, writes
// each feed's stored copy and records its items as the batches arrive, and
// hands the window small results to apply, one event each, so the window is
// never held for long.
//
// The window owns one runner per account whose password is known. What the
// window must decide (which feed element a stream has, the feeds and
// folders the subscription list asks for) is asked of it through a queued
// call that the worker waits for; a runner being stopped gives up waiting,
// so stopping never waits on the window.
#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "AccountSync.h"
#include "AlertWords.h"

class TItemBase;
namespace feed {
class TFeedDocument;
}

// New items of one feed, written and recorded: what the window shows.
struct TAccountBatchApplied {
    std::string FeedId;
    // The feed's new stored copy, for announcing the items at `Fresh`
    // (indices of new, unread items); null when nothing is announced.
    std::shared_ptr<feed::TFeedDocument> Document;
    std::vector<int> Fresh;
    // The alert words of the items at `Fresh`, matched on the sync's thread.
    TAlertVerdicts Verdicts;
};

// How one sync ended, for the account's node and the next attempt.
struct TAccountSyncEnded {
    bool Ok = false;
    std::optional<greader::TSyncErrorKind> ErrorKind;
    std::string Error;
    // When to try again after a failure; nullopt with a failure: when the
    // user acts (a password, an address).
    std::optional<std::chrono::system_clock::time_point> NextAttempt;
    std::set<std::string> ReadChangedFeeds;  // feed ids whose counts moved
    std::set<std::string> StarChangedFeeds;  // feed ids whose stars changed
    std::vector<std::string> Rejected;
    int Requests = 0;
    std::size_t BytesReceived = 0;
    int NewItems = 0;
};

class TAccountSyncRunner : public QObject {
    Q_OBJECT
public:
    // Everything here runs on the window's thread.
    struct THost {
        // The subscription list was read: make the feeds and folders
        // follow it.
        std::function<void(const greader::TSubscriptionChanges&)> ApplySubscriptions;
        // The feed element of a stream, made when the account has none;
        // "" drops the stream's items (the account is gone).
        std::function<std::string(const std::string& stream, const std::string& title)> FeedFor;
        // Every stream of the account with its feed id.
        std::function<std::map<std::string, std::string>()> FeedIds;
        std::function<void(const TAccountBatchApplied&)> ApplyBatch;
        // The alert words as they stand, asked for once a sync (may be unset).
        std::function<std::shared_ptr<const TAlertMatcher>()> AlertWords;
        std::function<void()> Started;
        std::function<void(const TAccountSyncEnded&)> Ended;
    };

    TAccountSyncRunner(greader::TAccount account, std::shared_ptr<TItemBase> base, std::string statePath, THost host,
                       QObject* parent = nullptr);
    // Cancels a sync in flight and joins the worker.
    ~TAccountSyncRunner() override;

    // A sync as soon as the worker is free; requests made meanwhile make one.
    // One the user asked for (Update, Update All, the password typed) reads
    // the subscription list too, so what changed elsewhere shows at once.
    void SyncNow(bool userAsked = true);
    // A sync after `delay`, unless one is asked for sooner.
    void SyncAfter(std::chrono::milliseconds delay);
    void SetPassword(std::string password);
    bool Busy() const { return FBusy.load(); }
    // Neither syncing nor asked to.
    bool Idle();
    // Tests shorten the engine's time-outs.
    void SetDeadline(std::chrono::milliseconds deadline) { FDeadline.store(deadline.count()); }

private:
    void Run();
    void SyncOnce(greader::TAccountSync& sync, items::TItemStore& store);
    void ApplyItems(greader::TFeedBatch& batch, items::TItemStore& store, bool announce,
                    const std::shared_ptr<const TAlertMatcher>& alerts);
    // Runs `work` on the window's thread and waits for it; raises
    // TSyncError(Cancelled) when the runner stops meanwhile.
    template <class R>
    R OnWindow(std::function<R()> work);

    greader::TAccount FAccount;
    std::shared_ptr<TItemBase> FBase;
    std::string FStatePath;
    THost FHost;
    QTimer FTimer;
    std::shared_ptr<http::TCancelToken> FCancel;
    std::thread FWorker;
    std::mutex FMutex;
    std::condition_variable FWake;
    bool FRequested = false;
    bool FUserAsked = false;
    std::optional<std::string> FNewPassword;
    std::atomic<bool> FStopping{false};
    std::atomic<bool> FBusy{false};
    std::atomic<long long> FDeadline{120'000};
};
