#include "AccountSyncRunner.h"

#include <QCoreApplication>
#include <QPointer>

#include <filesystem>
#include <future>
#include <utility>

#include "AccountStoredCopy.h"
#include "FeedUpdate.h"
#include "ItemBase.h"
#include "ItemFromFeed.h"
#include "ItemIdentity.h"

namespace {

// How often a worker waiting for the window looks whether it is stopped.
constexpr std::chrono::milliseconds kStopCheck{50};

}  // namespace

TAccountSyncRunner::TAccountSyncRunner(greader::TAccount account, std::shared_ptr<TItemBase> base,
                                       std::string statePath, THost host, QObject* parent)
    : QObject(parent),
      FAccount(std::move(account)),
      FBase(std::move(base)),
      FStatePath(std::move(statePath)),
      FHost(std::move(host)),
      FCancel(std::make_shared<http::TCancelToken>()) {
    FTimer.setSingleShot(true);
    connect(&FTimer, &QTimer::timeout, this, [this] { SyncNow(false); });
    FWorker = std::thread([this] { Run(); });
}

TAccountSyncRunner::~TAccountSyncRunner() {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FStopping = true;
    }
    FCancel->Cancel();
    FWake.notify_all();
    if (FWorker.joinable()) FWorker.join();
}

void TAccountSyncRunner::SyncNow(bool userAsked) {
    FTimer.stop();
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FRequested = true;
        FUserAsked = FUserAsked || userAsked;
    }
    FWake.notify_all();
}

void TAccountSyncRunner::SyncAfter(std::chrono::milliseconds delay) {
    // A sooner request already waiting wins.
    if (FTimer.isActive() && FTimer.remainingTime() <= delay.count()) return;
    FTimer.start(static_cast<int>(std::min<long long>(delay.count(), 0x7fffffff)));
}

bool TAccountSyncRunner::Idle() {
    std::lock_guard<std::mutex> lock(FMutex);
    return !FRequested && !FBusy;
}

void TAccountSyncRunner::SetPassword(std::string password) {
    std::lock_guard<std::mutex> lock(FMutex);
    FNewPassword = std::move(password);
}

template <class R>
R TAccountSyncRunner::OnWindow(std::function<R()> work) {
    auto promise = std::make_shared<std::promise<R>>();
    std::future<R> answer = promise->get_future();
    QMetaObject::invokeMethod(
        this,
        [promise, work = std::move(work)] {
            try {
                if constexpr (std::is_void_v<R>) {
                    work();
                    promise->set_value();
                } else {
                    promise->set_value(work());
                }
            } catch (...) {
                promise->set_exception(std::current_exception());
            }
        },
        Qt::QueuedConnection);
    while (answer.wait_for(kStopCheck) != std::future_status::ready)
        if (FStopping) throw greader::TSyncError(greader::TSyncErrorKind::Cancelled, "Stopped");
    return answer.get();
}

void TAccountSyncRunner::Run() {
    // The engine lives on this thread with this thread's connection.
    items::TItemStore* store = FBase ? FBase->ThreadConnection() : nullptr;
    std::unique_ptr<greader::TAccountSync> sync;
    if (store) {
        sync = std::make_unique<greader::TAccountSync>(FAccount, *store, FStatePath, greader::TClock{}, FCancel);
        sync->SetOnSubscriptions([this](const greader::TSubscriptionChanges& changes) {
            OnWindow<void>([this, changes] { FHost.ApplySubscriptions(changes); });
        });
    }
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(FMutex);
            FWake.wait(lock, [this] { return FRequested || FStopping; });
            if (FStopping) return;
            FRequested = false;
            FBusy = true;  // with the request taken, so Idle never sees neither
            if (FNewPassword && sync) sync->SetPassword(*FNewPassword);
            if (std::exchange(FUserAsked, false) && sync) sync->ListSubscriptionsNext();
            FNewPassword.reset();
        }
        if (!sync) {
            TAccountSyncEnded ended;
            ended.ErrorKind = greader::TSyncErrorKind::Rejected;
            ended.Error = "The item store cannot be used";
            QMetaObject::invokeMethod(
                this, [this, ended] { FHost.Ended(ended); }, Qt::QueuedConnection);
            FBusy = false;
            continue;
        }
        QMetaObject::invokeMethod(
            this, [this] { FHost.Started(); }, Qt::QueuedConnection);
        try {
            SyncOnce(*sync, *store);
        } catch (const std::exception& error) {
            // Only a store failure or a stop gets here; the engine reports
            // its own failures in the result.
            if (!FStopping) {
                TAccountSyncEnded ended;
                ended.ErrorKind = greader::TSyncErrorKind::Rejected;
                ended.Error = error.what();
                QMetaObject::invokeMethod(
                    this, [this, ended] { FHost.Ended(ended); }, Qt::QueuedConnection);
            }
        }
        FBusy = false;
    }
}

