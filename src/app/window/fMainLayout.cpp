// The main window's layout: its actions, menus, toolbar, the feed column
// (filter and tree), the reading pane, the status bar and the tray icon.
#include "fMain.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <functional>

#include "AccountController.h"
#include "AccountList.h"
#include "AppInfo.h"
#include "Convert.h"
#include "CountDelegate.h"
#include "FeedPageController.h"
#include "FeedListController.h"
#include "FeedTree.h"
#include "FocusCycle.h"
#include "ReadStateController.h"
#include "ReadingPane.h"
#include "SpokenStatus.h"
#include "StarController.h"
#include "StatusLabel.h"
#include "TreeContextMenu.h"
#include "TrayIcon.h"
#include "fAbout.h"
#include "uvxLanguage.h"
#include "QtText.h"

namespace {

using plat::Q;

// Label editing hands the confirmed text to `edited` instead of writing it
// into the model, so the caption goes to the feed list.
class TCaptionEditDelegate : public TCountDelegate {
public:
    using TEdited = std::function<void(const feedlist::TListEntry* entry, const QString& text)>;
    TCaptionEditDelegate(TFeedTree* tree, TEdited edited)
        : TCountDelegate(tree), FTree(tree), FEdited(std::move(edited)) {}

    void setModelData(QWidget* editor, QAbstractItemModel* /*model*/, const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        QTreeWidgetItem* node = FTree->itemFromIndex(index);
        if (line && node) FEdited(TFeedTree::EntryOf(node), line->text());
    }

private:
    TFeedTree* FTree;
    TEdited FEdited;
};

}  // namespace

void TFormMain::CreateActions() {
    FActions = TMainActions::Make(this);
    connect(FActions.AddFeed, &QAction::triggered, this, [this] { ActionAddFeedExecute(); });
    connect(FActions.DeleteFeed, &QAction::triggered, this, [this] { ActionDeleteFeedExecute(); });
    connect(FActions.EditFeed, &QAction::triggered, this, [this] { ActionEditFeedExecute(); });
    connect(FActions.RenameFeed, &QAction::triggered, this, [this] { ActionRenameFeedExecute(); });
    connect(FActions.CopyURL, &QAction::triggered, this, [this] { ActionCopyURLExecute(); });
    connect(FActions.ImportOPML, &QAction::triggered, this, [this] { ActionImportOPMLExecute(); });
    connect(FActions.ExportOPML, &QAction::triggered, this, [this] { ActionExportOPMLExecute(); });
    connect(FActions.Options, &QAction::triggered, this, [this] { ActionOptionsExecute(); });
    connect(FActions.Exit, &QAction::triggered, this, [this] { close(); });
    connect(FActions.About, &QAction::triggered, this, [this] {
        Guarded([this] {
            TAboutBox dialog(this);
            dialog.exec();
        });
    });
    // A failure of the desktop to open the page is not an error of ours.
    connect(FActions.HomePage, &QAction::triggered, this,
            [this] { FPage->OpenExternally(QUrl(QString::fromUtf8(kHomePageURL))); });
    connect(FActions.Support, &QAction::triggered, this,
            [this] { FPage->OpenExternally(QUrl(QString::fromUtf8(kSupportURL))); });
    connect(FActions.NewFolder, &QAction::triggered, this, [this] { ActionNewFolderExecute(); });
    connect(FActions.FilterFeeds, &QAction::triggered, this, [this] {
        FeedFilter->setFocus(Qt::ShortcutFocusReason);
        FeedFilter->selectAll();
    });
}

