// The update cycle in the program: one feed's update (manual, polled or part
// of "Update All"), the polling thread, and what the feed list shows of them
// (busy, the last failure, a server's Retry-After).
//
// An update runs in parts. Preparing it (reading what to fetch), its start
// and its result run on the user-interface thread, each in one go, and a
// result is always applied before the next update starts, so two updates
// never interleave the steps that touch the feed's element, the tree, the
// stored copy, the status bar, the browser or the tray icon. The download
// and the parsing run on another thread: the polling thread, or a worker of
// a manual update while the user-interface thread keeps processing events.
//
// The controller reads and writes the feed list itself and knows feeds by
// id; the window only shows what it reports of a feed's row.
#pragma once

#include <QDateTime>
#include <QIcon>
#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "Rhythm.h"
#include "XmlDom.h"

class TFeedHealthController;
class TFeedUpdate;
class TNotifyController;
class TOptions;
class TReadStateController;
class TUpdateAll;
class TUpdateThread;
namespace feedupdate {
struct TUpdateResult;
}

namespace feedlist {
class TFeedList;
class TListEntry;
struct TFeedEntry;
}  // namespace feedlist

class TUpdateController : public QObject {
    Q_OBJECT
public:
    // What a feed's row keeps of its updates, in memory only: downloading
    // now, and the last failure (its text and time) until the next success.
    struct TRowState {
        bool Busy = false;
        QString Failure;
        QDateTime FailureTime;
    };

    struct THost {
        // The option store; null while config.xml is not loaded.
        std::function<TOptions*()> Options;
        // True once the window has closed: nothing starts any more.
        std::function<bool()> Closed;
        // The feed list, which results are written to.
        feedlist::TFeedList* FeedList = nullptr;
        // Changes whenever the rows or a feed's interval or address change.
        std::function<std::uint64_t()> ListVersion;
        // An account's feeds come with its sync.
        std::function<void(const std::string& accountId)> SyncAccount;
        // Optional: the text a feed's row shows (its caption without it).
        std::function<std::string(const std::string& id)> RowText;
        // What a feed's row shows of its updates: an icon in place of the
        // feed's (null for none) and a tooltip; and the icon's meaning in
        // words: why the last update failed ("" when it did not), else why
        // the feed needs attention ("" for nothing).
        std::function<void(const std::string& id, const QIcon& icon, const QString& toolTip, const QString& failure,
                           const QString& attention)>
            ShowRowState;
        // The feed is on show: its page reloads with the news.
        std::function<void(const std::string& id)> RefreshIfShown;
        // The status line's update messages.
        std::function<void(const QString& text)> ShowStatus;
        std::function<QString()> StatusText;
        std::function<void()> ScheduleConfigSave;
        // The window's Update All action, disabled while a pass runs.
        std::function<void(bool enabled)> EnableUpdateAll;
        // An icon of the feed tree, drawn at its icon size.
        std::function<QIcon(const QString& path)> TreeIcon;
        // True while the window being shown is not on screen yet: polling
        // waits for it (StartPending), or for a fallback delay.
        std::function<bool()> AwaitingScreen;
    };

    // Reads the Retry-Afters the health record kept across a restart.
    TUpdateController(THost host, TReadStateController& items, TNotifyController& notify, TFeedHealthController& health,
                      QObject* parent = nullptr);
    ~TUpdateController() override;

    // ---- One update ----
    // Downloads one feed, stores its copy and updates its element and node.
    // On the user-interface thread: the download runs on a worker while
    // events (the polling thread's among them) go on being processed.
    void UpdateFeed(const std::string& id);
    // Update Feed on a row of the list: an account's sync, a folder's
    // pass, or the feed's update with the busy cursor showing.
    void UpdateEntry(const feedlist::TListEntry* entry);
    // Prepares and starts an update whose download and result the caller
    // drives (Fetch, Finish); null for no such feed.
    std::shared_ptr<TFeedUpdate> BeginFeedUpdate(const std::string& id);
    // True from the preparation of an update of this feed (by the polling
    // thread, a manual update or "update all") until its download has
    // ended or it was abandoned: nobody starts a second download of it then.
    bool FeedDownloading(const std::string& id) const;
    // True while the polling thread is to pass this feed by.
    bool PollingDeferred(const std::string& id) const;

    // ---- Update All ----
    // Fetches every feed at or under a row now (the root: all), several at
    // a time; the results are applied in list order. Accounts sync instead.
    // Does nothing while a pass is running.
    void UpdateAllUnder(const feedlist::TListEntry* top);
    void UpdateAll();
    // Runs `add` (an OPML import, a subscription) and fetches the feeds it
    // added to the list at once, as Update All does; after a pass under
    // way when one is.
    template <typename F>
    auto FetchAddedBy(F&& add) {
        const std::vector<std::string> before = ListedFeedIds();
        if constexpr (std::is_void_v<decltype(add())>) {
            add();
            FetchNew(before);
        } else {
            auto result = add();
            FetchNew(before);
            return result;
        }
    }
    // The most downloads the pass ran at once, in all and per host.
    int PeakDownloads() const;
    int PeakPerHost() const;