void TAccountSyncRunner::SyncOnce(greader::TAccountSync& sync, items::TItemStore& store) {
    sync.SetDeadline(std::chrono::milliseconds(FDeadline.load()));
    // The first sync brings what the account already holds: unread, but
    // not news to announce.
    const bool announce = sync.State().NewestSeconds > 0;
    std::shared_ptr<const TAlertMatcher> alerts;
    if (announce && FHost.AlertWords)
        alerts = OnWindow<std::shared_ptr<const TAlertMatcher>>([this] { return FHost.AlertWords(); });
    if (alerts && alerts->Empty()) alerts.reset();
    greader::TSyncResult result =
        sync.Sync([&](greader::TFeedBatch& batch) { ApplyItems(batch, store, announce, alerts); });
    if (FStopping) return;

    TAccountSyncEnded ended;
    ended.Ok = result.Ok;
    if (result.Error) {
        ended.ErrorKind = result.Error->Kind();
        ended.Error = result.Error->what();
    }
    ended.NextAttempt = result.NextAttempt;
    ended.Rejected = result.RejectedChanges;
    ended.Requests = result.Requests;
    ended.BytesReceived = result.BytesReceived;
    ended.NewItems = result.NewItemCount;

    // Read or unread elsewhere: the store follows here, the window only
    // counts again.
    std::map<std::string, std::string> ids;
    if (!result.ReadChanges.empty() || !result.StarChanges.empty())
        ids = OnWindow<std::map<std::string, std::string>>([this] { return FHost.FeedIds(); });
    for (const greader::TReadChange& change : result.ReadChanges) {
        const auto feed = ids.find(change.StreamId);
        if (feed == ids.end()) continue;
        items::TStoredItem key;
        key.Guid = change.Guid;
        if (store.SetItemRead(feed->second, items::ItemKey(key), change.Read))
            ended.ReadChangedFeeds.insert(feed->second);
    }
    // Starred or unstarred elsewhere, after the read state: a star still
    // queued here is newer and wins.
    if (!result.StarChanges.empty())
        ended.StarChangedFeeds = greader::ApplyStarChanges(store, FAccount.Name, result.StarChanges, ids);
    QMetaObject::invokeMethod(
        this, [this, ended] { FHost.Ended(ended); }, Qt::QueuedConnection);
}

void TAccountSyncRunner::ApplyItems(greader::TFeedBatch& batch, items::TItemStore& store, bool announce,
                                    const std::shared_ptr<const TAlertMatcher>& alerts) {
    if (!batch.Document) return;
    const std::string title = batch.Document->Channel().Required().Title();
    const std::string stream = batch.StreamId;
    const std::string id = OnWindow<std::string>([this, stream, title] { return FHost.FeedFor(stream, title); });
    if (!IsValidFeedId(id)) return;

    // The same stored copy as a local feed's download: the new items first,
    // then what the copy held.
    auto document = std::shared_ptr<feed::TFeedDocument>(std::move(batch.Document));
    document->SetXSLFileName(kStoredCopyStylesheet);
    const std::string path = StoredCopyPath(id);
    accountsync::AppendPreviousItems(*document, path);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    document->SaveToFile(path);

    const items::TDownloadResult recorded =
        store.RecordDownload(id, items::StoredItemsFromFeed(*document), ItemStoreNow());
    TAccountBatchApplied applied;
    applied.FeedId = id;
    for (std::size_t i = 0; i < batch.Items.size(); ++i) {
        if (batch.Items[i].Read) {
            store.SetItemRead(id, items::ItemKey(batch.Items[i].Item), true);
        } else if (announce && i < recorded.New.size() && recorded.New[i]) {
            applied.Fresh.push_back(static_cast<int>(i));
        }
    }
    if (!applied.Fresh.empty()) {
        // Matched here, so that thousands of new items with thousands of
        // words never hold the window.
        if (alerts) {
            applied.Verdicts.MatchedBy = alerts;
            applied.Verdicts.ByIndex.assign(static_cast<std::size_t>(document->Items().Count()), -1);
            for (const int i : applied.Fresh) {
                const feed::TRSSItem& item = document->Items()[i];
                applied.Verdicts.ByIndex[static_cast<std::size_t>(i)] =
                    alerts->Matches(item.Title(), item.Description()) ? 1 : 0;
            }
        }
        applied.Document = std::move(document);
    }
    QMetaObject::invokeMethod(
        this, [this, applied] { FHost.ApplyBatch(applied); }, Qt::QueuedConnection);
}