void TFormMain::CreateMenus() {
    // Menus are children of the window itself, so the language file finds
    // them by name right below FormMain.
    auto make = [this](const char* name, const QString& title) {
        auto* menu = new QMenu(title, this);
        menu->setObjectName(name);
        return menu;
    };
    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName("MainMenu");
    setMenuBar(MainMenu);

    FileMenu = make("File1", "&File");
    FileMenu->addAction(FActions.ShowQuillet);
    FileMenu->addAction(FActions.HideQuillet);
    FileMenu->addAction(FActions.Options);
    FileMenu->addSeparator();
    FileMenu->addAction(FActions.ExportStarred);
    FileMenu->addSeparator();
    FileMenu->addAction(FActions.Exit);

    FeedMenu = make("Feed1", "F&eed");
    FeedMenu->addAction(FActions.AddFeed);
    FeedMenu->addAction(FActions.DeleteFeed);
    FeedMenu->addAction(FActions.EditFeed);
    FeedMenu->addAction(FActions.RenameFeed);
    FeedMenu->addAction(FActions.UpdateFeed);
    FeedMenu->addAction(FActions.UpdateAll);
    FeedMenu->addAction(FActions.CopyURL);
    FeedMenu->addSeparator();
    FeedMenu->addAction(FActions.MarkRead);
    FeedMenu->addAction(FActions.MarkAllRead);
    FeedMenu->addAction(FActions.MarkUnread);
    FeedMenu->addAction(FActions.NextUnread);
    FeedMenu->addAction(FActions.FindInFeeds);
    FeedMenu->addAction(FActions.StarItem);
    FeedMenu->addSeparator();
    MenuMoveTo = make("MenuMoveTo", "Move To");
    connect(MenuMoveTo, &QMenu::aboutToShow, this, [this] { FFeeds->FillMoveToMenu(*MenuMoveTo); });
    MenuMoveToAccount = make("MenuMoveToAccount", "Move to Account");
    // The accounts a feed of this computer can move to.
    connect(MenuMoveToAccount, &QMenu::aboutToShow, this, [this] {
        MenuMoveToAccount->clear();
        QTreeWidgetItem* moving = FTree->currentItem();
        if (!moving || moving == FTree->RootNode() ||
            !TAccountController::AccountIdOf(TFeedTree::EntryOf(moving)).empty())
            return;
        for (const feedlist::TListEntry* folder : accountlist::AccountFolders(*FFeedList)) {
            const feedlist::TListEntry* account = folder;
            QAction* action = MenuMoveToAccount->addAction(Q(folder->Caption()));
            connect(action, &QAction::triggered, this, [this, moving, account] {
                Guarded([&] { FFeeds->MoveNode(TFeedTree::EntryOf(moving), account); });
            });
        }
    });
    MenuMoveToAccount->menuAction()->setVisible(false);
    FeedMenu->addAction(FActions.NewFolder);
    FeedMenu->addMenu(MenuMoveTo);
    FeedMenu->addMenu(MenuMoveToAccount);
    FeedMenu->addAction(FActions.FilterFeeds);
    FeedMenu->addSeparator();
    FeedMenu->addAction(FActions.ImportOPML);
    FeedMenu->addAction(FActions.ExportOPML);

    LanguageMenu = make("LanguageMenu", "&Language");

    HelpMenu = make("Help1", "&Help");
    HelpMenu->addAction(FActions.HomePage);
    HelpMenu->addAction(FActions.About);

    for (QMenu* menu : {FileMenu, FeedMenu, LanguageMenu, HelpMenu}) MainMenu->addMenu(menu);

    PopupMenuFeedList = make("PopupMenuFeedList", QString());
    PopupMenuFeedList->addAction(FActions.AddFeed);
    PopupMenuFeedList->addAction(FActions.DeleteFeed);
    PopupMenuFeedList->addAction(FActions.EditFeed);
    PopupMenuFeedList->addAction(FActions.UpdateFeed);
    PopupMenuFeedList->addAction(FActions.CopyURL);
    PopupMenuFeedList->addAction(FActions.RenameFeed);
    PopupMenuFeedList->addSeparator();
    PopupMenuFeedList->addAction(FActions.MarkRead);
    PopupMenuFeedList->addAction(FActions.MarkUnread);
    PopupMenuFeedList->addAction(FActions.MarkAllRead);
    PopupMenuFeedList->addSeparator();
    PopupMenuFeedList->addAction(FActions.NewFolder);
    PopupMenuFeedList->addMenu(MenuMoveTo);
    PopupMenuFeedList->addMenu(MenuMoveToAccount);

    PopupMenuTrayIcon = make("PopupMenuTrayIcon", QString());
    PopupMenuTrayIcon->addAction(FActions.ShowQuillet);
    PopupMenuTrayIcon->addAction(FActions.HideQuillet);
    PopupMenuTrayIcon->addAction(FActions.UpdateAll);
    PopupMenuTrayIcon->addAction(FActions.MarkAllRead);
    PopupMenuTrayIcon->addAction(FActions.Options);
    PopupMenuTrayIcon->addAction(FActions.About);
    PopupMenuTrayIcon->addSeparator();
    PopupMenuTrayIcon->addAction(FActions.Exit);
}

