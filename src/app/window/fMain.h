// The main window: the feed tree on the left, the embedded browser on the
// right, the toolbar, menus, status bar and the tray icon.
//
// The window brings the program up in a fixed order (language catalogue,
// option store, stored language, feed tree, polling thread, geometry) and
// takes it down in the reverse one: the polling thread is stopped before the
// option store goes, and the option store goes first of all, saving a
// modified config.xml.
//
// Every feed's state lives in its <item> element of config.xml; a tree node
// only refers to that element, so there is no second copy of the feed list.
#pragma once

#include <QAction>
#include <QDateTime>
#include <QIcon>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSplitter>
#include <QStatusBar>
#include <QString>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "Options.h"
#include "ReadingPane.h"
#include "TrayIcon.h"
#include "XmlDom.h"

class TUpdateController;
class TFormAddFeed;
class TReadStateController;
class TFeedHealthController;
class TNotifyController;
class TFeedPageController;
class TTrayController;
class TFeedPropertiesController;
class QPushButton;
namespace items {
class TItemStore;
}
class TConfigSaver;
class TPasswordVault;
struct TVaultResult;
namespace accountlist {
struct TAccountRecord;
}
class TAccountSyncRunner;
struct TAccountBatchApplied;
struct TAccountSyncEnded;
namespace greader {
class TChangeQueue;
struct TSubscriptionChanges;
}  // namespace greader
class QTimer;
namespace feed {
class TFeedDocument;
}

namespace opml {
struct Outline;
}

// A feed node of the tree: it carries a handle to its feed's <item> element.
// The root node is a plain QTreeWidgetItem and carries nothing.
class TFeedNode : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;
    TFeedNode(xml::Node item, QIcon icon) : QTreeWidgetItem(kType), FItem(std::move(item)), FIcon(std::move(icon)) {}
    const xml::Node& Item() const { return FItem; }

    // Every feed shows the same icon; it is handed out when a row is
    // painted instead of being stored as item data in each of possibly
    // thousands of nodes.
    QVariant data(int column, int role) const override {
        if (column == 0 && role == Qt::DecorationRole) return FStateIcon.isNull() ? FIcon : FStateIcon;
        if (column == 0 && role == Qt::ToolTipRole && !FToolTip.isEmpty()) return FToolTip;
        if (column == 0 && role == Qt::EditRole && FEditText) return *FEditText;
        return QTreeWidgetItem::data(column, role);
    }

    // The state of the feed's updates, kept in memory only: downloading
    // now, and the last failure (its text and time) until the next success.
    bool Busy() const { return FBusy; }
    bool Failed() const { return !FFailure.isEmpty(); }
    const QString& Failure() const { return FFailure; }
    const QDateTime& FailureTime() const { return FFailureTime; }
    void SetBusy(bool busy) { FBusy = busy; }
    void SetFailure(QString failure, QDateTime when) {
        FFailure = std::move(failure);
        FFailureTime = std::move(when);
    }
    // What the row shows for that state: an icon in place of the feed's
    // (a null icon for none) and a tooltip. The row is repainted by the
    // caller: announcing a change of the item's data would also reset the
    // label editor, throwing away a new name being typed.
    void ShowState(QIcon icon, QString toolTip) {
        FStateIcon = std::move(icon);
        FToolTip = std::move(toolTip);
    }
    // The text the label editor starts with when the row shows something
    // else than the feed's own caption (its address standing in for an
    // empty one); nullopt when the shown text is the one to edit.
    void SetEditText(std::optional<QString> text) { FEditText = std::move(text); }

private:
    xml::Node FItem;
    QIcon FIcon;
    QIcon FStateIcon;
    QString FToolTip;
    std::optional<QString> FEditText;
    bool FBusy = false;
    QString FFailure;
    QDateTime FFailureTime;
};