    // ---- The polling thread ----
    // Started at the end of start-up, stopped and joined before the option
    // store is destroyed. Stop also cancels a pass and manual downloads.
    void Start();
    void Stop();
    // Starts polling from the event loop: at once, or once a window being
    // shown is on screen (StartPending).
    void StartSoon();
    bool StartIsPending() const { return FStartPending; }
    // Starts polling unless it was stopped (or started) since StartSoon.
    void StartPending();

    // ---- The options ----
    // general\SecureFeeds: whether https addresses may be fetched.
    bool SecureFeedsOption() const;
    // general\UpdateInterval in seconds; 60 when it is not a number.
    int UpdateIntervalSeconds() const;
    // general\Polling says "automatic": each feed at its own rhythm.
    bool AutomaticPolling() const;

    // ---- The feed's row and what is kept of its updates ----
    // The row shows the feed's state: busy while an update of it is under
    // way, the failure icon and a tooltip with the failure text and its
    // time after a failed update, until the next success.
    void MarkFeedUpdated(const std::string& id);
    void MarkFeedFailed(const std::string& id, const std::string& failure);
    void ShowFeedState(const std::string& id);
    // The feed's row state; the default for a feed with none.
    TRowState RowState(const std::string& id) const;
    const QIcon& BusyIcon() const { return FBusyIcon; }
    const QIcon& FailedIcon() const { return FFailedIcon; }
    // The feed has another address: the old one's failure and Retry-After go.
    void AddressChanged(const std::string& id);
    // A feed's stored copy was written or removed outside an update, so an
    // update under way reads it again.
    void StoredCopyChanged(const std::string& id);
    // What is kept in memory about a deleted feed goes with it.
    void FeedDeleted(const QString& id);
    // A fetch ended: the automatic schedule counts from it.
    void Fetched(const std::string& id, const schedule::TAnswerHints& answer, std::chrono::system_clock::time_point at);

signals:
    // An update of a feed has been applied; `message` is the status text it
    // left. Not emitted for a result dropped because its feed was deleted.
    void feedUpdateFinished(QString id, QString message);

private:
    // The ids of the listed feeds, sorted.
    std::vector<std::string> ListedFeedIds() const;
    // Fetches the feeds listed now that were not in `before` (sorted).
    void FetchNew(const std::vector<std::string>& before);
    // Starts a pass over these feeds, or keeps them for the end of the pass
    // under way.
    void RunPass(std::vector<std::string> ids);
    std::shared_ptr<TFeedUpdate> PrepareFeedUpdate(const std::string& id);
    void StartFeedUpdate(TFeedUpdate& update);
    void FinishFeedUpdate(TFeedUpdate& update);
    // What the update came to, for the decision of what it does to the feed.
    feedupdate::TUpdateResult ResultOf(TFeedUpdate& update, const feedlist::TFeedEntry& feed,
                                       const std::string& path) const;
    // Hands `count` new items of the download to the announcer.
    void Announce(const feedlist::TFeedEntry& feed, TFeedUpdate& update, int count);
    unsigned StoredCopyWrites(const std::string& id) const;
    void MarkFeedBusy(const std::string& id, bool busy);
    // Sets a listed feed's row state and shows it; false for a feed that
    // is not in the list.
    bool SetRowState(const std::string& id, TRowState state);
    // The ids of the feeds the polling thread polls, in the list's order:
    // an account's feeds are fetched by its server.
    std::vector<std::string> PolledFeedIds() const;

    THost FHost;
    TReadStateController& FItems;
    TNotifyController& FNotify;
    TFeedHealthController& FHealth;
    QIcon FBusyIcon;
    QIcon FFailedIcon;

    std::shared_ptr<TUpdateThread> FThread;
    // StartSoon was called and neither a start nor a stop has happened since.
    bool FStartPending = false;
    // Manual updates in progress (by feed id), so that the same feed is not
    // fetched twice at once and Stop can cancel their downloads.
    std::map<std::string, std::weak_ptr<TFeedUpdate>> FManualUpdates;
    // Counts Stop calls: a manual update that sees it change while it
    // downloads drops its result (the window is closing).
    unsigned FStops = 0;
    // Counts the writes and removals of each feed's stored copy (by id), so
    // an update can tell whether the copy it read while downloading is
    // still the current one.
    std::unordered_map<std::string, unsigned> FStoredCopyWrites;
    std::unique_ptr<TUpdateAll> FUpdateAll;
    // Feeds added while a pass ran, fetched when it ends.
    std::vector<std::string> FAddedDuringPass;
    // The feeds of FeedDownloading, by id.
    std::unordered_map<std::string, std::weak_ptr<TFeedUpdate>> FDownloads;
    // The row states other than the default, by feed id.
    std::unordered_map<std::string, TRowState> FRowStates;
    // The server asked (429 or 503 with Retry-After) not to be polled for
    // this feed before this time; a manual update still fetches at once.
    std::unordered_map<std::string, std::chrono::system_clock::time_point> FRetryAfter;
};
