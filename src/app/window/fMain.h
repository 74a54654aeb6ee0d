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
#include "FeedListController.h"
#include "FeedTree.h"
#include "TrayIcon.h"
#include "XmlDom.h"

class TUpdateThread;
class TFeedUpdate;
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
class TUpdateAll;
class TAccountController;
class QTimer;
namespace feed {
class TFeedDocument;
}

namespace opml {
struct Outline;
}

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
    // The feed tree, the view of the feed list.
    TFeedTree& Tree() const { return *FTree; }

    // ---- Feed list ----
    // Adding, deleting and moving feeds and folders, OPML in and out.
    TFeedListController& Feeds() const { return *FFeeds; }
    void LoadFeedList();
    // The Add Feed dialog, looking for the feeds of `address` at once when
    // one is given (pasted, dropped, handed over from outside).
    void OpenAddFeedDialog(const QString& address);
    // What was pasted, dropped or handed over: an address opens the Add Feed
    // dialog with it, an OPML file is imported, a feed file is subscribed to
    // by the address it names.
    void TakeAddressOrFile(const QString& text);
    // Where a new or imported feed may go: this computer (first) and every
    // account, with the names a choice shows and the one the selection is in.
    struct TFeedTargets {
        QStringList Names;
        std::vector<QTreeWidgetItem*> Nodes;  // the root, then the accounts' nodes
        int Current = 0;
    };
    TFeedTargets FeedTargets() const;
    // Asks how a folder is deleted: 0 cancels, 1 keeps its contents (they
    // move up), 2 deletes them too. Tests replace it.
    std::function<int(QTreeWidgetItem* folder)> AskDeleteFolder;
    void ActionNewFolderExecute();
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

    // ---- Update cycle and display (fMainUpdate.cpp, fMainDisplay.cpp) ----
    // Called once by the constructor after every component exists and
    // before FormCreate: connects the handlers of this block (update,
    // show/hide, help, tray icon clicks, browser events).
    void ConnectUpdateAndDisplay();
    // Downloads one feed, stores its copy and updates its element and node.
    // On the user-interface thread: the download runs on a worker while
    // events (the polling thread's among them) go on being processed, with
    // the busy cursor showing.
    void UpdateFeed(QTreeWidgetItem* node);
    // The parts of an update that run on the user-interface thread, each in
    // one go: preparing it (what to fetch, nothing visible), its start (the
    // display text, "UpdatingFeed") and its result (caption, unread count,
    // balloon, node, stored copy, display, lastupdate, "UpdatedFeed" or
    // "FailedFeed"). BeginFeedUpdate prepares and starts.
    std::shared_ptr<TFeedUpdate> PrepareFeedUpdate(QTreeWidgetItem* node);
    void StartFeedUpdate(TFeedUpdate& update);
    std::shared_ptr<TFeedUpdate> BeginFeedUpdate(QTreeWidgetItem* node);
    void FinishFeedUpdate(TFeedUpdate& update);
    // How many times the stored copy of a feed was written or removed.
    unsigned StoredCopyWrites(const std::string& id) const;
    // general\SecureFeeds: whether https addresses may be fetched.
    bool SecureFeedsOption();
    // general\UpdateInterval in seconds; 60 when it is not a number.
    int UpdateIntervalSeconds();
    // general\Polling says "automatic": each feed at its own rhythm.
    bool AutomaticPolling();
    // The polling thread: started at the end of start-up, stopped and joined
    // before the option store is destroyed.
    void StartUpdateThread();
    void StopUpdateThread();
    // Starts the polling thread from the event loop: at once, or as soon as
    // a window being shown is on screen.
    void StartUpdateThreadSoon();
    // The window being shown is on screen: polling starts right after this
    // event, once the window has painted.
    void StartUpdateThreadAfterPaint();
    // Starts the polling thread unless it was stopped (or started) since
    // StartUpdateThreadSoon.
    void StartPendingUpdateThread();

    void ActionUpdateFeedExecute();

    std::shared_ptr<TUpdateThread> FUpdateThread;
    // Manual updates in progress (by feed id), so that the same feed is not
    // fetched twice at once and exit can cancel their downloads.
    std::map<std::string, std::weak_ptr<TFeedUpdate>> FManualUpdates;
    // Counts StopUpdateThread calls: a manual update that sees it change
    // while it downloads drops its result (the window is closing).
    unsigned FUpdateStops = 0;
    // Counts the writes and removals of each feed's stored copy (by id), so
    // an update can tell whether the copy it read while downloading is
    // still the current one.
    std::unordered_map<std::string, unsigned> FStoredCopyWrites;

    // ---- Feed state, back-off and "update all" (fMainUpdate.cpp) ----
    QAction* ActionUpdateAll = nullptr;
    // Fetches every feed now, several at a time; the results are applied
    // in list order. Does nothing while a pass is running.
    void ActionUpdateAllExecute();
    // The same pass over the feeds under one node (a folder's Update Feed).
    void UpdateAllUnder(QTreeWidgetItem* node);
    std::unique_ptr<TUpdateAll> FUpdateAll;
    // True from the preparation of an update of this feed (by the polling
    // thread, a manual update or "update all") until its download has
    // ended or it was abandoned: nobody starts a second download of it then.
    bool FeedDownloading(const std::string& id) const;
    // The feeds of FeedDownloading, by id; user-interface thread only.
    std::unordered_map<std::string, std::weak_ptr<TFeedUpdate>> FDownloads;
    // The server asked (429 or 503 with Retry-After) not to be polled for
    // this feed before this time; a manual update still fetches at once.
    std::unordered_map<std::string, std::chrono::system_clock::time_point> FRetryAfter;
    // True while the polling thread is to pass this feed by.
    bool PollingDeferred(const std::string& id) const;
    // The row of a feed node shows its update state: busy while an update
    // of it is under way, the failure icon and a tooltip with the failure
    // text and its time after a failed update, until the next success.
    void MarkFeedBusy(QTreeWidgetItem* node, bool busy);
    void MarkFeedFailed(QTreeWidgetItem* node, const std::string& failure);
    void MarkFeedUpdated(QTreeWidgetItem* node);
    void ShowFeedState(QTreeWidgetItem* node);
    // The result of an update the server answered with "not modified".
    void ApplyNotModified(QTreeWidgetItem* node, TFeedUpdate& update);
    QIcon FBusyFeedIcon;
    QIcon FFailedFeedIcon;
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

    // ---- Feed-server accounts (fMainAccounts.cpp) ----
    // Their settings, syncs and changes for the server; the window keeps
    // File > Accounts and the "Move to Account" menu.
    TAccountController& Accounts() { return *FAccounts; }
    QAction* ActionAccounts = nullptr;
    QMenu* MenuMoveToAccount = nullptr;
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

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    // Called by the constructor: the item store's controller and the
    // handlers of its actions.
    void ConnectItems();
    std::unique_ptr<TReadStateController> FItems;
    // Called by the constructor: the accounts' controller wired to the tree,
    // File > Accounts and the password prompt.
    void ConnectAccounts();
    std::unique_ptr<TAccountController> FAccounts;
    void ActionAccountsExecute();
    // "Move to Account": the accounts a local feed or folder can go to.
    void FillMoveToAccountMenu();
    // Set while an OPML file is imported: a second import waits its turn.
    void CreateMenus();
    void CreateWidgets();
    // Called by the constructor: the feed list's controller and its host.
    void ConnectFeedList();
    void CreateTrayIcon();
    void FormCreate();
    // Loads config.xml into the option store; raises an error naming the
    // file and the reason when it does not load.
    void LoadConfigFile();
    // Stores the window's size and the tree's width.
    void FormClose();
    void RestoreGeometry();
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
    TFeedTree* FTree = nullptr;
    std::unique_ptr<TFeedListController> FFeeds;
    // The Add Feed dialog while it is open.
    QPointer<TFormAddFeed> FAddFeedDialog;
    bool FStartInTray = false;
    bool FStartMaximized = false;
    bool FClosed = false;
    // Shown at start-up and not on screen yet: polling waits for it.
    bool FAwaitingExposure = false;
    // StartUpdateThreadSoon was called and neither a start nor a stop
    // has happened since.
    bool FUpdateThreadPending = false;
};
