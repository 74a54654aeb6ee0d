// Feed-server accounts in the window: their settings (the folder in
// config.xml, the password in the vault, the prompt for a refused one), one
// sync runner per account whose password is known, the server's results
// applied to the account's folder, and what the user does in that folder
// kept as changes for the server.
//
// An account's feeds are feeds of the list like any other, with the
// server's stream id, so the tree, the counts, the page, the search and the
// notifications treat them as local feeds. The polling
// thread never fetches them: the server does, and the sync brings its items.
//
// The controller works on the typed feed list and knows its rows as the
// list's entries; it reaches the tree, the item store, the update cycle and
// the status line only through its host.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "GReaderTypes.h"

struct TImportResult;
class TAccountSyncRunner;
class TPasswordVault;
class TReadStateController;
class TAlertMatcher;
struct TAccountBatchApplied;
struct TAccountSyncEnded;
struct TVaultResult;
namespace greader {
class TChangeQueue;
struct TSubscriptionChanges;
}  // namespace greader
namespace feedlist {
class TFeedList;
class TListEntry;
struct TFeedEntry;
}  // namespace feedlist
namespace opml {
struct Outline;
}
namespace feed {
class TFeedDocument;
}
struct TAlertVerdicts;

// What the controller needs of the window.
struct TAccountHost {
    // The window has closed (or never loaded its list): nothing starts.
    std::function<bool()> Closed;
    // The feed list; config.xml saved now, or a few seconds after the first
    // of a run of changes.
    feedlist::TFeedList* FeedList = nullptr;
    std::function<void()> SaveNow;
    std::function<void()> ScheduleSave;
    std::function<TReadStateController&()> Items;
    std::function<void(const QString& text)> ShowStatus;
    std::function<void(const std::exception& error)> ShowError;
    // general\UpdateInterval in seconds.
    std::function<int()> UpdateIntervalSeconds;
    // Alert words and the announcement of new items of a feed.
    std::function<std::shared_ptr<const TAlertMatcher>()> AlertWords;
    std::function<void(const feedlist::TFeedEntry& feed, const feed::TFeedDocument& document,
                       const std::vector<int>& fresh, const TAlertVerdicts& verdicts)>
        AnnounceNewItems;

    // ---- The list's rows, changed as the user's own changes are ----
    std::function<const feedlist::TListEntry*(const std::string& caption, const feedlist::TListEntry& parent)>
        AddFolder;
    // A new feed in `folder`, with nothing else done.
    std::function<const feedlist::TListEntry*(const std::string& url, const std::string& caption,
                                              const feedlist::TListEntry& folder)>
        AppendFeed;
    std::function<void(const feedlist::TListEntry& folder, bool withContents)> DeleteFolder;
    // A feed the server removed has gone from the list: nobody may keep
    // working on it.
    std::function<void(const std::string& id)> FeedGone;
    // Changes of many rows between these show at once.
    std::function<void()> BeginBatch;
    std::function<void()> EndBatch;
    std::function<void()> RepaintTree;

    // ---- Feed rows and the account's row ----
    std::function<void(const std::string& feedId)> MarkFeedUpdated;
    std::function<void(const std::string& feedId, const std::string& failure)> MarkFeedFailed;
    std::function<bool(const std::string& feedId)> FeedFailed;
    // The feed's stored copy was replaced by other means than an update.
    std::function<void(const std::string& id)> StoredCopyChanged;
    // A sync brought a feed's items in, as an update would (optional).
    std::function<void(const std::string& id)> ItemsArrived;
    enum class TRowState { Plain, Busy, Failed };
    std::function<void(const std::string& accountId, TRowState state, const QString& toolTip)> ShowAccountRow;
    std::function<QString(const std::string& accountId)> AccountRowToolTip;
};

class TAccountController : public QObject {
    Q_OBJECT
public:
    TAccountController(TAccountHost host, QObject* parent = nullptr);
    // Stops every sync.
    ~TAccountController() override;