// A folder of the tree: it carries a handle to its <folder> element, which
// holds the <item> and <folder> elements of what the folder contains.
class TFolderNode : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 2;
    TFolderNode(xml::Node folder, QIcon icon)
        : QTreeWidgetItem(kType), FFolder(std::move(folder)), FIcon(std::move(icon)) {}
    xml::Node Folder() const { return FFolder; }
    QVariant data(int column, int role) const override {
        if (column == 0 && role == Qt::DecorationRole) return FStateIcon.isNull() ? FIcon : FStateIcon;
        if (column == 0 && role == Qt::ToolTipRole && !FToolTip.isEmpty()) return FToolTip;
        if (column == 0 && role == Qt::EditRole)
            return QString::fromStdString(FFolder.Attribute("caption").value_or(""));
        return QTreeWidgetItem::data(column, role);
    }
    // An account's folder shows the state of its syncs as a feed row shows
    // its updates': an icon in place of the folder's and a tooltip.
    void ShowState(QIcon icon, QString toolTip) {
        FStateIcon = std::move(icon);
        FToolTip = std::move(toolTip);
    }
    const QString& ToolTip() const { return FToolTip; }

private:
    xml::Node FFolder;
    QIcon FIcon;
    QIcon FStateIcon;
    QString FToolTip;
};

