// "Update all": every feed of the list fetched now, several at a time.
//
// On a real network a feed costs round trips rather than bandwidth, so the
// downloads overlap: at most kMaxDownloads run at once, and at most
// kMaxPerHost against one server, so that no publisher sees a burst from
// one reader. The results are still applied one at a time on the
// user-interface thread, in list order, through the same steps as every
// other update.
//
// Everything here except the downloads themselves runs on the
// user-interface thread: deciding what to start next, starting an update
// (its visible start), and applying results. A download tells the
// user-interface thread it is done with a queued call, so the window never
// waits for the network.
#pragma once

#include <QObject>
#include <QThreadPool>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "UpdateThread.h"

class TUpdateAll : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxDownloads = 6;
    static constexpr int kMaxPerHost = 2;
    // How far downloads may run ahead of the next result to apply: a slow
    // feed early in the list holds back at most this many parsed downloads
    // in memory.
    static constexpr std::size_t kMaxAhead = 48;

    // One feed of the pass: the key the host prepares it by (its id) and
    // the server its downloads count against.
    struct TEntry {
        std::string Key;
        std::string Host;
    };
    // Prepares the update of a feed when its turn to download comes;
    // nullptr leaves it out (deleted meanwhile, or downloading already).
    using TPrepare = std::function<std::shared_ptr<TUpdateJob>(const std::string& key)>;

    explicit TUpdateAll(TPrepare prepare, QObject* parent = nullptr);
    // Cancels and waits for the downloads in flight (a fraction of a second).
    ~TUpdateAll() override;

    // Starts a pass over `entries` in this order. False when a pass is
    // still running (the new request is dropped).
    bool Run(std::vector<TEntry> entries);
    bool Running() const { return FRunning; }
    // Abandons the pass: downloads in flight are cancelled and waited for,
    // no further result is applied and nothing more starts.
    void Cancel();

    // For tests and the benchmark: the most downloads that ran at once, in
    // all and against one host, during the last pass.
    int PeakDownloads() const { return FPeak; }
    int PeakPerHost() const { return FPeakPerHost; }

signals:
    // The pass is over: every result applied (not emitted after Cancel).
    void finished();

private:
    struct TSlot {
        TEntry Entry;
        std::shared_ptr<TUpdateJob> Job;
        bool Dispatched = false;
        bool Fetched = false;  // or left out: nothing to wait for
    };

    // Starts downloads while there is room, in list order.
    void Dispatch();
    void OnFetched(std::size_t index);
    // Applies every result whose turn has come.
    void ApplyReady();

    TPrepare FPrepare;
    QThreadPool FPool;
    std::vector<TSlot> FSlots;
    std::size_t FNextToApply = 0;
    std::size_t FNextToDispatch = 0;  // every slot before it is dispatched
    int FActive = 0;
    std::map<std::string, int> FActivePerHost;
    bool FRunning = false;
    bool FApplying = false;
    // Bumped by every Cancel and Run: a download reporting back for an
    // earlier pass is ignored.
    unsigned FGeneration = 0;
    int FPeak = 0;
    int FPeakPerHost = 0;
};

// The server part of a feed address that the per-host limit counts:
// its host name in lower case ("" when the address has none).
std::string UpdateHostOf(const std::string& url);