    // ---- Settings (AccountSettings.cpp) ----
    // Reads every account's password once the event loop runs (by then
    // everyone who listens for accountReady is connected).
    void Start();
    TPasswordVault& Vault() { return *FVault; }
    // Asks for an account's password; nullopt when cancelled.
    using TPasswordPrompt = std::function<std::optional<QString>(const QString& id)>;
    void SetPasswordPrompt(TPasswordPrompt prompt) { FAskPassword = std::move(prompt); }
    // A checked account joins the feed list as its folder (saved at once);
    // returns the new folder's id. `base` is the API address that signed in.
    std::string AddAccount(const std::string& base, const std::string& user, const std::string& caption);
    // The caption of the account with this API address and user, if any.
    std::optional<std::string> ExistingAccount(const std::string& base, const std::string& user) const;
    // Keeps a password in the vault, then emits accountReady; `done` learns
    // where it went (or why not).
    void StorePassword(const std::string& id, const QString& password,
                       std::function<void(const TVaultResult&)> done = nullptr);
    void RenameAccount(const std::string& id, const std::string& caption);
    // The folder with its feeds leaves the tree and config.xml, the password
    // the vault; then accountRemoved. Local feeds stay as they are.
    void RemoveAccount(const std::string& id);
    // A refused password is asked for once: not while a prompt for the
    // account is open, and not after the user cancelled one, until the
    // account is edited in the dialog (Forgive).
    void Forgive(const QString& id) { FPasswordDeclined.erase(id); }
    // A second start's "add-account": a JSON object with the checked API
    // address, user and password. Returns the answer line.
    QString TakeAccountRequest(const QString& request);

    // ---- Syncs (AccountController.cpp) ----
    // Starts syncing an account with this password (or gives a running one
    // the new password), at once and then on the update interval.
    void StartSync(const std::string& accountId, const std::string& password);
    // Stops an account's syncs, waiting for none of its requests.
    void StopSync(const std::string& accountId);
    void StopSyncs();
    // A sync now (Update All, Update Feed on the account or one of its feeds).
    void Sync(const std::string& accountId);
    bool Running(const std::string& accountId) const { return FSyncs.count(accountId) > 0; }
    // Neither syncing nor asked to (true for an account not running).
    bool Idle(const std::string& accountId) const;
    // Tests: every finished sync, with its account; how long changes wait
    // before the sync that sends them, and the time-outs of every request.
    std::function<void(const std::string& accountId, const TAccountSyncEnded& ended)> OnSynced;
    void SetChangeDelay(std::chrono::milliseconds delay) { FChangeDelay = delay; }
    void SetRequestDeadline(std::chrono::milliseconds deadline) { FRequestDeadline = deadline; }

    // ---- The accounts in the tree ----
    // The account whose folder holds a row ("" for a local one).
    static std::string AccountIdOf(const feedlist::TListEntry* entry);
    const feedlist::TListEntry* AccountFolder(const std::string& accountId) const;
    // The server's name for a folder in the account: its caption, "" for
    // the account's own folder.
    static std::string AccountLabelOf(const feedlist::TListEntry* folder);
    // The folder of an account's label, made when missing; the account's
    // own folder for none.
    const feedlist::TListEntry* LabelFolder(const feedlist::TListEntry& account, const std::string& label);
    // Every stream of the account with its feed id.
    std::map<std::string, std::string> FeedIds(const std::string& accountId) const;
    // The subscription list read from the server, made the account's
    // folders and feeds (AccountSubscriptions.cpp).
    void ApplySubscriptions(const std::string& accountId, const greader::TSubscriptionChanges& changes);
    // True while a sync's result is applied: those edits come from the
    // server and are not sent back to it.
    bool ApplyingSync() const { return FApplyingSync; }