namespace feedlist {
class TFeedIds;
}

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // Runs FormCreate. Start-up failures (no language installed, a missing
    // or malformed config.xml) raise an exception whose message names the
    // file and the reason; nothing is written in that case.
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    // Shows the window as start-up decided: maximised, normal, or only the
    // tray icon when general\StartTrayIcon is true.
    void ShowAtStartup();

    TOptions& Options() { return *FOptions; }

    // ---- Feed list ----
    // The <item> element of a feed node; a null handle for the root (or no
    // node at all).
    xml::Node GetFeedItem(QTreeWidgetItem* node) const;
    // Appends a node for an existing <item> element under `parent` (the
    // root when null).
    QTreeWidgetItem* AddFeedNode(xml::Node item, QTreeWidgetItem* parent = nullptr);
    // "caption", followed by " (unread)" while unread is not 0; bold then.
    void UpdateNodeCaption(QTreeWidgetItem* node);
    void LoadFeedList();
    // Appends a feed for `url` (taken exactly as typed) to `folder` (the
    // root when null), updates it once and saves config.xml. Returns the new
    // node.
    QTreeWidgetItem* AddFeed(const std::string& url, QTreeWidgetItem* folder = nullptr,
                             const std::string& caption = std::string());
    // The Add Feed dialog, looking for the feeds of `address` at once when
    // one is given (pasted, dropped, handed over from outside).
    void OpenAddFeedDialog(const QString& address);
    // What was pasted, dropped or handed over: an address opens the Add Feed
    // dialog with it, an OPML file is imported, a feed file is subscribed to
    // by the address it names.
    void TakeAddressOrFile(const QString& text);
    // Deletes the stored copy, the <item> element and the node. Emits
    // feedDeleted first, so nobody keeps working on the node.
    // With `itemsToForget`, the feed's stored items are left for the caller
    // to forget with the others in one transaction.
    void DeleteFeed(QTreeWidgetItem* node, std::vector<std::string>* itemsToForget = nullptr);
    QTreeWidgetItem* RootNode() const;
    // The feed node whose element has this id, or nullptr.
    QTreeWidgetItem* FindFeedNodeById(const std::string& id) const;
    // The text a feed node shows for its element.
    static QString FeedDisplayText(const xml::Node& item);
    // Adds the feeds of an OPML subscription list that are not in the list
    // yet, with their titles as captions, and saves; the polling thread
    // fetches them in turn. Returns how many were added and skipped. A file
    // that is not OPML raises an error carrying the "InvalidOPML" message.
    struct TImportResult {
        int added = 0;
        int skipped = 0;
        // Of the skipped: addresses Add Feed would not take either.
        int refused = 0;
        // Feeds put into a shallower folder than the file's, which nested
        // deeper than a list may.
        int flattened = 0;
    };
    // With an account's node as `target`, the feeds are subscribed to on its
    // server instead (queued, shown waiting, fetched by the server), each in
    // the label of its innermost OPML folder.
    TImportResult ImportOPML(const std::string& fileName, QTreeWidgetItem* target = nullptr);
    // Where a new or imported feed may go: this computer (first) and every
    // account, with the names a choice shows and the one the selection is in.
    struct TFeedTargets {
        QStringList Names;
        std::vector<QTreeWidgetItem*> Nodes;  // the root, then the accounts' nodes
        int Current = 0;
    };
    TFeedTargets FeedTargets() const;
    // Writes the feed list (addresses and captions, in their folders) as an
    // OPML 2.0 file.
    void ExportOPML(const std::string& fileName);

    // ---- Folders and the filter (fMainFolders.cpp) ----
    // config.xml keeps a folder as a <folder caption="…" expanded="…">
    // element among the feeds' <item> elements, nested as deep as the user
    // makes them; a list without folders is read as before.
    static bool IsFolderNode(const QTreeWidgetItem* node);
    // The element that holds what a node contains: a folder's <folder>, the
    // root's feed list; null for a feed or no node.
    xml::Node ContainerElement(QTreeWidgetItem* node) const;
    // Where something added with `node` selected goes: the folder or root
    // itself, or the folder of a feed.
    QTreeWidgetItem* TargetFolder(QTreeWidgetItem* node) const;
    // A new folder at the end of `parent` (the root when null).
    QTreeWidgetItem* AddFolder(const std::string& caption, QTreeWidgetItem* parent = nullptr);
    // Deletes a folder: its feeds and folders move up to its place, or are
    // deleted with it.
    void DeleteFolder(QTreeWidgetItem* folder, bool withContents);
    // Moves a feed or folder into `parent` at child position `index` (the
    // end when out of range). Returns false for a move that cannot be (the
    // root, into itself or one of its own folders).
    bool MoveNode(QTreeWidgetItem* node, QTreeWidgetItem* parent, int index = -1);
    // Between these, folders' sums and the filter wait: a batch of many
    // feeds (a server's list) takes each once at the end, for `node` and
    // everything under it, instead of once per feed.
    void BeginDeferredFolderCaptions() { FFolderCaptionsDeferred = true; }
    void EndDeferredFolderCaptions(QTreeWidgetItem* node);
    bool FFolderCaptionsDeferred = false;
    // The feed nodes at or under `node`, in the tree's order.
    std::vector<QTreeWidgetItem*> FeedNodesUnder(QTreeWidgetItem* node) const;
    // The sum of the unread counts of the feeds under a node.
    static long long UnreadUnder(const QTreeWidgetItem* node);
    // Shows only the feeds whose caption or address holds `text` (any case),
    // with their folders; an empty text shows everything again.
    void SetFeedFilter(const QString& text);
    // Asks how a folder is deleted: 0 cancels, 1 keeps its contents (they
    // move up), 2 deletes them too. Tests replace it.
    std::function<int(QTreeWidgetItem* folder)> AskDeleteFolder;
    void ActionNewFolderExecute();
    // Fills the "Move to" menu with the root and every folder.
    void FillMoveToMenu();
    QAction* ActionNewFolder = nullptr;
    QAction* ActionFilterFeeds = nullptr;
    QMenu* MenuMoveTo = nullptr;
    QLineEdit* FeedFilter = nullptr;

    // Status bar: panel 0 carries the update messages, panel 1 the
    // browser's status text.
    void SetStatusText(int panel, const QString& text);
    QString StatusText(int panel) const;

    // ---- Event and action handlers ----
    void ActionAddFeedExecute();
    void ActionDeleteFeedExecute();
    // A feed's properties dialog; a folder is renamed in place.
    void ActionEditFeedExecute();
    // Renames the selected feed or folder in place (F2).
    void ActionRenameFeedExecute();
    void ActionCopyURLExecute();
    void ActionImportOPMLExecute();
    void ActionExportOPMLExecute();
    void ActionOptionsExecute();
    void ActionExitExecute();
    void ActionAboutExecute();
    void ActionHomePageExecute();
    void ActionSupportExecute();
    void TreeViewChange(QTreeWidgetItem* node);
    // A confirmed in-place edit of a node's label.
    void TreeViewEdited(QTreeWidgetItem* node, const QString& text);
    // Decides whether the feed list's context menu opens for a request at
    // `pos` (viewport coordinates; x == -1 for a keyboard request). A click
    // on a feed selects it first.
    bool TreeViewContextPopup(const QPoint& pos);
    // Keeps status-bar panel 0 as wide as the tree.
    void SplitterVMoved();
    // Called by the language catalogue after every selection.
    void OnLanguageChange();

    // ---- Components, named as the language files name them ----
    QMenuBar* MainMenu = nullptr;
    QMenu* FileMenu = nullptr;
    QMenu* FeedMenu = nullptr;
    QMenu* LanguageMenu = nullptr;
    QMenu* HelpMenu = nullptr;
    QMenu* PopupMenuFeedList = nullptr;
    QMenu* PopupMenuTrayIcon = nullptr;
    QToolBar* ToolBar = nullptr;
    QSplitter* SplitterV = nullptr;
    QTreeWidget* TreeView = nullptr;
    // The reading pane, which creates the browser when a page is shown and
    // releases it while the window is hidden (Browser() reaches it).
    TReadingPane* ReadingPane = nullptr;
    QStatusBar* StatusBar = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    TTrayIcon* TrayIcon = nullptr;

    QAction* ActionAddFeed = nullptr;
    QAction* ActionDeleteFeed = nullptr;
    QAction* ActionEditFeed = nullptr;
    QAction* ActionRenameFeed = nullptr;
    QAction* ActionUpdateFeed = nullptr;
    QAction* ActionCopyURL = nullptr;
    QAction* ActionImportOPML = nullptr;
    QAction* ActionExportOPML = nullptr;
    QAction* ActionShowQuillet = nullptr;
    QAction* ActionHideQuillet = nullptr;
    QAction* ActionOptions = nullptr;
    QAction* ActionExit = nullptr;
    QAction* ActionHelp = nullptr;
    QAction* ActionAbout = nullptr;
    QAction* ActionHomePage = nullptr;
    QAction* ActionSupport = nullptr;

    // ---- Display (fMainDisplay.cpp) ----
    // Called once by the constructor after every component exists and
    // before FormCreate: connects the handlers of this block (show/hide,
    // help, tray icon clicks, browser events).
    void ConnectUpdateAndDisplay();

    // ---- The update cycle (fMainUpdate.cpp, src/app/update/UpdateController.h) ----
    TUpdateController& Updates() { return *FUpdates; }
    QAction* ActionUpdateAll = nullptr;
    // ---- end update cycle and display ----

