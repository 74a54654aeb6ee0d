// The main window: a shell that lays out the tree, the reading pane, menus,
// toolbar, status bar and tray icon, makes the actions and wires the parts
// of src/app to each other. It starts them in a fixed order and stops them
// in the reverse one: polling first, the option store (saving config.xml)
// last.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "MainActions.h"
#include "Options.h"

class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QSplitter;
class QStatusBar;
class QToolBar;
class QTreeWidgetItem;
namespace feedlist {
class TFeedList;
class TStoredFeedList;
}  // namespace feedlist
class TAccountController;
class TArticleController;
class TConfigSaver;
class TFeedHealthController;
class TFeedListController;
class TFeedPageController;
class TFeedPropertiesController;
class TFeedTree;
class TFormAddFeed;
class TNotifyController;
class TReadingPane;
class TReadStateController;
class TShortcutController;
class TStarController;
class TTrayController;
class TTrayIcon;
class TUpdateController;

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // A failed start (no language, a missing or malformed config.xml)
    // raises an error naming the file and the reason, and writes nothing.
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    // Maximised, normal, or only the tray icon (general\StartTrayIcon).
    void ShowAtStartup();

    TOptions& Options() { return *FOptions; }
    // The parts. The feed tree, the view of the feed list:
    TFeedTree& Tree() const { return *FTree; }
    // Adding, deleting and moving feeds and folders, OPML in and out.
    TFeedListController& Feeds() const { return *FFeeds; }
    // Polling, manual updates, Update All and the feed rows' update state.
    TUpdateController& Updates() { return *FUpdates; }
    // items.db: read state, next unread, Find in Feeds.
    TReadStateController& Items() { return *FItems; }
    // Feed-server accounts: their settings, syncs and changes for the server.
    TAccountController& Accounts() { return *FAccounts; }
    const TMainActions& Actions() const { return FActions; }

    // The feed list, the one source of the tree, the counts and config.xml.
    feedlist::TFeedList& FeedList() const { return *FFeedList; }
    // What was pasted, dropped or handed over: an address (Add Feed), an
    // OPML file (imported) or a feed file (its own address).
    void TakeAddressOrFile(const QString& text);
    // Panel 0 carries the update messages, panel 1 the pane's status text.
    void SetStatusText(int panel, const QString& text);
    QString StatusText(int panel) const;

    // ---- Components, named as the language files name them ----
    QMenuBar* MainMenu = nullptr;
    QMenu *FileMenu = nullptr, *FeedMenu = nullptr, *LanguageMenu = nullptr, *HelpMenu = nullptr;
    QMenu *PopupMenuFeedList = nullptr, *PopupMenuTrayIcon = nullptr;
    QMenu *MenuMoveTo = nullptr, *MenuMoveToAccount = nullptr;
    QToolBar* ToolBar = nullptr;
    QSplitter* SplitterV = nullptr;
    QLineEdit* FeedFilter = nullptr;
    TReadingPane* ReadingPane = nullptr;
    QStatusBar* StatusBar = nullptr;
    QLabel *StatusPanel0 = nullptr, *StatusPanel1 = nullptr;
    TTrayIcon* TrayIcon = nullptr;

signals:
    void feedDeleted(QString id);  // before its row and element go
    // An update was applied; `message` is the status text it left.
    void feedUpdateFinished(QString id, QString message);
    void formClosed();  // the window has closed and stored its state

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Layout (fMainLayout.cpp).
    void CreateActions();
    void CreateMenus();
    void CreateWidgets();
    void CreateTrayIcon();
    // Each part made and wired to the others; called by the constructor.
    void ConnectFeedList();       // fMainFolders.cpp
    void ConnectItems();          // fMainItems.cpp
    void ConnectNotifications();  // fMainNotify.cpp
    void ConnectPage();           // fMainDisplay.cpp
    void ConnectUpdateAndDisplay();
    void ConnectFeedHealth();      // fMainHealth.cpp
    void ConnectUpdates();         // fMainUpdate.cpp
    void CreateConfigSaver();      // fMainSave.cpp
    void ConnectFeedProperties();  // fMainProperties.cpp
    void ConnectAccounts();        // fMainAccounts.cpp
    void ConnectArticles();        // fMainArticles.cpp
    void ConnectPane();            // fMainPane.cpp
    void ConnectStars();           // fMainStars.cpp

    // Start-up and closing (fMain.cpp).
    void FormCreate();
    void LoadConfigFile();  // raises an error naming the file and the reason
    void LoadFeedList();    // the list read from config.xml again
    void RestoreGeometry();
    void FormClose();  // stores the window's size and the tree's width
    // On screen at last: polling starts once the window has painted.
    void StartUpdateThreadAfterPaint();
    void OnLanguageChange();
    // Runs a handler; an error goes to a message box, not the event loop.
    template <typename F>
    void Guarded(F&& handler) {
        try {
            handler();
        } catch (const std::exception& error) {
            ShowHandlerError(error);
        }
    }
    void ShowHandlerError(const std::exception& error);

    // What the actions and the tree ask of the window (fMain.cpp).
    void ActionAddFeedExecute();
    void ActionDeleteFeedExecute();
    // A feed's properties dialog; a folder is renamed in place.
    void ActionEditFeedExecute();
    void ActionRenameFeedExecute();
    void ActionCopyURLExecute();
    void ActionImportOPMLExecute();
    void ActionExportOPMLExecute();
    void ActionOptionsExecute();
    void ActionNewFolderExecute();  // fMainFolders.cpp
    void ActionAccountsExecute();   // fMainAccounts.cpp
    // The Add Feed dialog, looking for the feeds of `address` at once.
    void OpenAddFeedDialog(const QString& address);
    void TreeViewChange(QTreeWidgetItem* node);
    void SplitterVMoved();                           // status panel 0 as wide as the tree
    void ShowFeed(QTreeWidgetItem* node);            // fMainDisplay.cpp
    void OpenFeedProperties(QTreeWidgetItem* node);  // fMainProperties.cpp
    void ScheduleConfigSave();                       // fMainSave.cpp

    static constexpr int kDefaultWidth = 653, kDefaultHeight = 540, kDefaultTreeWidth = 200;
    std::unique_ptr<TOptions> FOptions;
    std::unique_ptr<feedlist::TFeedList> FFeedList;
    std::unique_ptr<feedlist::TStoredFeedList> FStoredList;
    TMainActions FActions;
    TFeedTree* FTree = nullptr;
    std::unique_ptr<TFeedListController> FFeeds;
    std::unique_ptr<TReadStateController> FItems;
    std::unique_ptr<TUpdateController> FUpdates;
    std::unique_ptr<TAccountController> FAccounts;
    TNotifyController* FNotify = nullptr;
    TFeedHealthController* FFeedHealth = nullptr;
    TFeedPageController* FPage = nullptr;
    TArticleController* FArticles = nullptr;
    TStarController* FStars = nullptr;
    TTrayController* FTray = nullptr;
    TFeedPropertiesController* FProperties = nullptr;
    TConfigSaver* FConfigSaver = nullptr;
    TShortcutController* FShortcuts = nullptr;
    QPointer<TFormAddFeed> FAddFeedDialog;  // while it is open
    bool FStartInTray = false;
    bool FStartMaximized = false;
    bool FClosed = false;
    // Shown at start-up and not on screen yet: polling waits for it.
    bool FAwaitingExposure = false;
};
