#include "UpdateAll.h"

#include <QMetaObject>
#include <QUrl>

#include <algorithm>
#include <exception>

TUpdateAll::TUpdateAll(TPrepare prepare, QObject* parent) : QObject(parent), FPrepare(std::move(prepare)) {
    FPool.setMaxThreadCount(kMaxDownloads);
    // Idle download threads end soon after a pass instead of lingering.
    FPool.setExpiryTimeout(2000);
}

TUpdateAll::~TUpdateAll() { Cancel(); }

bool TUpdateAll::Run(std::vector<TEntry> entries) {
    if (FRunning) return false;
    ++FGeneration;
    FSlots.clear();
    FSlots.reserve(entries.size());
    for (TEntry& entry : entries) FSlots.push_back(TSlot{std::move(entry), nullptr, false, false});
    FNextToApply = 0;
    FNextToDispatch = 0;
    FActive = 0;
    FActivePerHost.clear();
    FPeak = 0;
    FPeakPerHost = 0;
    FRunning = true;
    Dispatch();
    // A pass with nothing to download (an empty list, every feed busy
    // elsewhere) ends here; `finished` still comes from the event loop, as
    // it would for any other pass.
    if (FActive == 0 && FNextToApply == FSlots.size()) {
        FRunning = false;
        QMetaObject::invokeMethod(this, &TUpdateAll::finished, Qt::QueuedConnection);
    }
    return true;
}

void TUpdateAll::Cancel() {
    ++FGeneration;
    for (TSlot& slot : FSlots) {
        if (slot.Dispatched && !slot.Fetched && slot.Job) slot.Job->Cancel();
    }
    // A cancelled download ends within a fraction of a second.
    FPool.waitForDone();
    FSlots.clear();
    FActive = 0;
    FActivePerHost.clear();
    FNextToApply = FNextToDispatch = 0;
    FRunning = false;
}

void TUpdateAll::Dispatch() {
    const unsigned generation = FGeneration;
    while (FNextToDispatch < FSlots.size() && FSlots[FNextToDispatch].Dispatched) ++FNextToDispatch;
    const std::size_t end = std::min(FSlots.size(), FNextToApply + kMaxAhead);
    for (std::size_t i = FNextToDispatch; i < end && FActive < kMaxDownloads; ++i) {
        TSlot& slot = FSlots[i];
        if (slot.Dispatched || FActivePerHost[slot.Entry.Host] >= kMaxPerHost) continue;
        slot.Dispatched = true;
        std::shared_ptr<TUpdateJob> job;
        try {
            job = FPrepare(slot.Entry.Key);
            if (job) job->Start();
        } catch (const std::exception&) {
            job.reset();  // an unreadable element: the pass goes on
        }
        if (generation != FGeneration) return;  // the start cancelled the pass
        if (!job) {
            slot.Fetched = true;
            continue;
        }
        slot.Job = job;
        ++FActive;
        const int perHost = ++FActivePerHost[slot.Entry.Host];
        FPeak = std::max(FPeak, FActive);
        FPeakPerHost = std::max(FPeakPerHost, perHost);
        FPool.start([this, job, i, generation] {
            job->Fetch();
            QMetaObject::invokeMethod(
                this,
                [this, i, generation] {
                    if (generation == FGeneration) OnFetched(i);
                },
                Qt::QueuedConnection);
        });
    }
    // Entries left out at the front are applied (as nothing) at once.
    ApplyReady();
}

void TUpdateAll::OnFetched(std::size_t index) {
    TSlot& slot = FSlots[index];
    slot.Fetched = true;
    --FActive;
    --FActivePerHost[slot.Entry.Host];
    const unsigned generation = FGeneration;
    ApplyReady();
    if (generation != FGeneration || !FRunning) return;
    Dispatch();
    if (generation != FGeneration) return;
    if (FActive == 0 && FNextToApply == FSlots.size()) {
        FRunning = false;
        emit finished();
    }
}

void TUpdateAll::ApplyReady() {
    // A result's own steps never call back in here, but the guard keeps
    // the list order even if one did.
    if (FApplying) return;
    FApplying = true;
    const unsigned generation = FGeneration;
    while (generation == FGeneration && FNextToApply < FSlots.size() && FSlots[FNextToApply].Fetched) {
        std::shared_ptr<TUpdateJob> job = std::move(FSlots[FNextToApply].Job);
        ++FNextToApply;
        if (!job) continue;
        try {
            job->Finish();
        } catch (const std::exception&) {
            // reported by the host
        }
    }
    FApplying = false;
}

std::string UpdateHostOf(const std::string& url) {
    return QUrl(QString::fromStdString(url)).host().toLower().toStdString();
}