    // ---- What the user changed, for the server (AccountChanges.cpp) ----
    void FeedsRead(const std::string& feedId, const std::vector<std::string>& keys);
    void FeedsUnread(const std::string& feedId);
    // One item of an account's feed marked read or unread by the reader.
    void ItemMarked(const std::string& feedId, const std::string& key, bool read);
    // An item of an account's feed starred or unstarred here.
    void ItemStarred(const std::string& feedId, const std::string& key, bool starred);
    void EntryRenamed(const feedlist::TListEntry* entry, const std::string& oldCaption);
    void EntryDeleting(const feedlist::TListEntry* entry, bool withContents);
    // A move in or into an account; false refuses it (out of an account).
    bool EntryMoving(const feedlist::TListEntry* entry, const feedlist::TListEntry* parent);
    // An account's feed given a new address (its entry holds it already):
    // the old subscription goes, the new one is made in `folder`'s label,
    // and the feed waits for the server's list to bring the new one.
    void FeedReaddressed(const feedlist::TListEntry* entry, const std::string& oldUrl,
                         const feedlist::TListEntry* folder);
    // Add Feed into an account (`where`: the row selected): subscribed on
    // the server, shown until the next sync makes it the account's feed.
    const feedlist::TListEntry* AddFeed(const std::string& url, const feedlist::TListEntry* where,
                                        const std::string& caption);
    // OPML into an account: the feeds are subscribed to on its server
    // (queued, shown waiting, fetched by the server), each in the label of
    // its innermost OPML folder.
    TImportResult Import(const std::vector<opml::Outline>& outlines, const feedlist::TListEntry* account);

signals:
    // An account whose password is known (just added, read from the secret
    // store at start-up, or typed again), one removed, and a password the
    // server refused, to be asked for once.
    void accountReady(const QString& accountId, const QString& password);
    void accountRemoved(const QString& accountId);
    void accountPasswordRefused(const QString& accountId);
    // A sync brought stars set or taken away on the server.
    void starsChanged();

private:
    template <typename F>
    void Guarded(F&& handler) {
        try {
            handler();
        } catch (const std::exception& error) {
            FHost.ShowError(error);
        }
    }
    // Settings.
    void ReadPasswords();
    void PasswordRefused(const QString& id);
    void ReportPasswordPlace(const std::string& id, const TVaultResult& result);
    // Syncs.
    void Forget(const std::string& accountId);
    void ShowState(const std::string& accountId, bool busy, const QString& failure);
    std::string FeedFor(const std::string& accountId, const std::string& stream, const std::string& title);
    void ApplyBatch(const TAccountBatchApplied& batch);
    void SyncEnded(const std::string& accountId, const TAccountSyncEnded& ended);
    // A feed subscribed from here that the server refused shows as failing.
    void ShowSubscriptionRefused(const feedlist::TListEntry* entry);
    // Keeps a change for the account's server in the item store and asks
    // for a sync shortly, so that a burst of changes goes out together.
    void QueueChange(const std::string& accountId, const std::function<void(greader::TChangeQueue&)>& change);
    // One item's change for the server of its feed's account, if it has one.
    void QueueItemChange(const std::string& feedId, const std::string& key,
                         void (greader::TChangeQueue::*change)(const std::vector<greader::TItemId>&));
    feedlist::TFeedList& List() const { return *FHost.FeedList; }
    // A folder's row (an account's too); not the root.
    static bool IsFolder(const feedlist::TListEntry* entry);
    // The feed of a feed's row; null for any other row.
    static const feedlist::TFeedEntry* FeedOf(const feedlist::TListEntry* entry);
    static std::string FolderCaption(const feedlist::TListEntry* entry);
    // The feeds of an account's folder; none for an unknown account.
    std::vector<const feedlist::TListEntry*> AccountFeeds(const std::string& accountId) const;
    // Sets a feed's unread count to the store's.
    void CountUnread(const std::string& feedId);

    TAccountHost FHost;
    TPasswordVault* FVault = nullptr;
    TPasswordPrompt FAskPassword;
    std::set<QString> FPasswordAsking;
    std::set<QString> FPasswordDeclined;
    // How many passwords each account has been given (accountReady): a
    // vault answer asked for before the latest is stale.
    std::map<QString, int> FPasswordsGiven;

    std::map<std::string, std::unique_ptr<TAccountSyncRunner>> FSyncs;
    // Keys of the items last marked read per account feed, for Mark as Unread.
    std::unordered_map<std::string, std::vector<std::string>> FReadBeforeKeys;
    bool FApplyingSync = false;
    std::chrono::milliseconds FChangeDelay{2000};
    std::chrono::milliseconds FRequestDeadline{120'000};
};
