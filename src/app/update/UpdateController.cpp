#include "UpdateController.h"

#include <QApplication>
#include <QEventLoop>
#include <QThreadPool>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <utility>
#include <thread>

#include "Convert.h"
#include "DateTime.h"
#include "FeedListModel.h"
#include "FeedHealthController.h"
#include "FeedUpdate.h"
#include "ItemBase.h"
#include "NotifyController.h"
#include "Options.h"
#include "ReadStateController.h"
#include "UpdateAll.h"
#include "UpdateResult.h"
#include "UpdateThread.h"
#include "uvxLanguage.h"
#include "QtText.h"

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
// The pause when general\UpdateInterval holds no number: polling goes on.
constexpr int kFallbackIntervalSeconds = 60;
// How long polling waits for a window being shown to be on screen, on a
// window system that never reports it.
constexpr int kExposureFallbackMs = 1000;

using plat::Q;

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

std::optional<bool> ReadBool(TOptions* options, const char* path) {
    if (!options) return std::nullopt;
    try {
        return plat::TryStrToBool(options->GetConfigNode(path).Text());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// A feed the user has not named takes the channel's own title.
// The stored copy's channel title, for a feed without a caption; nullopt
// when the copy cannot be read.
std::optional<std::string> StoredCopyTitle(const std::string& path) {
    try {
        feed::TFeedDocument stored;
        stored.LoadFromFile(path);
        return stored.Channel().Required().Title();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// What a failed update tells the feed: the failure's message, the window's
// words for what the user can do, and when the server asked to come back.
feedupdate::TUpdateResult FailedResult(const TFeedUpdate& update, const std::string& error, const std::string& words) {
    feedupdate::TUpdateResult result;
    result.Kind = feedupdate::TUpdateResult::TKind::Failed;
    result.Url = update.Request().Url;
    result.DisplayText = update.DisplayText();
    result.Error = error;
    result.FailureWords = words;
    result.RetryAfter = update.RetryAfter();
    return result;
}

// A caption emptied by renaming takes the feed's own title again, from the
// stored copy; false when the copy cannot say it (the address keeps
// standing in for it).
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

TUpdateController::TUpdateController(THost host, TReadStateController& items, TNotifyController& notify,
                                     TFeedHealthController& health, QObject* parent)
    : QObject(parent), FHost(std::move(host)), FItems(items), FNotify(notify), FHealth(health) {
    FBusyIcon = FHost.TreeIcon(":/icons/feed-busy.svg");
    FFailedIcon = FHost.TreeIcon(":/icons/feed-failed.svg");
    // A server's Retry-After outlives a restart, one after another too.
    for (const auto& [id, until] : FHealth.RetryAfterAsked()) FRetryAfter[id] = until;
}

TUpdateController::~TUpdateController() {
    // The window stops polling before it goes; this is the last guard that
    // no thread outlives what it reports to.
    if (FUpdateAll) FUpdateAll->Cancel();
    if (FThread) FThread->Stop();
}

std::vector<std::string> TUpdateController::PolledFeedIds() const {
    std::vector<std::string> ids;
    for (const feedlist::TListEntry* entry : FHost.FeedList->Feeds())
        if (!entry->AccountFolder()) ids.push_back(feedlist::IdText(entry->Feed()));
    return ids;
}

// ---------------------------------------------------------------------------
// One update

std::shared_ptr<TFeedUpdate> TUpdateController::PrepareFeedUpdate(const std::string& feedId) {
    const feedlist::TListEntry* entry = FHost.FeedList->FindFeed(feedId);
    if (!entry) return nullptr;
    const feedlist::TFeedEntry* feed = &entry->Feed();
    TOptions* options = FHost.Options();
    TFeedUpdateRequest request;
    request.Id = feedlist::IdText(*feed);
    request.Url = feed->Url;
    // The network switches are read for every fetch, so a change in the
    // options applies from the next download on.
    request.Options.secureFeeds = ReadBool(options, kSecureFeedsPath).value_or(false);
    request.Options.followRedirects = ReadBool(options, kFollowRedirectsPath).value_or(false);
    request.StoredCopyWrites = StoredCopyWrites(request.Id);
    request.Items = FItems.Base();
    request.Unread = static_cast<int>(std::clamp<long long>(feed->Unread, 0, INT_MAX));
    request.Validators = {feed->ETag, feed->LastModified};
    request.Health = FHealth.Book();
    // Without alert words there is nothing to match beside the download.
    if (auto alerts = FNotify.RefreshAlertWords(); alerts && !alerts->Empty()) request.Alerts = std::move(alerts);
    const std::string id = request.Id;
    // Not make_shared: FDownloads keeps a weak reference to every feed's
    // last update, which would keep each finished update's whole memory.
    std::shared_ptr<TFeedUpdate> update(new TFeedUpdate(
        std::move(request), [this](TFeedUpdate& update) { StartFeedUpdate(update); },
        [this](TFeedUpdate& update) { FinishFeedUpdate(update); }));
    FDownloads[id] = update;
    return update;
}

void TUpdateController::StartFeedUpdate(TFeedUpdate& update) {
    // A feed deleted since the update was prepared shows nothing; its
    // result will be dropped.
    const std::string& id = update.Request().Id;
    const feedlist::TListEntry* entry = FHost.FeedList->FindFeed(id);
    if (!entry) return;
    update.SetDisplayText(FHost.RowText ? FHost.RowText(id) : entry->Feed().Caption);
    FHost.ShowStatus(StatusMessage("UpdatingFeed", update.DisplayText()));
    MarkFeedBusy(id, true);
}

std::shared_ptr<TFeedUpdate> TUpdateController::BeginFeedUpdate(const std::string& id) {
    std::shared_ptr<TFeedUpdate> update = PrepareFeedUpdate(id);
    if (update) update->Start();
    return update;
}

unsigned TUpdateController::StoredCopyWrites(const std::string& id) const {
    const auto found = FStoredCopyWrites.find(id);
    return found == FStoredCopyWrites.end() ? 0 : found->second;
}

void TUpdateController::StoredCopyChanged(const std::string& id) { ++FStoredCopyWrites[id]; }

void TUpdateController::FinishFeedUpdate(TFeedUpdate& update) {
    const std::string& id = update.Request().Id;
    // The feed may have been deleted while it was downloading: its result
    // is dropped and nothing is written for it.
    const feedlist::TListEntry* entry = FHost.FeedList->FindFeed(id);
    // An id that names no stored copy fails the update when the copy is
    // written (its fetch has failed already), never sooner.
    const std::string path = IsValidFeedId(id) ? StoredCopyPath(id) : std::string();
    feedupdate::TUpdateResult result;
    try {
        result = ResultOf(update, entry ? entry->Feed() : feedlist::TFeedEntry(), path);
    } catch (const std::exception& error) {
        // A download that could not be counted is a failed update.
        result = FailedResult(update, error.what(), {});
    }
    const auto replaceStoredCopy = [&] {
        ++FStoredCopyWrites[id];
        SaveStoredCopy(*update.Document(), StoredCopyPath(id), update.PendingStoredCopy());
    };
    // One change of the list: the row, its folders' sums and config.xml follow.
    const feedupdate::TUpdateDecision decision = feedupdate::ApplyUpdateResult(
        *FHost.FeedList, entry ? entry->Feed().Id : 0, result, plat::Now(), replaceStoredCopy);
    // The feed was deleted while it was downloading: its result is dropped,
    // and what the download left in the item store goes with it.
    if (!entry) {
        if (decision.ForgetItems) FItems.ForgetFeed(id);
        return;
    }
    if (decision.Action == feedupdate::TUpdateDecision::TAction::Stale) {
        MarkFeedBusy(id, false);
        return;
    }
    FHealth.NoteFetch(update);
    if (decision.CaptionFromStoredCopy && entry->Feed().Caption.empty())
        if (std::optional<std::string> title = StoredCopyTitle(path))
            FHost.FeedList->UpdateFeed(*entry, [&title](feedlist::TFeedEntry& feed) { feed.Caption = *title; });
    if (decision.Announce > 0) Announce(entry->Feed(), update, decision.Announce);
    // The user is looking at this feed: the page reloads with the news,
    // which also counts them as read.
    if (decision.Announce > 0) FHost.RefreshIfShown(id);
    FHost.ShowStatus(StatusMessage(decision.StatusMessage.c_str(), decision.StatusArgument));
    if (decision.Action == feedupdate::TUpdateDecision::TAction::Failed) {
        MarkFeedFailed(id, decision.Failure);
        if (decision.RetryAfter) FRetryAfter[id] = *decision.RetryAfter;
    } else {
        MarkFeedUpdated(id);
    }
    FHealth.Review(id);
    emit feedUpdateFinished(Q(id), FHost.StatusText());
    FHost.ScheduleConfigSave();
    if (!update.NotModified()) FreeInBackground(update.ReleaseLargeParts());
}

feedupdate::TUpdateResult TUpdateController::ResultOf(TFeedUpdate& update, const feedlist::TFeedEntry& feed,
                                                      const std::string& path) const {
    using feedupdate::TUpdateResult;
    if (update.Failed())
        return FailedResult(update, update.Error(), TFeedHealthController::FailureInWords(update).toStdString());
    TUpdateResult result = FailedResult(update, {}, {});
    result.ETag = update.Validators().ETag;
    result.LastModified = update.Validators().LastModified;
    if (update.NotModified()) {
        result.Kind = TUpdateResult::TKind::NotModified;
        return result;
    }
    result.Kind = TUpdateResult::TKind::Downloaded;
    const feed::TFeedDocument& downloaded = *update.Document();
    if (feed.Caption.empty()) result.ChannelTitle = downloaded.Channel().Required().Title();
    result.ItemCount = downloaded.Items().Count();
    if (const items::TDownloadResult* recorded = update.Recorded()) {
        result.Counting = TUpdateResult::TCounting::ByStore;
        result.FirstDownload = update.FirstDownload();
        result.NewCount = recorded->NewCount;
        return result;
    }
    // Without the store: the copy read during the download is used unless
    // this feed's stored copy was written or removed since the update was
    // prepared (a manual update of it may have finished meanwhile); then it
    // is read again.
    const TStoredTitles* preloaded = update.PreviousTitles();
    const bool preloadedIsCurrent =
        preloaded && update.Request().StoredCopyWrites == StoredCopyWrites(update.Request().Id);
    const TStoredTitles reread = preloadedIsCurrent ? std::nullopt : ReadStoredTitles(path);
    const TStoredTitles& previous = preloadedIsCurrent ? *preloaded : reread;
    result.FirstDownload = !previous;
    if (previous) {
        const TNewItemCount fresh = update.DownloadedTitles() ? CountNewItems(*update.DownloadedTitles(), *previous)
                                                              : CountNewItems(ComparableTitles(downloaded), *previous);
        result.NewCount = fresh.Count;
        result.ReplacesUnread = fresh.Replace;
    }
    return result;
}

void TUpdateController::Announce(const feedlist::TFeedEntry& feed, TFeedUpdate& update, int count) {
    // Items the store had never seen in this feed, wherever they stand in
    // the document; without the store, the first `count`.
    std::vector<int> fresh;
    const items::TDownloadResult* recorded = update.Recorded();
    for (std::size_t i = 0; recorded && i < recorded->New.size(); ++i)
        if (recorded->New[i]) fresh.push_back(static_cast<int>(i));
    try {
        FNotify.AnnounceNewItems(feed, *update.Document(), count, recorded ? &fresh : nullptr, &update.AlertVerdicts());
    } catch (const std::exception&) {
        // The items are counted and stored: a balloon that cannot be made
        // costs only itself.
    }
}

void TUpdateController::UpdateFeed(const std::string& id) {
    if (!FHost.FeedList->FindFeed(id)) return;
    // A second request for a feed that is already downloading adds nothing.
    if (auto running = FManualUpdates.find(id); running != FManualUpdates.end() && !running->second.expired()) return;
    const unsigned stopsBefore = FStops;
    // Another download of this feed (the polling thread's, or "update
    // all") is under way: it ends first, so a feed is never fetched twice
    // at once; this update then fetches it again.
    if (FeedDownloading(id)) {
        QEventLoop wait;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &wait, [&] {
            if (!FeedDownloading(id) || FStops != stopsBefore) wait.quit();
        });
        poll.start(20);
        wait.exec();
        if (FStops != stopsBefore || FeedDownloading(id)) return;  // closing
    }

    // A feed deleted meanwhile has nothing to update.
    const std::shared_ptr<TFeedUpdate> update = BeginFeedUpdate(id);
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

    if (FStops != stopsBefore || update->Cancelled()) return;
    update->Finish();
}

void TUpdateController::UpdateEntry(const feedlist::TListEntry* entry) {
    if (!entry) return;
    // An account's feeds come with its sync.
    if (const feedlist::TListEntry* account = entry->AccountFolder()) {
        FHost.SyncAccount(account->Folder().Account->Id);
        return;
    }
    if (entry->IsFolder()) {
        UpdateAllUnder(entry);
        return;
    }
    const std::string id = feedlist::IdText(entry->Feed());
    // The busy cursor goes back however the update ends.
    struct TBusyCursor {
        TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
        ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    } busy;
    UpdateFeed(id);
}

// ---------------------------------------------------------------------------
// The polling thread

bool TUpdateController::SecureFeedsOption() const {
    return ReadBool(FHost.Options(), kSecureFeedsPath).value_or(false);
}

int TUpdateController::UpdateIntervalSeconds() const {
    TOptions* options = FHost.Options();
    if (!options) return kFallbackIntervalSeconds;
    try {
        if (const std::optional<int> seconds = plat::TryStrToInt(options->GetConfigNode(kUpdateIntervalPath).Text()))
            return std::max(0, *seconds);
    } catch (const std::exception&) {
    }
    return kFallbackIntervalSeconds;
}

bool TUpdateController::AutomaticPolling() const {
    // Read without creating the element: a configuration that never chose
    // stays as it was.
    TOptions* options = FHost.Options();
    if (!options) return false;
    try {
        const xml::Node polling = options->GetConfigNode(kGeneralPath).FindChild(kPollingName);
        return !polling.IsNull() &&
               QString::fromStdString(polling.Text()).trimmed().compare("automatic", Qt::CaseInsensitive) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

void TUpdateController::StartSoon() {
    // The polling thread begins with the event loop, so its first update
    // (which starts at once, without a pause) does not compete with the
    // window's first appearance. A stop before then cancels the start.
    FStartPending = true;
    QTimer::singleShot(0, this, [this] {
        if (!FStartPending) return;
        // A window that is being shown starts polling once it is on screen;
        // the fallback covers a window system that never reports it.
        if (FHost.AwaitingScreen()) {
            QTimer::singleShot(kExposureFallbackMs, this, [this] { StartPending(); });
            return;
        }
        StartPending();
    });
}

void TUpdateController::StartPending() {
    if (FStartPending && !FHost.Closed()) Start();
}

void TUpdateController::Start() {
    FStartPending = false;
    if (FThread || !FHost.Options()) return;
    TUpdateThread::THost host;
    host.Context = this;
    host.FeedIds = [this] { return PolledFeedIds(); };
    host.ListVersion = FHost.ListVersion;
    host.Deferred = [this](const std::string& id) { return PollingDeferred(id); };
    host.PrepareUpdate = [this](const std::string& id) -> std::shared_ptr<TUpdateJob> {
        try {
            // Never a second download of a feed that is downloading now.
            if (FeedDownloading(id)) return nullptr;
            return PrepareFeedUpdate(id);
        } catch (const std::exception&) {
            return nullptr;  // an unreadable entry: the pass goes on
        }
    };
    host.UpdateIntervalSeconds = [this] { return UpdateIntervalSeconds(); };
    const auto feedOf = [this](const std::string& id) -> const feedlist::TFeedEntry* {
        const feedlist::TListEntry* entry = FHost.FeedList->FindFeed(id);
        return entry ? &entry->Feed() : nullptr;
    };
    host.OwnInterval = [feedOf](const std::string& id) -> std::optional<TUpdateThread::THost::TOwnInterval> {
        const feedlist::TFeedEntry* feed = feedOf(id);
        if (!feed || !feed->IntervalSeconds) return std::nullopt;
        return ReadOwnInterval(std::to_string(*feed->IntervalSeconds), feed->LastUpdate);
    };
    host.Automatic = [this] { return AutomaticPolling(); };
    host.FeedUrl = [feedOf](const std::string& id) {
        const feedlist::TFeedEntry* feed = feedOf(id);
        return feed ? feed->Url : std::string();
    };
    host.FirstSeen = [this](const std::string& id) {
        std::vector<std::chrono::system_clock::time_point> times;
        const std::shared_ptr<TItemBase>& base = FItems.Base();
        items::TItemStore* store = base ? base->ConnectionIfOpened() : nullptr;
        if (!store) return times;
        try {
            for (const std::int64_t seen : store->FirstSeenTimes(id, kRhythmItems))
                times.push_back(std::chrono::system_clock::time_point(std::chrono::seconds(seen)));
        } catch (const std::exception&) {
            // A base that fails here only costs the feed its rhythm.
        }
        return times;
    };
    host.Kept = [this, feedOf](const std::string& id) {
        TUpdateThread::THost::TKept kept;
        FHealth.KeptForSchedule(feedOf(id), kept.Asked, kept.LastFetch);
        return kept;
    };
    FThread = std::make_shared<TUpdateThread>(std::move(host));
    FNotify.NotePollingStarted();
}

void TUpdateController::Stop() {
    ++FStops;
    FStartPending = false;
    if (FUpdateAll) {
        FUpdateAll->Cancel();
        FHost.EnableUpdateAll(true);
    }
    FNotify.NotePollingStopped();
    for (auto& [id, running] : FManualUpdates) {
        if (const auto update = running.lock()) update->Cancel();
    }
    if (FThread) {
        FThread->Stop();
        FThread.reset();
    }
}

// ---------------------------------------------------------------------------
// Feed state in the tree, back-off and "update all"

bool TUpdateController::FeedDownloading(const std::string& id) const {
    const auto found = FDownloads.find(id);
    if (found == FDownloads.end()) return false;
    // From its preparation to the end of its download: a result waiting to
    // be applied holds no connection, and the stored-copy check of
    // FinishFeedUpdate keeps two results of one feed apart.
    const std::shared_ptr<TFeedUpdate> update = found->second.lock();
    return update && !update->Done() && !update->Fetched();
}

bool TUpdateController::PollingDeferred(const std::string& id) const {
    if (FeedDownloading(id) || FHealth.Stopped(id)) return true;
    const auto found = FRetryAfter.find(id);
    return found != FRetryAfter.end() && std::chrono::system_clock::now() < found->second;
}

TUpdateController::TRowState TUpdateController::RowState(const std::string& id) const {
    const auto found = FRowStates.find(id);
    return found == FRowStates.end() ? TRowState{} : found->second;
}

bool TUpdateController::SetRowState(const std::string& id, TRowState state) {
    if (!FHost.FeedList->FindFeed(id)) return false;
    if (!state.Busy && state.Failure.isEmpty())
        FRowStates.erase(id);
    else
        FRowStates[id] = std::move(state);
    ShowFeedState(id);
    return true;
}

void TUpdateController::MarkFeedBusy(const std::string& id, bool busy) {
    TRowState state = RowState(id);
    state.Busy = busy;
    SetRowState(id, std::move(state));
}

void TUpdateController::MarkFeedFailed(const std::string& id, const std::string& failure) {
    SetRowState(id, {false, Q(failure), QDateTime::currentDateTime()});
}

void TUpdateController::MarkFeedUpdated(const std::string& id) {
    if (SetRowState(id, {})) FRetryAfter.erase(id);
}

void TUpdateController::AddressChanged(const std::string& id) {
    FRetryAfter.erase(id);
    TRowState state = RowState(id);
    state.Failure.clear();
    state.FailureTime = QDateTime();
    SetRowState(id, std::move(state));
}

void TUpdateController::FeedDeleted(const QString& id) {
    FRetryAfter.erase(id.toStdString());
    FDownloads.erase(id.toStdString());
    FRowStates.erase(id.toStdString());
}

void TUpdateController::Fetched(const std::string& id, const schedule::TAnswerHints& answer,
                                std::chrono::system_clock::time_point at) {
    if (FThread) FThread->Fetched(id, answer, at);
}

void TUpdateController::ShowFeedState(const std::string& id) {
    if (!FHost.FeedList->FindFeed(id)) return;
    const TRowState state = RowState(id);
    const bool failed = !state.Failure.isEmpty();
    const QIcon icon = state.Busy ? FBusyIcon : failed ? FFailedIcon : QIcon();
    // The time is written the same way in every language, so the tooltip
    // reads right after a language switch too.
    QString toolTip = failed ? state.Failure + '\n' + state.FailureTime.toString("yyyy-MM-dd hh:mm:ss") : QString();
    // Why the feed needs attention, unless the failure already says it.
    const QString cause = FHealth.Cause(id);
    if (!cause.isEmpty() && !toolTip.startsWith(cause)) toolTip = toolTip.isEmpty() ? cause : cause + '\n' + toolTip;
    FHost.ShowRowState(id, icon, toolTip, state.Failure, cause);
}

void TUpdateController::UpdateAll() { UpdateAllUnder(&FHost.FeedList->Root()); }

int TUpdateController::PeakDownloads() const { return FUpdateAll ? FUpdateAll->PeakDownloads() : 0; }

int TUpdateController::PeakPerHost() const { return FUpdateAll ? FUpdateAll->PeakPerHost() : 0; }

void TUpdateController::UpdateAllUnder(const feedlist::TListEntry* top) {
    if (!top || !FHost.Options() || FHost.Closed()) return;
    if (FUpdateAll && FUpdateAll->Running()) return;
    // Accounts at or under the row sync; their feeds are not fetched here.
    if (const feedlist::TListEntry* account = top->AccountFolder()) {
        FHost.SyncAccount(account->Folder().Account->Id);
        return;
    }
    for (const auto& child : top->Children())
        if (child->IsAccount()) FHost.SyncAccount(child->Folder().Account->Id);
    std::vector<std::string> ids;
    for (const feedlist::TListEntry* entry : feedlist::FeedsUnder(*top)) ids.push_back(feedlist::IdText(entry->Feed()));
    RunPass(std::move(ids));
}

std::vector<std::string> TUpdateController::ListedFeedIds() const {
    std::vector<std::string> ids;
    for (const feedlist::TListEntry* entry : FHost.FeedList->Feeds()) ids.push_back(feedlist::IdText(entry->Feed()));
    std::sort(ids.begin(), ids.end());
    return ids;
}

void TUpdateController::FetchNew(const std::vector<std::string>& before) {
    std::vector<std::string> added;
    // In the list's order, as Update All fetches.
    for (const feedlist::TListEntry* entry : FHost.FeedList->Feeds()) {
        std::string id = feedlist::IdText(entry->Feed());
        if (!std::binary_search(before.begin(), before.end(), id)) added.push_back(std::move(id));
    }
    if (!added.empty()) RunPass(std::move(added));
}

void TUpdateController::RunPass(std::vector<std::string> ids) {
    if (!FHost.Options() || FHost.Closed()) return;
    if (!FUpdateAll) {
        FUpdateAll = std::make_unique<TUpdateAll>([this](const std::string& id) -> std::shared_ptr<TUpdateJob> {
            // Looked up when its download is due: a feed deleted since the
            // pass began is left out, and so is one downloading already
            // (its own result is on the way).
            if (FeedDownloading(id)) return nullptr;
            return PrepareFeedUpdate(id);
        });
        connect(FUpdateAll.get(), &TUpdateAll::finished, this, [this] {
            FHost.EnableUpdateAll(true);
            FNotify.NoteUpdateAllRunning(false);
            if (!FAddedDuringPass.empty()) RunPass(std::exchange(FAddedDuringPass, {}));
        });
    }
    if (FUpdateAll->Running()) {
        FAddedDuringPass.insert(FAddedDuringPass.end(), ids.begin(), ids.end());
        return;
    }
    std::vector<TUpdateAll::TEntry> entries;
    for (const std::string& id : ids) {
        const feedlist::TListEntry* entry = FHost.FeedList->FindFeed(id);
        // Removed by its publisher: only the user brings it back. An
        // account's feeds come with its sync.
        if (!entry || entry->AccountFolder() || FHealth.Stopped(id)) continue;
        entries.push_back({id, UpdateHostOf(entry->Feed().Url)});
    }
    FHost.EnableUpdateAll(false);
    // The pass's news is announced once, when it ends.
    FNotify.NoteUpdateAllRunning(true);
    FUpdateAll->Run(std::move(entries));
}
