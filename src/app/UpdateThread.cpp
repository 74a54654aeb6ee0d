#include "UpdateThread.h"

#include <QMetaObject>
#include <QObject>
#include <QTreeWidgetItem>

#include <chrono>
#include <future>

TUpdateThread::TUpdateThread(THost host) : FHost(std::move(host))
{
    FThread = std::thread([this] { Execute(); });
}

TUpdateThread::~TUpdateThread()
{
    Stop();
}

void TUpdateThread::Stop()
{
    // From here on, a queued part that has not run yet finds the flag and
    // returns without touching anything.
    FShared->Stopped = true;
    {
        std::lock_guard lock(FMutex);
        FTerminated = true;
        if (FCurrentJob)
            FCurrentJob->Cancel();
    }
    FWake.notify_all();
    if (FThread.joinable())
        FThread.join();
}

std::string TUpdateThread::LastNodeId() const
{
    return FLastNode;
}

QTreeWidgetItem* TUpdateThread::GetNextNode()
{
    QTreeWidgetItem* root = FHost.RootNode ? FHost.RootNode() : nullptr;
    if (!root)
        return nullptr;
    QTreeWidgetItem* next = nullptr;
    if (!FLastNode.empty()) {
        int index = -1;
        if (FHost.FindFeedNode) {
            if (QTreeWidgetItem* last = FHost.FindFeedNode(FLastNode))
                index = root->indexOfChild(last);
        } else {
            for (int i = 0; i < root->childCount(); ++i) {
                if (FHost.FeedId(root->child(i)) == FLastNode) {
                    index = i;
                    break;
                }
            }
        }
        if (index >= 0)
            next = root->child(index + 1);  // nullptr after the last feed
        else if (FLastIndex >= 0)
            next = root->child(FLastIndex);  // deleted: its successor moved up
    }
    if (!next && root->childCount() > 0)
        next = root->child(0);
    return next;
}

bool TUpdateThread::RunOnUi(const std::function<void()>& fn)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    QMetaObject::invokeMethod(
        FHost.Context,
        [shared = FShared, fn, done] {
            // An error must not escape into the event loop; the host reports
            // its own failures (the status bar), so nothing is lost here.
            try {
                if (!shared->Stopped)
                    fn();
            } catch (...) {
            }
            done->set_value();
        },
        Qt::QueuedConnection);
    // Waiting in slices keeps Stop() from deadlocking: the user-interface
    // thread may be blocked in Stop() itself, and then the call above only
    // runs (as a no-op) after this thread has gone.
    while (finished.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        if (FTerminated)
            return false;
    }
    return !FTerminated;
}

void TUpdateThread::Pause(int seconds)
{
    std::unique_lock lock(FMutex);
    FWake.wait_for(lock, std::chrono::seconds(seconds < 0 ? 0 : seconds), [this] { return FTerminated.load(); });
}

void TUpdateThread::Execute()
{
    while (!FTerminated) {
        std::shared_ptr<TUpdateJob> job;
        const bool picked = RunOnUi([this, &job] {
            QTreeWidgetItem* node = GetNextNode();
            QTreeWidgetItem* root = FHost.RootNode();
            FLastNode = node ? FHost.FeedId(node) : std::string();
            FLastIndex = node && root ? root->indexOfChild(node) : -1;
            if (node)
                job = FHost.BeginUpdate(node);
        });
        if (!picked)
            break;

        if (job) {
            {
                std::lock_guard lock(FMutex);
                if (FTerminated)
                    break;
                FCurrentJob = job;
            }
            job->Fetch();
            {
                std::lock_guard lock(FMutex);
                FCurrentJob.reset();
            }
        }

        // The result and the reading of the pause share one trip to the
        // user-interface thread: every trip adds to each update.
        int interval = 0;
        const bool finished = RunOnUi([this, &job, &interval] {
            if (job) {
                try {
                    job->Finish();
                } catch (...) {
                    // reported by the host; the pause is still read
                }
            }
            interval = FHost.UpdateIntervalSeconds();
        });
        if (!finished)
            break;
        Pause(interval);
    }
}