void TFormMain::CreateWidgets() {
    ToolBar = new QToolBar(this);
    ToolBar->setObjectName("ToolBar");
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setIconSize(QSize(32, 32));
    ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ToolBar->toggleViewAction()->setVisible(false);
    ToolBar->addAction(FActions.AddFeed);
    ToolBar->addAction(FActions.EditFeed);
    ToolBar->addAction(FActions.UpdateFeed);
    ToolBar->addAction(FActions.UpdateAll);
    ToolBar->addAction(FActions.NextUnread);
    ToolBar->addAction(FActions.DeleteFeed);
    ToolBar->addSeparator();
    ToolBar->addAction(FActions.Options);
    addToolBar(Qt::TopToolBarArea, ToolBar);

    SplitterV = new QSplitter(Qt::Horizontal, this);
    SplitterV->setObjectName("SplitterV");
    SplitterV->setChildrenCollapsible(false);

    // The filter field above the tree; both in one column of the splitter.
    auto* feedColumn = new QWidget(SplitterV);
    feedColumn->setObjectName("FeedColumn");
    auto* columnLayout = new QVBoxLayout(feedColumn);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);
    FeedFilter = new QLineEdit(feedColumn);
    FeedFilter->setObjectName("FeedFilter");
    FeedFilter->setClearButtonEnabled(true);
    FeedFilter->installEventFilter(this);
    connect(FeedFilter, &QLineEdit::textChanged, this, [this](const QString& text) { FTree->SetFeedFilter(text); });
    columnLayout->addWidget(FeedFilter);

    auto* tree = new TFeedTree(feedColumn);
    FTree = tree;
    tree->Follow(FFeedList.get());
    columnLayout->addWidget(tree);
    tree->OnFeedCaptionShown = [this](const feedlist::TFeedEntry& feed) {
        if (FItems) FItems->FollowShownCaption(feed);
    };
    tree->OnMove = [this](QTreeWidgetItem* node, QTreeWidgetItem* parent, int index) {
        Guarded([&] { FFeeds->MoveNode(TFeedTree::EntryOf(node), TFeedTree::EntryOf(parent), index); });
    };
    tree->setDragEnabled(true);
    tree->setAcceptDrops(true);
    tree->setDropIndicatorShown(true);
    tree->setDragDropMode(QAbstractItemView::DragDrop);
    tree->setDefaultDropAction(Qt::MoveAction);
    tree->OnDropFromOutside = [this](const QString& text) { TakeAddressOrFile(text); };
    // Paste on the feed list: the Add Feed dialog with the pasted address.
    auto* paste = new QAction(tree);
    paste->setObjectName("ActionPasteAddress");
    paste->setShortcut(QKeySequence::Paste);
    paste->setShortcutContext(Qt::WidgetShortcut);
    connect(paste, &QAction::triggered, this, [this] { TakeAddressOrFile(QGuiApplication::clipboard()->text()); });
    tree->addAction(paste);
    FTree->setObjectName("TreeView");
    FTree->setColumnCount(1);
    FTree->setHeaderHidden(true);
    // Folders open and close by their arrows; the root's is left out.
    FTree->setRootIsDecorated(false);
    FTree->setItemsExpandable(true);
    FTree->setIndentation(19);
    // Every row has the same icon and font size; without this the tree
    // measures each of possibly thousands of rows on every layout (at
    // start-up and after each caption change).
    FTree->setUniformRowHeights(true);
    FTree->setFrameShape(QFrame::NoFrame);
    FTree->setMinimumWidth(30);
    FTree->setSelectionMode(QAbstractItemView::SingleSelection);
    FTree->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    auto* captionEditor =
        new TCaptionEditDelegate(tree, [this](const feedlist::TListEntry* entry, const QString& text) {
            Guarded([&] { FFeeds->Rename(entry, text); });
        });
    FTree->setItemDelegate(captionEditor);
    connect(captionEditor, &QAbstractItemDelegate::closeEditor, this,
            [this](QWidget*, QAbstractItemDelegate::EndEditHint hint) {
                // Once the view has left its editing state. A confirmed name
                // is shown as typed; only the style follows the count then.
                QTimer::singleShot(0, this, [this, hint] {
                    QTreeWidgetItem* node = FTree->currentItem();
                    if (TFeedTree::IsFolderNode(node)) {
                        FTree->UpdateNodeCaption(node);
                        return;
                    }
                    const feedlist::TFeedEntry* feed = TFeedTree::FeedOf(node);
                    if (!feed) return;
                    FTree->UpdateNodeCaption(node);
                    const std::string caption = feed->Caption;
                    if (hint != QAbstractItemDelegate::RevertModelCache && !caption.empty())
                        node->setText(0, Q(caption));
                });
            });
    FTree->addAction(FActions.RenameFeed);
    FTree->addAction(FActions.DeleteFeed);
    FTree->installEventFilter(this);
    new TTreeContextMenu(
        *FTree, *PopupMenuFeedList, [](const QTreeWidgetItem* row) { return TStarController::IsStarredRow(row); },
        [this](const std::function<void()>& handler) { Guarded(handler); });
    // A folder's open or closed state is kept, but not the opening done by
    // the filter or by loading.
    auto keepExpansion = [this](QTreeWidgetItem* node, bool expanded) {
        if (FTree->Filtering() || !TFeedTree::IsFolderNode(node)) return;
        const feedlist::TListEntry& folder = *TFeedTree::EntryOf(node);
        if (folder.Folder().Expanded == expanded) return;
        FFeedList->UpdateFolder(folder, [expanded](feedlist::TFolderEntry& entry) { entry.Expanded = expanded; });
        ScheduleConfigSave();
    };
    connect(FTree, &QTreeWidget::itemExpanded, this,
            [keepExpansion](QTreeWidgetItem* node) { keepExpansion(node, true); });
    connect(FTree, &QTreeWidget::itemCollapsed, this,
            [keepExpansion](QTreeWidgetItem* node) { keepExpansion(node, false); });
    connect(FTree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { Guarded([&] { TreeViewChange(current); }); });

    ReadingPane = new TReadingPane(SplitterV);
    ReadingPane->setObjectName("WebBrowser");

    // F6 round the filter, the tree and the pane; Tab and Escape out of it.
    new TFocusCycle(this, FeedFilter, FTree, ReadingPane);

    SplitterV->addWidget(feedColumn);
    SplitterV->addWidget(ReadingPane);
    // The tree keeps its width when the window is resized.
    SplitterV->setStretchFactor(0, 0);
    SplitterV->setStretchFactor(1, 1);
    SplitterV->setSizes({kDefaultTreeWidth, kDefaultWidth - kDefaultTreeWidth});
    setCentralWidget(SplitterV);
    connect(SplitterV, &QSplitter::splitterMoved, this, [this] { SplitterVMoved(); });

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName("StatusBar");
    StatusPanel0 = new TStatusLabel(StatusBar);
    StatusPanel0->setObjectName("StatusPanel0");
    StatusPanel0->setFixedWidth(kDefaultTreeWidth);
    // One line high, whatever the text: a label whose size can change makes
    // every new text (two per feed update) lay out the whole window again.
    // A longer message is shortened in the middle and shown whole on
    // hovering.
    StatusPanel0->setFixedHeight(StatusPanel0->fontMetrics().height());
    StatusPanel1 = new TStatusLabel(StatusBar);
    StatusPanel1->setObjectName("StatusPanel1");
    StatusPanel1->setMinimumWidth(50);
    StatusBar->addWidget(StatusPanel0);
    StatusBar->addWidget(StatusPanel1, 1);
    // What a screen reader is told unasked; found by TSpokenStatus::Of.
    new TSpokenStatus(StatusBar);
    setStatusBar(StatusBar);
}

void TFormMain::CreateTrayIcon() {
    TrayIcon = new TTrayIcon(this);
    TrayIcon->setObjectName("TrayIcon");
    TrayIcon->SetIconList({QIcon(":/icons/quillet.svg")});
    TrayIcon->SetIconIndex(0);
    TrayIcon->SetHint(windowTitle());
    TrayIcon->SetPopupMenu(PopupMenuTrayIcon);
    TrayIcon->SetMinimizeToTray(true);
}
