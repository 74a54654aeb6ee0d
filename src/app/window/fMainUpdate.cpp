// The update cycle of the main window: updating one feed and the polling
// thread that walks the feed list.
//
// An update runs in parts. Preparing it (reading what to fetch), its start
// and its result run on the user-interface thread, each in one go, and a
// result is always applied before the next update starts, so two updates
// never interleave the steps that touch the feed's element, the tree, the
// stored copy, the status bar, the browser or the tray icon. The download
// and the parsing run on another thread: the polling thread, or a worker of
// a manual update while the user-interface thread keeps processing events.
#include "fMain.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <thread>

#include "AccountController.h"
#include "Convert.h"
#include "DateTime.h"
#include "FeedHealthController.h"
#include "FeedUpdate.h"
#include "ItemBase.h"
#include "NotifyController.h"
#include "ReadStateController.h"
#include "UpdateAll.h"
#include "UpdateThread.h"
#include "uvxLanguage.h"

namespace {

constexpr char kUpdateIntervalPath[] = "general\\UpdateInterval";
constexpr char kSecureFeedsPath[] = "general\\SecureFeeds";
constexpr char kFollowRedirectsPath[] = "general\\FollowRedirects";
// general\Polling: "round" (one after another, the default) or "automatic".
constexpr char kGeneralPath[] = "general";
constexpr char kPollingName[] = "Polling";
// How many of a feed's newest items its learned rhythm looks at.
constexpr int kRhythmItems = 25;
constexpr char kFeedsFolder[] = "feeds";
// The validators of the stored copy, kept as attributes of the feed's
// element.
constexpr char kETagAttribute[] = "etag";
constexpr char kLastModifiedAttribute[] = "lastmodified";
// The pause when general\UpdateInterval holds no number: polling goes on.
constexpr int kFallbackIntervalSeconds = 60;

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

// A status message from the language file; a missing or malformed message
// must not turn a finished update into a failed one, so the plain argument
// is shown then.
QString StatusMessage(const char* name, const std::string& argument) {
    try {
        return LangFmtQ(name, {argument});
    } catch (const std::exception&) {
        return Q(argument);
    }
}

std::optional<bool> ReadBool(TOptions& options, const char* path) {
    try {
        return plat::TryStrToBool(options.GetConfigNode(path).Text());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// A feed the user has not named takes the channel's own title.
void FillEmptyCaption(xml::Node item, const feed::TFeedDocument& downloaded) {
    if (item.Attribute("caption").value_or("").empty())
        item.SetAttribute("caption", downloaded.Channel().Required().Title());
}

// Sets the unread count from the items that are new since the stored copy
// and hands them to the announcer; true when there were any. The first
// download makes everything unread and announces nothing.
bool CountAndAnnounceNewItems(TNotifyController& notify, xml::Node item, const feed::TFeedDocument& downloaded,
                              const TStoredTitles& stored, const std::vector<std::string>* downloadedTitles,
                              const TAlertVerdicts& verdicts) {
    if (!stored) {
        item.SetAttribute("unread", std::to_string(downloaded.Items().Count()));
        return false;
    }
    const TNewItemCount fresh = downloadedTitles ? CountNewItems(*downloadedTitles, *stored)
                                                 : CountNewItems(ComparableTitles(downloaded), *stored);
    const int unread =
        fresh.Replace ? fresh.Count : plat::StrToInt(item.Attribute("unread").value_or("")) + fresh.Count;
    item.SetAttribute("unread", std::to_string(unread));
    if (fresh.Count == 0) return false;
    notify.AnnounceNewItems(item, downloaded, fresh.Count, nullptr, &verdicts);
    return true;
}

// The same from what the item store made of the download: an item is new
// when the store had never seen it in this feed, wherever it stands in the
// document and whatever became of the items before it.
bool CountAndAnnounceRecordedItems(TNotifyController& notify, xml::Node item, const feed::TFeedDocument& downloaded,
                                   const items::TDownloadResult& recorded, bool firstDownload,
                                   const TAlertVerdicts& verdicts) {
    if (firstDownload) {
        item.SetAttribute("unread", std::to_string(recorded.NewCount));
        return false;
    }
    // Never more unread than the feed holds: items that left it unread
    // cannot be read on its page any more.
    const std::optional<int> before = plat::TryStrToInt(item.Attribute("unread").value_or(""));
    const int unread = std::max(0, before.value_or(0)) + recorded.NewCount;
    item.SetAttribute("unread", std::to_string(std::min(unread, downloaded.Items().Count())));
    if (recorded.NewCount == 0) return false;
    std::vector<int> fresh;
    for (std::size_t i = 0; i < recorded.New.size(); ++i) {
        if (recorded.New[i]) fresh.push_back(static_cast<int>(i));
    }
    notify.AnnounceNewItems(item, downloaded, recorded.NewCount, &fresh, &verdicts);
    return true;
}

// The validators of the answer that gave the stored copy, kept with the
// feed; those the answer lacked are removed, so that they are never sent
// for a copy they do not describe.
void StoreValidators(xml::Node item, const http::TValidators& validators) {
    const std::pair<const char*, const std::string*> fields[] = {{kETagAttribute, &validators.ETag},
                                                                 {kLastModifiedAttribute, &validators.LastModified}};
    for (const auto& [name, value] : fields) {
        if (!value->empty())
            item.SetAttribute(name, *value);
        else if (item.HasAttribute(name))
            item.RemoveAttribute(name);
    }
}

// The stored copy replaces the previous one atomically: the copy written
// beside the download is put in place, or, when that could not be written,
// the copy is written now (and its failure reported).
void SaveStoredCopy(feed::TFeedDocument& downloaded, const std::string& path, TPendingFile* pending) {
    if (pending && pending->Target() == path) {
        pending->Commit();
        return;
    }
    std::filesystem::create_directories(kFeedsFolder);
    downloaded.SaveToFile(path);
}

// A large download takes a while to free; the user-interface thread does
// not wait for it. The pool's task holds the only reference.
void FreeInBackground(TFeedUpdate::TLargeParts parts) {
    auto shared = std::make_shared<TFeedUpdate::TLargeParts>(std::move(parts));
    QThreadPool::globalInstance()->start([shared = std::move(shared)]() mutable { shared.reset(); });
}

}  // namespace

// ---------------------------------------------------------------------------
// One update

std::shared_ptr<TFeedUpdate> TFormMain::PrepareFeedUpdate(QTreeWidgetItem* node) {
    const xml::Node item = TFeedTree::GetFeedItem(node);
    if (!item) return nullptr;
    TFeedUpdateRequest request;
    request.Id = item.Attribute("id").value_or("");
    request.Url = item.Attribute("url").value_or("");
    // The network switches are read for every fetch, so a change in the
    // options applies from the next download on.
    request.Options.secureFeeds = ReadBool(*FOptions, kSecureFeedsPath).value_or(false);
    request.Options.followRedirects = ReadBool(*FOptions, kFollowRedirectsPath).value_or(false);
    request.StoredCopyWrites = StoredCopyWrites(request.Id);
    request.Items = FItems->Base();
    request.Unread = std::max(0, plat::TryStrToInt(item.Attribute("unread").value_or("")).value_or(0));
    request.Validators = {item.Attribute(kETagAttribute).value_or(""),
                          item.Attribute(kLastModifiedAttribute).value_or("")};
    request.Health = FFeedHealth->Book();
    // Without alert words there is nothing to match beside the download.
    if (auto alerts = FNotify->RefreshAlertWords(); alerts && !alerts->Empty()) request.Alerts = std::move(alerts);
    const std::string id = request.Id;
    // Not make_shared: FDownloads keeps a weak reference to every feed's
    // last update, which would keep each finished update's whole memory.
    std::shared_ptr<TFeedUpdate> update(new TFeedUpdate(
        std::move(request), [this](TFeedUpdate& update) { StartFeedUpdate(update); },
        [this](TFeedUpdate& update) { FinishFeedUpdate(update); }));
    FDownloads[id] = update;
    return update;
}

void TFormMain::StartFeedUpdate(TFeedUpdate& update) {
    // A feed deleted since the update was prepared shows nothing; its
    // result will be dropped.
    QTreeWidgetItem* node = FTree->FindFeedNodeById(update.Request().Id);
    if (!node) return;
    update.SetDisplayText(node->text(0).toStdString());
    SetStatusText(0, StatusMessage("UpdatingFeed", update.DisplayText()));
    MarkFeedBusy(node, true);
}

std::shared_ptr<TFeedUpdate> TFormMain::BeginFeedUpdate(QTreeWidgetItem* node) {
    std::shared_ptr<TFeedUpdate> update = PrepareFeedUpdate(node);
    if (update) update->Start();
    return update;
}

unsigned TFormMain::StoredCopyWrites(const std::string& id) const {
    const auto found = FStoredCopyWrites.find(id);
    return found == FStoredCopyWrites.end() ? 0 : found->second;
}

void TFormMain::FinishFeedUpdate(TFeedUpdate& update) {
    // The feed may have been deleted while it was downloading: its result
    // is dropped and nothing is written for it.
    QTreeWidgetItem* node = FTree->FindFeedNodeById(update.Request().Id);
    if (!node) {
        // What the download left in the item store goes with the feed.
        if (update.Recorded()) FItems->ForgetFeed(update.Request().Id);
        return;
    }
    // The address was changed while the old one downloaded: its answer says
    // nothing about the feed as it is now.
    if (TFeedTree::GetFeedItem(node).Attribute("url").value_or("") != update.Request().Url) {
        MarkFeedBusy(node, false);
        return;
    }
    FFeedHealth->NoteFetch(update);
    const std::string& displayText = update.DisplayText();
    try {
        if (update.Failed()) throw std::runtime_error(update.Error());
        if (update.NotModified()) {
            ApplyNotModified(node, update);
            FFeedHealth->Review(update.Request().Id);
            emit feedUpdateFinished(Q(update.Request().Id), StatusText(0));
            ScheduleConfigSave();  // lastupdate was written
            return;
        }
        feed::TFeedDocument& downloaded = *update.Document();
        xml::Node item = TFeedTree::GetFeedItem(node);

        FillEmptyCaption(item, downloaded);
        const std::string path = StoredCopyPath(update.Request().Id);

        bool announced = false;
        if (const items::TDownloadResult* recorded = update.Recorded()) {
            announced = CountAndAnnounceRecordedItems(*FNotify, item, downloaded, *recorded, update.FirstDownload(),
                                                      update.AlertVerdicts());
        } else {
            // Without the store: the copy read during the download is used
            // unless this feed's stored copy was written or removed since
            // the update was prepared (a manual update of it may have
            // finished meanwhile); then it is read again.
            const TStoredTitles* preloaded = update.PreviousTitles();
            const bool preloadedIsCurrent =
                preloaded && update.Request().StoredCopyWrites == StoredCopyWrites(update.Request().Id);
            const TStoredTitles reread = preloadedIsCurrent ? std::nullopt : ReadStoredTitles(path);
            const TStoredTitles& previous = preloadedIsCurrent ? *preloaded : reread;
            announced = CountAndAnnounceNewItems(*FNotify, item, downloaded, previous, update.DownloadedTitles(),
                                                 update.AlertVerdicts());
        }
        // Refreshed even without unread items, so a caption just taken from
        // the channel shows at once.
        FTree->UpdateNodeCaption(node);
        ++FStoredCopyWrites[update.Request().Id];
        SaveStoredCopy(downloaded, path, update.PendingStoredCopy());
        // The user is looking at this feed: the page reloads with the news,
        // which also counts them as read.
        if (announced && FTree->currentItem() == node) ShowFeed(node);
        item.SetAttribute("lastupdate", plat::FormatISO8601(plat::Now()));
        StoreValidators(item, update.Validators());
        SetStatusText(0, StatusMessage("UpdatedFeed", displayText));
        MarkFeedUpdated(node);
    } catch (const std::exception& error) {
        // What happened and what to do, with the server's own words after it.
        const std::string words =
            update.Failed() ? TFeedHealthController::FailureInWords(update).toStdString() : std::string();
        const std::string reason = words.empty() ? error.what() : words + " (" + error.what() + ")";
        SetStatusText(0, StatusMessage("FailedFeed", displayText + " - " + reason));
        MarkFeedFailed(node, words.empty() ? error.what() : words + "\n" + error.what());
        if (const auto retryAfter = update.RetryAfter()) FRetryAfter[update.Request().Id] = *retryAfter;
    }
    FFeedHealth->Review(update.Request().Id);
    emit feedUpdateFinished(Q(update.Request().Id), StatusText(0));
    ScheduleConfigSave();
    FreeInBackground(update.ReleaseLargeParts());
}

void TFormMain::UpdateFeed(QTreeWidgetItem* node) {
    const xml::Node item = TFeedTree::GetFeedItem(node);
    if (!item) return;
    // A second request for a feed that is already downloading adds nothing.
    const std::string id = item.Attribute("id").value_or("");
    if (auto running = FManualUpdates.find(id); running != FManualUpdates.end() && !running->second.expired()) return;
    const unsigned stopsBefore = FUpdateStops;
    // Another download of this feed (the polling thread's, or "update
    // all") is under way: it ends first, so a feed is never fetched twice
    // at once; this update then fetches it again.
    if (FeedDownloading(id)) {
        QEventLoop wait;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &wait, [&] {
            if (!FeedDownloading(id) || FUpdateStops != stopsBefore) wait.quit();
        });
        poll.start(20);
        wait.exec();
        if (FUpdateStops != stopsBefore || FeedDownloading(id)) return;  // closing
        node = FTree->FindFeedNodeById(id);
        if (!node) return;  // deleted meanwhile
    }

    const std::shared_ptr<TFeedUpdate> update = BeginFeedUpdate(node);
    if (!update) return;
    FManualUpdates[id] = update;

    // The download runs on a worker; this thread keeps processing events
    // (painting, the polling thread's queued steps) until it is done.
    QEventLoop loop;
    std::thread worker([update, &loop] {
        update->Fetch();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    if (!update->Fetched()) loop.exec();
    if (!update->Fetched()) update->Cancel();  // the loop was ended by the application quitting
    worker.join();
    FManualUpdates.erase(id);

    if (FUpdateStops != stopsBefore || update->Cancelled()) return;
    update->Finish();
}

bool TFormMain::SecureFeedsOption() { return ReadBool(*FOptions, kSecureFeedsPath).value_or(false); }

void TFormMain::ActionUpdateFeedExecute() {
    QTreeWidgetItem* node = FTree->currentItem();
    // An account's feeds come with its sync.
    if (const std::string account = FAccounts->AccountIdOf(node); !account.empty()) {
        FAccounts->Sync(account);
        return;
    }
    if (TFeedTree::IsFolderNode(node)) {
        UpdateAllUnder(node);
        return;
    }
    if (TFeedTree::GetFeedItem(node).IsNull()) return;
    // The busy cursor goes back however the update ends.
    struct TBusyCursor {
        TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
        ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    } busy;
    UpdateFeed(node);
}

// ---------------------------------------------------------------------------
// The polling thread

int TFormMain::UpdateIntervalSeconds() {
    try {
        if (const std::optional<int> seconds = plat::TryStrToInt(FOptions->GetConfigNode(kUpdateIntervalPath).Text()))
            return std::max(0, *seconds);
    } catch (const std::exception&) {
    }
    return kFallbackIntervalSeconds;
}

bool TFormMain::AutomaticPolling() {
    // Read without creating the element: a configuration that never chose
    // stays as it was.
    try {
        const xml::Node polling = FOptions->GetConfigNode(kGeneralPath).FindChild(kPollingName);
        return !polling.IsNull() &&
               QString::fromStdString(polling.Text()).trimmed().compare("automatic", Qt::CaseInsensitive) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

void TFormMain::StartUpdateThread() {
    FUpdateThreadPending = false;
    if (FUpdateThread || !FOptions) return;
    TUpdateThread::THost host;
    host.Context = this;
    host.RootNode = [this] { return FTree->RootNode(); };
    // An account's feeds are fetched by its server, never polled here.
    host.FeedNodes = [this] {
        std::vector<QTreeWidgetItem*> feeds;
        QTreeWidgetItem* root = FTree->RootNode();
        for (int i = 0; root && i < root->childCount(); ++i) {
            if (!FAccounts->AccountIdOf(root->child(i)).empty()) continue;
            const auto some = FTree->FeedNodesUnder(root->child(i));
            feeds.insert(feeds.end(), some.begin(), some.end());
        }
        return feeds;
    };
    host.ListVersion = [this] { return FTree->ListVersion(); };
    host.FeedId = [this](QTreeWidgetItem* node) {
        const xml::Node item = TFeedTree::GetFeedItem(node);
        return item ? item.Attribute("id").value_or("") : std::string();
    };
    host.FindFeedNode = [this](const std::string& id) { return FTree->FindFeedNodeById(id); };
    host.Deferred = [this](QTreeWidgetItem* node) {
        const xml::Node item = TFeedTree::GetFeedItem(node);
        return item && PollingDeferred(item.Attribute("id").value_or(""));
    };
    host.PrepareUpdate = [this](QTreeWidgetItem* node) -> std::shared_ptr<TUpdateJob> {
        try {
            // Never a second download of a feed that is downloading now.
            if (const xml::Node item = TFeedTree::GetFeedItem(node);
                item && FeedDownloading(item.Attribute("id").value_or("")))
                return nullptr;
            return PrepareFeedUpdate(node);
        } catch (const std::exception&) {
            return nullptr;  // an unreadable element: the pass goes on
        }
    };
    host.UpdateIntervalSeconds = [this] { return UpdateIntervalSeconds(); };
    host.OwnInterval = [this](QTreeWidgetItem* node) -> std::optional<TUpdateThread::THost::TOwnInterval> {
        const xml::Node item = TFeedTree::GetFeedItem(node);
        if (!item) return std::nullopt;
        return ReadOwnInterval(item.Attribute("interval").value_or(""), item.Attribute("lastupdate").value_or(""));
    };
    host.Automatic = [this] { return AutomaticPolling(); };
    host.FeedUrl = [this](QTreeWidgetItem* node) {
        const xml::Node item = TFeedTree::GetFeedItem(node);
        return item ? item.Attribute("url").value_or("") : std::string();
    };
    host.FirstSeen = [this](QTreeWidgetItem* node) {
        std::vector<std::chrono::system_clock::time_point> times;
        const xml::Node item = TFeedTree::GetFeedItem(node);
        const std::shared_ptr<TItemBase>& base = FItems->Base();
        items::TItemStore* store = base ? base->ConnectionIfOpened() : nullptr;
        if (!item || !store) return times;
        try {
            for (const std::int64_t seen : store->FirstSeenTimes(item.Attribute("id").value_or(""), kRhythmItems))
                times.push_back(std::chrono::system_clock::time_point(std::chrono::seconds(seen)));
        } catch (const std::exception&) {
            // A base that fails here only costs the feed its rhythm.
        }
        return times;
    };
    host.Kept = [this](QTreeWidgetItem* node) {
        TUpdateThread::THost::TKept kept;
        FFeedHealth->KeptForSchedule(TFeedTree::GetFeedItem(node), kept.Asked, kept.LastFetch);
        return kept;
    };
    FUpdateThread = std::make_shared<TUpdateThread>(std::move(host));
    FNotify->NotePollingStarted();
}

void TFormMain::StopUpdateThread() {
    ++FUpdateStops;
    FUpdateThreadPending = false;
    if (FUpdateAll) {
        FUpdateAll->Cancel();
        ActionUpdateAll->setEnabled(true);
    }
    FNotify->NotePollingStopped();
    for (auto& [id, running] : FManualUpdates) {
        if (const auto update = running.lock()) update->Cancel();
    }
    if (FUpdateThread) {
        FUpdateThread->Stop();
        FUpdateThread.reset();
    }
}

// ---------------------------------------------------------------------------
// Feed state in the tree, back-off and "update all"

bool TFormMain::FeedDownloading(const std::string& id) const {
    const auto found = FDownloads.find(id);
    if (found == FDownloads.end()) return false;
    // From its preparation to the end of its download: a result waiting to
    // be applied holds no connection, and the stored-copy check of
    // FinishFeedUpdate keeps two results of one feed apart.
    const std::shared_ptr<TFeedUpdate> update = found->second.lock();
    return update && !update->Done() && !update->Fetched();
}

bool TFormMain::PollingDeferred(const std::string& id) const {
    if (FeedDownloading(id) || FFeedHealth->Stopped(id)) return true;
    const auto found = FRetryAfter.find(id);
    return found != FRetryAfter.end() && std::chrono::system_clock::now() < found->second;
}

void TFormMain::MarkFeedBusy(QTreeWidgetItem* node, bool busy) {
    if (!node || node->type() != TFeedNode::kType) return;
    static_cast<TFeedNode*>(node)->SetBusy(busy);
    ShowFeedState(node);
}

void TFormMain::MarkFeedFailed(QTreeWidgetItem* node, const std::string& failure) {
    if (!node || node->type() != TFeedNode::kType) return;
    auto* feed = static_cast<TFeedNode*>(node);
    feed->SetBusy(false);
    feed->SetFailure(Q(failure), QDateTime::currentDateTime());
    ShowFeedState(node);
}

void TFormMain::MarkFeedUpdated(QTreeWidgetItem* node) {
    if (!node || node->type() != TFeedNode::kType) return;
    auto* feed = static_cast<TFeedNode*>(node);
    feed->SetBusy(false);
    feed->SetFailure(QString(), QDateTime());
    ShowFeedState(node);
    FRetryAfter.erase(feed->Item().Attribute("id").value_or(""));
}

void TFormMain::ApplyNotModified(QTreeWidgetItem* node, TFeedUpdate& update) {
    // Nothing is new and the stored copy stays as it is; the update still
    // succeeded, so its time is kept.
    xml::Node item = TFeedTree::GetFeedItem(node);
    // A caption emptied by renaming takes the feed's own title again, from
    // the stored copy this time.
    if (item.Attribute("caption").value_or("").empty()) {
        try {
            feed::TFeedDocument stored;
            stored.LoadFromFile(StoredCopyPath(update.Request().Id));
            FillEmptyCaption(item, stored);
            FTree->UpdateNodeCaption(node);
        } catch (const std::exception&) {
            // the address keeps standing in for it
        }
    }
    // A 304 may carry fresher validators; it need not repeat them.
    const http::TValidators& fresh = update.Validators();
    if (!fresh.ETag.empty()) item.SetAttribute(kETagAttribute, fresh.ETag);
    if (!fresh.LastModified.empty()) item.SetAttribute(kLastModifiedAttribute, fresh.LastModified);
    item.SetAttribute("lastupdate", plat::FormatISO8601(plat::Now()));
    SetStatusText(0, StatusMessage("NotModifiedFeed", update.DisplayText()));
    MarkFeedUpdated(node);
}

void TFormMain::ShowFeedState(QTreeWidgetItem* node) {
    auto* feed = static_cast<TFeedNode*>(node);
    const QIcon icon = feed->Busy() ? FBusyFeedIcon : feed->Failed() ? FFailedFeedIcon : QIcon();
    // The time is written the same way in every language, so the tooltip
    // reads right after a language switch too.
    QString toolTip =
        feed->Failed() ? feed->Failure() + '\n' + feed->FailureTime().toString("yyyy-MM-dd hh:mm:ss") : QString();
    // Why the feed needs attention, unless the failure already says it.
    const QString cause = FFeedHealth->Cause(feed->Item().Attribute("id").value_or(""));
    if (!cause.isEmpty() && !toolTip.startsWith(cause)) toolTip = toolTip.isEmpty() ? cause : cause + '\n' + toolTip;
    feed->ShowState(icon, toolTip);
    if (FTree && node->treeWidget() == FTree) FTree->viewport()->update(FTree->visualItemRect(node));
}

void TFormMain::ActionUpdateAllExecute() { UpdateAllUnder(FTree->RootNode()); }

void TFormMain::UpdateAllUnder(QTreeWidgetItem* top) {
    if (!FOptions || FClosed) return;
    if (!FUpdateAll) {
        FUpdateAll = std::make_unique<TUpdateAll>([this](const std::string& id) -> std::shared_ptr<TUpdateJob> {
            // Looked up when its download is due: a feed deleted since the
            // pass began is left out, and so is one downloading already
            // (its own result is on the way).
            QTreeWidgetItem* node = FTree->FindFeedNodeById(id);
            if (!node || FeedDownloading(id)) return nullptr;
            return PrepareFeedUpdate(node);
        });
        connect(FUpdateAll.get(), &TUpdateAll::finished, this, [this] {
            ActionUpdateAll->setEnabled(true);
            FNotify->NoteUpdateAllRunning(false);
        });
    }
    if (FUpdateAll->Running()) return;
    // Accounts at or under the node sync; their feeds are not fetched here.
    if (const std::string account = FAccounts->AccountIdOf(top); !account.empty()) {
        FAccounts->Sync(account);
        return;
    }
    for (int i = 0; top && i < top->childCount(); ++i)
        if (const std::string account = FAccounts->AccountIdOf(top->child(i));
            !account.empty() && TFeedTree::IsFolderNode(top->child(i)))
            FAccounts->Sync(account);
    std::vector<TUpdateAll::TEntry> entries;
    for (QTreeWidgetItem* node : FTree->FeedNodesUnder(top)) {
        if (!FAccounts->AccountIdOf(node).empty()) continue;
        const xml::Node item = TFeedTree::GetFeedItem(node);
        if (FFeedHealth->Stopped(item.Attribute("id").value_or("")))
            continue;  // removed by its publisher: only the user brings it back
        entries.push_back({item.Attribute("id").value_or(""), UpdateHostOf(item.Attribute("url").value_or(""))});
    }
    ActionUpdateAll->setEnabled(false);
    // The pass's news is announced once, when it ends.
    FNotify->NoteUpdateAllRunning(true);
    FUpdateAll->Run(std::move(entries));
}