private:
    // ---- Notifications (fMainNotify.cpp) ----
    // The announcer, the balloons and "Notify About New Items"; the window
    // places the action and shows the balloons in its tray icon.
    TNotifyController* FNotify = nullptr;
    // Called by ConnectUpdateAndDisplay.
    void ConnectNotifications();

public:
    // ---- end notifications ----
private:
    // ---- Feed properties (fMainProperties.cpp) ----
    TFeedPropertiesController* FProperties = nullptr;
    // Called by the constructor.
    void ConnectFeedProperties();
    // The Feed Properties dialog of a feed node; an error goes to a message box.
    void OpenFeedProperties(QTreeWidgetItem* node);
    // ---- end feed properties ----

public:
    // ---- The item store: read state, next unread, search (fMainItems.cpp) ----
    // items.db, what shown pages mark read, Mark as Read and Unread, Next
    // Unread and Find in Feeds; the update cycle and the syncs reach the
    // store through it.
    TReadStateController& Items() { return *FItems; }
    // The feeds at or under these nodes, each once, in the tree's order.
    std::vector<std::string> FeedIdsUnder(const std::vector<QTreeWidgetItem*>& nodes) const;
    QAction* ActionMarkRead = nullptr;
    QAction* ActionMarkAllRead = nullptr;
    QAction* ActionMarkUnread = nullptr;
    QAction* ActionNextUnread = nullptr;
    QAction* ActionFindInFeeds = nullptr;
    // ---- end item store ----

    // ---- Feed-server accounts: their syncs (fMainSync.cpp) ----
    // Connects accountReady and accountRemoved; called by the constructor.
    void ConnectAccountSync();
    // Starts syncing an account with this password (or gives a running one
    // the new password), at once and then on the update interval.
    void StartAccountSync(const std::string& accountId, const std::string& password);
    // Stops an account's syncs, waiting for none of its requests.
    void StopAccountSync(const std::string& accountId);
    void StopAccountSyncs();
    // The account whose folder holds a node ("" for a local one).
    std::string AccountIdOf(QTreeWidgetItem* node) const;
    QTreeWidgetItem* AccountNode(const std::string& accountId) const;
    // A sync now (Update All, Update Feed on the account or one of its feeds).
    void SyncAccount(const std::string& accountId);
    bool AccountSyncing(const std::string& accountId) const;
    // Keeps a change for the account's server in the item store and asks
    // for a sync shortly, so that a burst of changes goes out together.
    void QueueAccountChange(const std::string& accountId, const std::function<void(greader::TChangeQueue&)>& change);
    // The server's name for a node's folder in the account: its caption,
    // "" for the account's own folder.
    std::string AccountLabelOf(QTreeWidgetItem* folder) const;
    // What the user changed in an account's part of the tree, for its server.
    void AccountFeedsRead(const std::string& feedId, const std::vector<std::string>& keys);
    void AccountFeedsUnread(const std::string& feedId);
    void AccountNodeRenamed(QTreeWidgetItem* node, const std::string& oldCaption);
    void AccountNodeDeleting(QTreeWidgetItem* node, bool withContents);
    // A move in or into an account; false refuses it (out of an account).
    bool AccountNodeMoving(QTreeWidgetItem* node, QTreeWidgetItem* parent);
    // An account's feed given a new address (its <item> holds it already):
    // the old subscription goes, the new one is made in `folder`'s label,
    // and the node waits for the server's list to bring the new feed.
    void AccountFeedReaddressed(QTreeWidgetItem* node, const std::string& oldUrl, QTreeWidgetItem* folder);
    // Add Feed into an account: subscribed on the server, shown until the
    // next sync makes it the account's feed.
    QTreeWidgetItem* AddAccountFeed(const std::string& url, QTreeWidgetItem* folder, const std::string& caption);
    // The folder of an account's label, made when missing; the account's
    // own node for none.
    QTreeWidgetItem* AccountLabelFolder(QTreeWidgetItem* account, const std::string& label);
    TImportResult ImportToAccount(const std::vector<opml::Outline>& outlines, QTreeWidgetItem* account);
    // Tests: every finished sync, with its account.
    std::function<void(const std::string& accountId, const TAccountSyncEnded& ended)> OnAccountSynced;
    // Tests: how long changes wait before the sync that sends them, and the
    // time-outs of every request.
    std::chrono::milliseconds AccountChangeDelay{2000};
    std::chrono::milliseconds AccountRequestDeadline{120'000};
    std::map<std::string, std::unique_ptr<TAccountSyncRunner>> FAccountSyncs;
    // Keys of the items last marked read per account feed, for Mark as Unread.
    std::unordered_map<std::string, std::vector<std::string>> FReadBeforeKeys;
    // Set while a sync's result is applied: those edits come from the
    // server and are not sent back to it.
    bool FApplyingSync = false;
    bool FImportRunning = false;
    void ApplyAccountSubscriptions(const std::string& accountId, const greader::TSubscriptionChanges& changes);
    std::string AccountFeedFor(const std::string& accountId, const std::string& stream, const std::string& title);
    std::map<std::string, std::string> AccountFeedIds(const std::string& accountId) const;
    void ApplyAccountBatch(const TAccountBatchApplied& batch);
    // A feed subscribed from here that the server refused shows as failing.
    void ShowSubscriptionRefused(QTreeWidgetItem* node);
    void AccountSyncEnded(const std::string& accountId, const TAccountSyncEnded& ended);
    void ShowAccountState(const std::string& accountId, bool busy, const QString& failure);
    // "Move to Account": the accounts a local feed or folder can go to.
    QMenu* MenuMoveToAccount = nullptr;
    void FillMoveToAccountMenu();
    // ---- end accounts ----

private:
    // ---- The feed page and the tray (fMainDisplay.cpp) ----
    // What the reading pane shows, where its links go and its status texts;
    // showing and hiding the window through the tray icon.
    TFeedPageController* FPage = nullptr;
    TTrayController* FTray = nullptr;
    // Called by ConnectUpdateAndDisplay.
    void ConnectPage();
    // Selects a feed node and shows its stored copy.
    void ShowFeed(QTreeWidgetItem* node);
    // ---- end feed page ----

    // ---- Saving config.xml while running (fMainSave.cpp) ----
    // Gathers the changes of feed states and writes config.xml a few
    // seconds after the first of them, reporting failures.
    TConfigSaver* FConfigSaver = nullptr;
    void CreateConfigSaver();
    // Asks for a save when config.xml was changed in memory.
    void ScheduleConfigSave();
    // The last save, as the window goes.
    void SaveConfigOnClose();
    // ---- end saving config.xml ----

public:
    // ---- Feed-server accounts: their settings (fMainAccounts.cpp) ----
    // File > Accounts: the dialog that lists, adds, edits and removes them.
    QAction* ActionAccounts = nullptr;
    void ActionAccountsExecute();
    // Called by the constructor: the vault, the password prompt, and the
    // passwords read once the event loop runs (every connection made).
    void ConnectAccounts();
    TPasswordVault* AccountVault = nullptr;
    // A checked account joins the feed list as its folder (saved at once);
    // returns the new folder's id. `base` is the API address that signed in.
    std::string AddAccount(const std::string& base, const std::string& user, const std::string& caption);
    // The caption of the account with this API address and user, if any.
    std::optional<std::string> ExistingAccount(const std::string& base, const std::string& user) const;
    // Keeps a password in the vault, then emits accountReady; `done` learns
    // where it went (or why not).
    void StoreAccountPassword(const std::string& id, const QString& password,
                              std::function<void(const TVaultResult&)> done = nullptr);
    void RenameAccount(const std::string& id, const std::string& caption);
    // The folder with its feeds leaves the tree and config.xml, the password
    // the vault; then accountRemoved. Local feeds stay as they are.
    void RemoveAccount(const std::string& id);
    // Every account's password from the vault: accountReady for those found,
    // accountPasswordRefused (a prompt) for the others.
    void ReadAccountPasswords();
    // A refused password is asked for once: not while a prompt for the
    // account is open, and not after the user cancelled one, until the
    // account is edited in the dialog (ForgiveAccount).
    void AccountPasswordRefused(const QString& id);
    void ForgiveAccount(const QString& id);
    // Asks for an account's password; nullopt when cancelled. Tests replace it.
    std::function<std::optional<QString>(const QString& id)> AskAccountPassword;
    // The status line's note on where a password went.
    void ReportPasswordPlace(const std::string& id, const TVaultResult& result);
    // A second start's "add-account": a JSON object with the checked API
    // address, user and password. Returns the answer line.
    QString TakeAccountRequest(const QString& request);
    std::set<QString> FPasswordAsking;
    std::set<QString> FPasswordDeclined;
    // How many passwords each account has been given (accountReady): a
    // vault answer asked for before the latest is stale.
    std::map<QString, int> FPasswordsGiven;
    // ---- end accounts ----
private:
    // ---- Feed health (fMainHealth.cpp) ----
    // The record of every feed's results and what the user sees of it; the
    // window places its action and status line and answers for the feeds.
    TFeedHealthController* FFeedHealth = nullptr;
    void ConnectFeedHealth();
    // Points a feed at another address: the validators and the failure of
    // the old one go, and polling resumes.
    void SetFeedAddress(QTreeWidgetItem* node, const std::string& url);
    // Discovery on a feed's address for "Find the feed on this page", the
    // user choosing among several; the address chosen, or "" when none was.
    std::string ChooseFeedOnPage(const std::string& id, const std::string& url, const QString& title);
    // ---- end feed health ----

signals:
    // Emitted by DeleteFeed before the node and its element go away.
    void feedDeleted(QString id);
    // An update of a feed has been applied; `message` is the status text it
    // left ("UpdatedFeed" or "FailedFeed"). Not emitted for a result that
    // was dropped because its feed was deleted.
    void feedUpdateFinished(QString id, QString message);
    // The window has closed and stored its state: the program ends.
    void formClosed();
    // Feed-server accounts. The accounts' settings announce an account
    // whose password is known (just added, read from the secret store at
    // start-up, or typed again) and one removed; the sync announces a
    // password the server refused, to be asked for once.
    void accountReady(const QString& accountId, const QString& password);
    void accountRemoved(const QString& accountId);
    void accountPasswordRefused(const QString& accountId);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    // Called by the constructor: the item store's controller and the
    // handlers of its actions.
    void ConnectItems();
    std::unique_ptr<TReadStateController> FItems;
    void CreateMenus();
    void CreateWidgets();
    void CreateTrayIcon();
    void FormCreate();
    // Loads config.xml into the option store; raises an error naming the
    // file and the reason when it does not load.
    void LoadConfigFile();
    // A feed node for an element, with its icon and caption, not yet in
    // the tree.
    std::unique_ptr<QTreeWidgetItem> NewFeedNode(xml::Node item);
    std::unique_ptr<QTreeWidgetItem> NewFolderNode(xml::Node folder);
    // Builds the nodes of a container element's feeds and folders under
    // `parent`, indexing the feeds.
    void BuildNodes(QTreeWidgetItem* parent, const xml::Node& container);
    // Opens the folders under `node` as their elements say.
    void RestoreExpansion(QTreeWidgetItem* node);
    // Brings the captions of the folders above `node` up to date.
    void UpdateFolderCaptions(QTreeWidgetItem* node);
    // The node of the list or of a <folder> element, its folder nodes made
    // where they are missing.
    QTreeWidgetItem* NodeForContainer(const xml::Node& container);
    // Makes the nodes of feeds just appended to the list (and of the folders
    // made for them), entering each parent's new rows in one go.
    void AttachNewFeeds(const std::vector<xml::Node>& items);
    // Set while the filter opens folders, which must not be remembered.
    bool FFiltering = false;
    QIcon FFolderIcon;
    // Enters a node of the tree into the id lookup.
    void RememberFeedNode(QTreeWidgetItem* node);
    // Drops a node that is about to be deleted from the id lookup.
    void ForgetFeedNode(QTreeWidgetItem* node, const std::string& id);
    // Stores the window's size and the tree's width.
    void FormClose();
    void RestoreGeometry();
    // Appends a new <item> (attributes in their stored order) with the next
    // id to `container` (the feed list when null) and advances the counter.
    // Many feeds in a row take their ids from one `ids`.
    xml::Node AppendFeedElement(const std::string& url, const std::string& caption, xml::Node container = {},
                                feedlist::TFeedIds* ids = nullptr);
    // Runs a user-interface handler; an error is shown in a message box
    // instead of escaping into the event loop.
    template <typename F>
    void Guarded(F&& handler) {
        try {
            handler();
        } catch (const std::exception& error) {
            ShowHandlerError(error);
        }
    }
    void ShowHandlerError(const std::exception& error);

    std::unique_ptr<TOptions> FOptions;
    // The Add Feed dialog while it is open.
    QPointer<TFormAddFeed> FAddFeedDialog;
    QIcon FFeedIcon;
    QIcon FRootIcon;
    // An icon of the feed tree, drawn once at the tree's icon size.
    QIcon TreeIcon(const QString& path) const;
    // The feed nodes by their element's id, kept by AddFeedNode, DeleteFeed
    // and LoadFeedList.
    std::unordered_map<std::string, QTreeWidgetItem*> FFeedNodes;
    // Ids more than one node was given (a hand-edited list).
    std::set<std::string> FRepeatedFeedIds;
    // Changes whenever the tree's rows or a feed's own interval or address
    // change: the polling thread reads the feed list again only then.
    std::uint64_t FFeedListVersion = 0;
    bool FStartInTray = false;
    bool FStartMaximized = false;
    bool FClosed = false;
    // Shown at start-up and not on screen yet: polling waits for it.
    bool FAwaitingExposure = false;
    // Called by the constructor once the parts it uses exist.
    void ConnectUpdates();
    std::unique_ptr<TUpdateController> FUpdates;
    // The window being shown is on screen: polling starts right after this
    // event, once the window has painted.
    void StartUpdateThreadAfterPaint();
};
