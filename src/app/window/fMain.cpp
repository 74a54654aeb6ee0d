// The main window: start-up, shutdown, window state and the feed list.
// The update cycle and the feed display live in fMainUpdate.cpp and
// fMainDisplay.cpp.
#include "fMain.h"

#include "AccountList.h"
#include "AccountSyncRunner.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <fstream>
#include <sstream>
#include <QVBoxLayout>
#include <QFileDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QInputDialog>
#include <QKeySequence>
#include <QLineEdit>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "AppInfo.h"
#include "BesideWindow.h"
#include "Convert.h"
#include "DateTime.h"
#include "FeedPageController.h"
#include "FeedDocument.h"
#include "FeedHealthController.h"
#include "FeedUpdate.h"
#include "Address.h"
#include "Discover.h"
#include "FeedList.h"
#include "Opml.h"
#include "ReadStateController.h"
#include "StatusLabel.h"
#include "UpdateController.h"
#include "fAbout.h"
#include "fAddFeed.h"
#include "fOptions.h"
#include "uvxLanguage.h"

namespace {

constexpr int kDefaultWidth = 653;
constexpr int kDefaultHeight = 540;
constexpr int kDefaultTreeWidth = 200;
constexpr std::uint32_t kEnglishLCID = 1033;

const char* const kConfigFile = "config.xml";
// The configuration delivered with the program, copied to config.xml when a
// user starts without one.
const char* const kDefaultConfigFile = "config.default.xml";
const char* const kLanguagesFolder = "languages";

using feedlist::kCounterPath;
using feedlist::kItemsPath;
const char* const kLanguagePath = "internal\\language";
const char* const kWidthPath = "internal\\mainform\\Width";
const char* const kHeightPath = "internal\\mainform\\Height";
const char* const kTreeWidthPath = "internal\\mainform\\TreeViewWidth";
const char* const kStartTrayPath = "general\\StartTrayIcon";

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The channel title of a feed's stored copy; empty when the feed was never
// downloaded or its copy cannot be read.
std::string StoredChannelTitle(const std::string& id) {
    if (!IsValidFeedId(id) || !std::filesystem::exists(StoredCopyPath(id))) return {};
    try {
        feed::TFeedDocument copy;
        copy.LoadFromFile(StoredCopyPath(id));
        return copy.Channel().Required().Title();
    } catch (const std::exception&) {
        return {};
    }
}

// A file's bytes, or "" when it cannot be read; at most a feed's size.
std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamsize size = std::min<std::streamsize>(in ? static_cast<std::streamsize>(in.tellg()) : 0, 32 << 20);
    std::string text(static_cast<std::size_t>(std::max<std::streamsize>(0, size)), '\0');
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
    return text;
}

std::optional<int> ReadInt(const xml::Node& node) {
    try {
        return plat::TryStrToInt(node.Text());
    } catch (const std::exception&) {
        return std::nullopt;  // an element with element children
    }
}

// The tree, with its protected lookup from a model index to an item made
// reachable for the label editor below.
class TFeedTree : public QTreeWidget {
public:
    using QTreeWidget::itemFromIndex;
    using QTreeWidget::QTreeWidget;
    bool Editing() const { return state() == EditingState; }

    // A feed or folder dropped in the tree is moved by the window, which
    // moves its element too; the view itself moves nothing.
    std::function<void(QTreeWidgetItem* node, QTreeWidgetItem* parent, int index)> OnMove;
    // An address or file dropped from another program.
    std::function<void(const QString& text)> OnDropFromOutside;

protected:
    static bool FromOutside(const QDropEvent* event, const QObject* self) {
        return event->source() != self && (event->mimeData()->hasUrls() || event->mimeData()->hasText());
    }
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (FromOutside(event, this)) {
            event->acceptProposedAction();
            return;
        }
        QTreeWidget::dragEnterEvent(event);
    }
    void dragMoveEvent(QDragMoveEvent* event) override {
        if (FromOutside(event, this)) {
            event->acceptProposedAction();
            return;
        }
        QTreeWidget::dragMoveEvent(event);
    }
    void dropEvent(QDropEvent* event) override {
        if (FromOutside(event, this)) {
            const QMimeData* data = event->mimeData();
            const QString text = data->hasUrls() && !data->urls().isEmpty()
                                     ? (data->urls().front().isLocalFile() ? data->urls().front().toLocalFile()
                                                                           : data->urls().front().toString())
                                     : data->text();
            event->acceptProposedAction();
            if (OnDropFromOutside) QTimer::singleShot(0, this, [this, text] { OnDropFromOutside(text); });
            return;
        }
        QTreeWidgetItem* dragged = currentItem();
        QTreeWidgetItem* target = itemAt(event->position().toPoint());
        event->setDropAction(Qt::IgnoreAction);
        event->accept();
        if (!dragged || !OnMove) return;
        QTreeWidgetItem* parent = nullptr;
        int index = -1;
        switch (dropIndicatorPosition()) {
            case OnItem:
                if (target && target->type() == TFeedNode::kType) {
                    parent = target->parent();
                    index = parent->indexOfChild(target) + 1;
                } else {
                    parent = target;
                }
                break;
            case AboveItem:
            case BelowItem:
                if (!target || !target->parent()) {
                    parent = target;
                    index = dropIndicatorPosition() == AboveItem ? 0 : -1;
                } else {
                    parent = target->parent();
                    index = parent->indexOfChild(target) + (dropIndicatorPosition() == BelowItem ? 1 : 0);
                }
                break;
            case OnViewport:
                parent = topLevelItem(0);
                break;
        }
        if (parent) OnMove(dragged, parent, index);
    }
};

// Label editing hands the confirmed text to the window instead of writing it
// into the model, so the caption goes to the feed's element.
class TCaptionEditDelegate : public QStyledItemDelegate {
public:
    TCaptionEditDelegate(TFeedTree* tree, TFormMain* form) : QStyledItemDelegate(tree), FTree(tree), FForm(form) {}

    void setModelData(QWidget* editor, QAbstractItemModel* /*model*/, const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        QTreeWidgetItem* node = FTree->itemFromIndex(index);
        if (line && node) FForm->TreeViewEdited(node, line->text());
    }

private:
    TFeedTree* FTree;
    TFormMain* FForm;
};

// Asks how a folder goes: with its feeds, or leaving them a level up.
// 0 cancels, 1 keeps the feeds, 2 deletes them.
int AskHowToDeleteFolder(QWidget* parent, QTreeWidgetItem* folder) {
    const QString caption = folder->data(0, Qt::EditRole).toString();
    QMessageBox box(QMessageBox::Question, parent->windowTitle(),
                    LangFmtQ("DeleteFolderConfirm", {caption.toStdString()}), QMessageBox::Cancel, parent);
    QPushButton* keep = box.addButton(LangMsgQ("DeleteFolderKeepFeeds"), QMessageBox::AcceptRole);
    QPushButton* all = box.addButton(LangMsgQ("DeleteFolderWithFeeds"), QMessageBox::DestructiveRole);
    box.setDefaultButton(keep);
    box.exec();
    if (box.clickedButton() == keep) return 1;
    if (box.clickedButton() == all) return 2;
    return 0;
}

// Restores the default cursor however the guarded work ends.
class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

}  // namespace

// The icons are compiled into the static app library, whose resource
// registration the linker would otherwise drop.
static void InitIconResources() { Q_INIT_RESOURCE(app); }

// ---------------------------------------------------------------------------
// Construction and destruction

QIcon TFormMain::TreeIcon(const QString& path) const {
    // Painting a row asks its icon for its size and its pixmap; an SVG icon
    // answers both through its renderer and cache, which was half the cost
    // of painting a row. The tree's icons are drawn once, at the tree's
    // icon size for this screen and for a screen of twice the density.
    const QIcon drawing(path);
    const QSize size = TreeView->iconSize().isValid() ? TreeView->iconSize()
                                                      : QSize(style()->pixelMetric(QStyle::PM_SmallIconSize),
                                                              style()->pixelMetric(QStyle::PM_SmallIconSize));
    const qreal density = devicePixelRatioF();
    QIcon icon;
    icon.addPixmap(drawing.pixmap(size, density));
    if (density < 2) icon.addPixmap(drawing.pixmap(size, 2));
    return icon;
}

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent) {
    InitIconResources();
    setObjectName("FormMain");
    setWindowTitle("Veltrax Quillet");
    setWindowIcon(QIcon(":/icons/quillet.svg"));
    resize(kDefaultWidth, kDefaultHeight);
    move(0, 0);

    CreateActions();
    CreateMenus();
    CreateWidgets();
    // Every feed node shows the same icon: one shared icon instead of one
    // per node, each of which would parse the SVG again.
    FFeedIcon = TreeIcon(":/icons/feed.svg");
    FRootIcon = TreeIcon(":/icons/root.svg");
    FFolderIcon = TreeIcon(":/icons/folder.svg");
    CreateTrayIcon();
    ConnectItems();
    ConnectUpdateAndDisplay();
    ConnectFeedHealth();
    ConnectUpdates();
    ConnectAccountSync();
    CreateConfigSaver();
    ConnectFeedProperties();
    ConnectAccounts();

    try {
        FormCreate();
    } catch (...) {
        // The catalogue outlives this window: it must not call back into it.
        GlobalLanguage().SetOnChange(nullptr);
        FUpdates->Stop();
        // A start that failed half-way writes nothing back.
        if (FOptions) FOptions->ConfigDocument().SetAutoSave(false);
        throw;
    }
}

TFormMain::~TFormMain() {
    GlobalLanguage().SetOnChange(nullptr);
    // The children outlive this part of the window: their last signals
    // (the tree losing its current item) must not reach handlers that use
    // the option store.
    for (QObject* child : std::initializer_list<QObject*>{TreeView, SplitterV, ReadingPane, TrayIcon})
        if (child) child->blockSignals(true);
    // The polling thread works on the tree and the option store: it goes
    // first. Then the option store, which writes a modified config.xml.
    FUpdates->Stop();
    FFeedHealth->Save();
    StopAccountSyncs();
    // After the updates, which write to it; waits for its opening.
    FItems->CloseBase();
    SaveConfigOnClose();
    FOptions.reset();
}

void TFormMain::CreateActions() {
    auto make = [this](const char* name, const QString& caption, const char* icon = nullptr) {
        auto* action = new QAction(caption, this);
        action->setObjectName(name);
        if (icon) action->setIcon(QIcon(QString(":/icons/%1.svg").arg(icon)));
        return action;
    };
    ActionAddFeed = make("ActionAddFeed", "Add Feed", "add");
    ActionDeleteFeed = make("ActionDeleteFeed", "Delete Feed", "delete");
    ActionEditFeed = make("ActionEditFeed", "Edit Feed", "edit");
    ActionRenameFeed = make("ActionRenameFeed", "Rename");
    ActionUpdateFeed = make("ActionUpdateFeed", "Update Feed", "update");
    ActionUpdateAll = make("ActionUpdateAll", "Update All", "update-all");
    ActionCopyURL = make("ActionCopyURL", "Copy URL");
    ActionImportOPML = make("ActionImportOPML", "Import OPML...");
    ActionExportOPML = make("ActionExportOPML", "Export OPML...");
    ActionShowQuillet = make("ActionShowQuillet", "Show Quillet");
    ActionHideQuillet = make("ActionHideQuillet", "Hide Quillet");
    ActionOptions = make("ActionOptions", "Options", "options");
    ActionExit = make("ActionExit", "Exit");
    ActionHelp = make("ActionHelp", "Help", "help");
    ActionAbout = make("ActionAbout", "About Quillet...");
    ActionHomePage = make("ActionHomePage", "Home Page");
    ActionSupport = make("ActionSupport", "Online Support");
    ActionNewFolder = make("ActionNewFolder", "New Folder");
    ActionFilterFeeds = make("ActionFilterFeeds", "Filter Feeds");
    ActionMarkRead = make("ActionMarkRead", "Mark as Read");
    ActionMarkAllRead = make("ActionMarkAllRead", "Mark All as Read");
    ActionMarkUnread = make("ActionMarkUnread", "Mark as Unread");
    ActionNextUnread = make("ActionNextUnread", "Next Unread", "next-unread");
    ActionFindInFeeds = make("ActionFindInFeeds", "Find in Feeds...");

    ActionHomePage->setToolTip("Browse Home Page");
    ActionHomePage->setStatusTip("Browse Home Page");
    ActionSupport->setToolTip("Online Support");
    ActionSupport->setStatusTip("Online Support");

    // Feed actions follow the selection; nothing is selected yet.
    for (QAction* action : {ActionDeleteFeed, ActionEditFeed, ActionRenameFeed, ActionUpdateFeed, ActionCopyURL,
                            ActionMarkRead, ActionMarkUnread})
        action->setEnabled(false);
    ActionShowQuillet->setVisible(false);

    ActionHelp->setShortcut(QKeySequence::HelpContents);
    // Feed shortcuts act where the feeds are (tree, toolbar, menus), never
    // while the browser has the keyboard.
    ActionRenameFeed->setShortcut(QKeySequence(Qt::Key_F2));
    ActionRenameFeed->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ActionDeleteFeed->setShortcut(QKeySequence::Delete);
    ActionDeleteFeed->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ActionFilterFeeds->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    ActionFindInFeeds->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    // A single key: a line edit with the keyboard takes it as typing (it
    // claims printable keys before shortcuts), everywhere else in the
    // window it moves on.
    ActionNextUnread->setShortcut(QKeySequence(Qt::Key_N));
    ActionNextUnread->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(ActionNextUnread);
    // Help and Online Support sit in no menu; the window holds them so their
    // shortcuts work.
    addAction(ActionHelp);
    addAction(ActionSupport);

    connect(ActionAddFeed, &QAction::triggered, this, [this] { ActionAddFeedExecute(); });
    connect(ActionDeleteFeed, &QAction::triggered, this, [this] { ActionDeleteFeedExecute(); });
    connect(ActionEditFeed, &QAction::triggered, this, [this] { ActionEditFeedExecute(); });
    connect(ActionRenameFeed, &QAction::triggered, this, [this] { ActionRenameFeedExecute(); });
    connect(ActionCopyURL, &QAction::triggered, this, [this] { ActionCopyURLExecute(); });
    connect(ActionImportOPML, &QAction::triggered, this, [this] { ActionImportOPMLExecute(); });
    connect(ActionExportOPML, &QAction::triggered, this, [this] { ActionExportOPMLExecute(); });
    connect(ActionOptions, &QAction::triggered, this, [this] { ActionOptionsExecute(); });
    connect(ActionExit, &QAction::triggered, this, [this] { ActionExitExecute(); });
    connect(ActionAbout, &QAction::triggered, this, [this] { ActionAboutExecute(); });
    connect(ActionHomePage, &QAction::triggered, this, [this] { ActionHomePageExecute(); });
    connect(ActionSupport, &QAction::triggered, this, [this] { ActionSupportExecute(); });
    connect(ActionNewFolder, &QAction::triggered, this, [this] { ActionNewFolderExecute(); });
    connect(ActionFilterFeeds, &QAction::triggered, this, [this] {
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
    FileMenu->addAction(ActionShowQuillet);
    FileMenu->addAction(ActionHideQuillet);
    FileMenu->addAction(ActionOptions);
    FileMenu->addSeparator();
    FileMenu->addAction(ActionExit);

    FeedMenu = make("Feed1", "F&eed");
    FeedMenu->addAction(ActionAddFeed);
    FeedMenu->addAction(ActionDeleteFeed);
    FeedMenu->addAction(ActionEditFeed);
    FeedMenu->addAction(ActionRenameFeed);
    FeedMenu->addAction(ActionUpdateFeed);
    FeedMenu->addAction(ActionUpdateAll);
    FeedMenu->addAction(ActionCopyURL);
    FeedMenu->addSeparator();
    FeedMenu->addAction(ActionMarkRead);
    FeedMenu->addAction(ActionMarkAllRead);
    FeedMenu->addAction(ActionMarkUnread);
    FeedMenu->addAction(ActionNextUnread);
    FeedMenu->addAction(ActionFindInFeeds);
    FeedMenu->addSeparator();
    MenuMoveTo = make("MenuMoveTo", "Move To");
    connect(MenuMoveTo, &QMenu::aboutToShow, this, [this] { FillMoveToMenu(); });
    MenuMoveToAccount = make("MenuMoveToAccount", "Move to Account");
    connect(MenuMoveToAccount, &QMenu::aboutToShow, this, [this] { FillMoveToAccountMenu(); });
    MenuMoveToAccount->menuAction()->setVisible(false);
    FeedMenu->addAction(ActionNewFolder);
    FeedMenu->addMenu(MenuMoveTo);
    FeedMenu->addMenu(MenuMoveToAccount);
    FeedMenu->addAction(ActionFilterFeeds);
    FeedMenu->addSeparator();
    FeedMenu->addAction(ActionImportOPML);
    FeedMenu->addAction(ActionExportOPML);

    LanguageMenu = make("LanguageMenu", "&Language");

    HelpMenu = make("Help1", "&Help");
    HelpMenu->addAction(ActionHomePage);
    HelpMenu->addAction(ActionAbout);

    for (QMenu* menu : {FileMenu, FeedMenu, LanguageMenu, HelpMenu}) MainMenu->addMenu(menu);

    PopupMenuFeedList = make("PopupMenuFeedList", QString());
    PopupMenuFeedList->addAction(ActionAddFeed);
    PopupMenuFeedList->addAction(ActionDeleteFeed);
    PopupMenuFeedList->addAction(ActionEditFeed);
    PopupMenuFeedList->addAction(ActionUpdateFeed);
    PopupMenuFeedList->addAction(ActionCopyURL);
    PopupMenuFeedList->addAction(ActionRenameFeed);
    PopupMenuFeedList->addSeparator();
    PopupMenuFeedList->addAction(ActionMarkRead);
    PopupMenuFeedList->addAction(ActionMarkUnread);
    PopupMenuFeedList->addAction(ActionMarkAllRead);
    PopupMenuFeedList->addSeparator();
    PopupMenuFeedList->addAction(ActionNewFolder);
    PopupMenuFeedList->addMenu(MenuMoveTo);
    PopupMenuFeedList->addMenu(MenuMoveToAccount);

    PopupMenuTrayIcon = make("PopupMenuTrayIcon", QString());
    PopupMenuTrayIcon->addAction(ActionShowQuillet);
    PopupMenuTrayIcon->addAction(ActionHideQuillet);
    PopupMenuTrayIcon->addAction(ActionUpdateAll);
    PopupMenuTrayIcon->addAction(ActionMarkAllRead);
    PopupMenuTrayIcon->addAction(ActionOptions);
    PopupMenuTrayIcon->addAction(ActionAbout);
    PopupMenuTrayIcon->addSeparator();
    PopupMenuTrayIcon->addAction(ActionExit);
}

void TFormMain::CreateWidgets() {
    ToolBar = new QToolBar(this);
    ToolBar->setObjectName("ToolBar");
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setIconSize(QSize(32, 32));
    ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ToolBar->toggleViewAction()->setVisible(false);
    ToolBar->addAction(ActionAddFeed);
    ToolBar->addAction(ActionEditFeed);
    ToolBar->addAction(ActionUpdateFeed);
    ToolBar->addAction(ActionUpdateAll);
    ToolBar->addAction(ActionNextUnread);
    ToolBar->addAction(ActionDeleteFeed);
    ToolBar->addSeparator();
    ToolBar->addAction(ActionOptions);
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
    connect(FeedFilter, &QLineEdit::textChanged, this, [this](const QString& text) { SetFeedFilter(text); });
    columnLayout->addWidget(FeedFilter);

    auto* tree = new TFeedTree(feedColumn);
    TreeView = tree;
    columnLayout->addWidget(tree);
    {
        QAbstractItemModel* rows = tree->model();
        const auto listChanged = [this] { ++FFeedListVersion; };
        connect(rows, &QAbstractItemModel::rowsInserted, this, listChanged);
        connect(rows, &QAbstractItemModel::rowsRemoved, this, listChanged);
        connect(rows, &QAbstractItemModel::rowsMoved, this, listChanged);
        connect(rows, &QAbstractItemModel::modelReset, this, listChanged);
        connect(rows, &QAbstractItemModel::layoutChanged, this, listChanged);
    }
    tree->OnMove = [this](QTreeWidgetItem* node, QTreeWidgetItem* parent, int index) {
        Guarded([&] { MoveNode(node, parent, index); });
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
    TreeView->setObjectName("TreeView");
    TreeView->setColumnCount(1);
    TreeView->setHeaderHidden(true);
    // Folders open and close by their arrows; the root's is left out.
    TreeView->setRootIsDecorated(false);
    TreeView->setItemsExpandable(true);
    TreeView->setIndentation(19);
    // Every row has the same icon and font size; without this the tree
    // measures each of possibly thousands of rows on every layout (at
    // start-up and after each caption change).
    TreeView->setUniformRowHeights(true);
    TreeView->setFrameShape(QFrame::NoFrame);
    TreeView->setMinimumWidth(30);
    TreeView->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    auto* captionEditor = new TCaptionEditDelegate(tree, this);
    TreeView->setItemDelegate(captionEditor);
    connect(captionEditor, &QAbstractItemDelegate::closeEditor, this,
            [this](QWidget*, QAbstractItemDelegate::EndEditHint hint) {
                // Once the view has left its editing state. A confirmed name
                // is shown as typed; only the style follows the count then.
                QTimer::singleShot(0, this, [this, hint] {
                    QTreeWidgetItem* node = TreeView->currentItem();
                    if (IsFolderNode(node)) {
                        UpdateNodeCaption(node);
                        return;
                    }
                    const xml::Node item = GetFeedItem(node);
                    if (!item) return;
                    UpdateNodeCaption(node);
                    const std::string caption = item.Attribute("caption").value_or("");
                    if (hint != QAbstractItemDelegate::RevertModelCache && !caption.empty())
                        node->setText(0, Q(caption));
                });
            });
    TreeView->addAction(ActionRenameFeed);
    TreeView->addAction(ActionDeleteFeed);
    TreeView->installEventFilter(this);
    TreeView->viewport()->installEventFilter(this);
    // A folder's open or closed state is kept, but not the opening done by
    // the filter or by loading.
    auto keepExpansion = [this](QTreeWidgetItem* node, bool expanded) {
        if (FFiltering || !IsFolderNode(node)) return;
        xml::Node folder = static_cast<TFolderNode*>(node)->Folder();
        const std::string value = plat::BoolToStr(expanded);
        if (folder.Attribute("expanded") == value) return;
        folder.SetAttribute("expanded", value);
        ScheduleConfigSave();
    };
    connect(TreeView, &QTreeWidget::itemExpanded, this,
            [keepExpansion](QTreeWidgetItem* node) { keepExpansion(node, true); });
    connect(TreeView, &QTreeWidget::itemCollapsed, this,
            [keepExpansion](QTreeWidgetItem* node) { keepExpansion(node, false); });
    connect(TreeView, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { Guarded([&] { TreeViewChange(current); }); });

    ReadingPane = new TReadingPane(SplitterV);
    ReadingPane->setObjectName("WebBrowser");

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

// ---------------------------------------------------------------------------
// Start-up and shutdown

void TFormMain::FormCreate() {
    TvxLanguage& language = GlobalLanguage();
    language.Scan(kLanguagesFolder);
    if (language.Count() == 0)
        throw TLanguageError("No language is installed. Quillet needs at least one language folder under \"" +
                             (std::filesystem::current_path() / kLanguagesFolder).string() + "\".");
    language.BuildMenu(LanguageMenu, TvxLanguageInfo::kLocaleNativeLanguageName);
    language.SetOnChange([this](TvxLanguage&) { OnLanguageChange(); });
    // English first: the window is translated before the option store, whose
    // structure file comes from the selected language's folder, is loaded.
    language.SetLCID(kEnglishLCID);

    FOptions = std::make_unique<TOptions>();
    TOptions::EnsureConfigFile(kConfigFile, kDefaultConfigFile);
    LoadConfigFile();
    // Opened beside the rest of start-up; nothing below waits for it.
    FItems->Open();
    FOptions->StructDocument().LoadFromFile(LangFile("struct.xml"));

    // A stored language that is not a number selects English; selecting it
    // writes the language actually chosen back to internal\language.
    const int stored = ReadInt(FOptions->GetConfigNode(kLanguagePath)).value_or(static_cast<int>(kEnglishLCID));
    try {
        language.SetLCID(stored > 0 ? static_cast<std::uint32_t>(stored) : kEnglishLCID);
    } catch (const std::exception& error) {
        // A damaged language folder must not lock the user out: start in
        // English, which was loaded fine a moment ago, and say why.
        language.SetLCID(kEnglishLCID);
        SetStatusText(0, QString::fromUtf8(error.what()));
    }

    LoadFeedList();
    FUpdates->StartSoon();
    RestoreGeometry();

    const xml::Node startTray = FOptions->GetConfigNode(kStartTrayPath);
    std::optional<bool> inTray;
    try {
        inTray = plat::TryStrToBool(startTray.Text());
    } catch (const std::exception&) {
    }
    FStartInTray = inTray.value_or(false);

    if (TrayIcon) {
        TrayIcon->SetIconVisible(true);
        TrayIcon->Loaded();
    }
}

void TFormMain::LoadConfigFile() {
    // A configuration that does not load is the user's data: say which file
    // and why, and stop before anything could write over it. It is parsed
    // once, straight into the option store (a large feed list makes a
    // second parse noticeable at start-up).
    xml::Document& config = FOptions->ConfigDocument();
    try {
        config.LoadFromFile(kConfigFile);
    } catch (const std::exception& error) {
        // The failed load left the document empty: it must never be saved
        // over the file the user may still repair.
        config.SetModified(false);
        config.SetAutoSave(false);
        const std::string file = (std::filesystem::current_path() / kConfigFile).string();
        std::string message;
        try {
            message = LangFmt("ConfigLoadFailed", {file, error.what()});
        } catch (const std::exception&) {
        }
        if (message.empty())
            message = "The settings file \"" + file + "\" cannot be read: " + error.what() +
                      ". Quillet leaves it untouched; repair or remove it, then start Quillet again.";
        throw std::runtime_error(message);
    }
}

void TFormMain::RestoreGeometry() {
    // A missing or garbled size starts with the default window rather than
    // refusing to start.
    const std::optional<int> width = ReadInt(FOptions->GetConfigNode(kWidthPath));
    if (width && *width == 0) {
        FStartMaximized = true;
        setWindowState(windowState() | Qt::WindowMaximized);
    } else {
        const std::optional<int> height = ReadInt(FOptions->GetConfigNode(kHeightPath));
        if (width && height && *width > 0 && *height > 0)
            resize(*width, *height);
        else
            resize(kDefaultWidth, kDefaultHeight);
    }

    std::optional<int> treeWidth = ReadInt(FOptions->GetConfigNode(kTreeWidthPath));
    if (!treeWidth || *treeWidth < TreeView->minimumWidth()) treeWidth = kDefaultTreeWidth;
    SplitterV->setSizes({*treeWidth, std::max(1, SplitterV->width() - *treeWidth)});
    TreeView->resize(*treeWidth, TreeView->height());
    StatusPanel0->setFixedWidth(*treeWidth);
}

void TFormMain::ShowAtStartup() {
    if (FStartInTray) {
        // Minimising hides the window to the tray where the desktop has a
        // notification area, and leaves it on the taskbar where it has none.
        showMinimized();
        return;
    }
    FAwaitingExposure = FUpdates->StartIsPending();
    if (FStartMaximized)
        showMaximized();
    else
        show();
    if (!FAwaitingExposure || !windowHandle()) return;
    if (windowHandle()->isExposed())
        StartUpdateThreadAfterPaint();
    else
        windowHandle()->installEventFilter(this);
}

void TFormMain::StartUpdateThreadAfterPaint() {
    FAwaitingExposure = false;
    if (windowHandle()) windowHandle()->removeEventFilter(this);
    // Queued behind the exposure: the window paints before the first update.
    QTimer::singleShot(0, this, [this] { FUpdates->StartPending(); });
}

void TFormMain::FormClose() {
    if (!FOptions) return;
    FOptions->GetConfigNode(kWidthPath).SetText(std::to_string(width()));
    FOptions->GetConfigNode(kHeightPath).SetText(std::to_string(height()));
    if (isMaximized()) FOptions->GetConfigNode(kWidthPath).SetText("0");
    FOptions->GetConfigNode(kTreeWidthPath).SetText(std::to_string(TreeView->width()));
}

void TFormMain::closeEvent(QCloseEvent* event) {
    if (!FClosed) {
        Guarded([this] { FormClose(); });
        FUpdates->Stop();
        StopAccountSyncs();
        FClosed = true;
    }
    QMainWindow::closeEvent(event);
    emit formClosed();
}

void TFormMain::OnLanguageChange() {
    TvxLanguage& language = GlobalLanguage();
    language.Translate(this);
    if (!FOptions) return;
    // Check the new structure file before giving up the current one, so a
    // broken language folder never leaves the options without a structure.
    const std::string structFile = LangFile("struct.xml");
    {
        xml::Document probe;
        probe.LoadFromFile(structFile);
    }
    FOptions->StructDocument().LoadFromFile(structFile);
    FOptions->GetConfigNode(kLanguagePath).SetText(std::to_string(language.GetLCID()));
}

void TFormMain::ShowHandlerError(const std::exception& error) {
    QMessageBox::critical(this, windowTitle(), QString::fromUtf8(error.what()));
}

// ---------------------------------------------------------------------------
// The feed list

xml::Node TFormMain::GetFeedItem(QTreeWidgetItem* node) const {
    if (!node || node->type() != TFeedNode::kType) return {};
    return static_cast<TFeedNode*>(node)->Item();
}

QTreeWidgetItem* TFormMain::RootNode() const { return TreeView->topLevelItem(0); }

namespace {

// What a feed's node shows: the caption, followed by the unread count while
// there are unread items.
struct TNodeCaption {
    QString Text;
    bool Unread = false;
    // The caption is empty and the address stands in for it; the text as
    // the caption alone makes it, for the label editor.
    std::optional<QString> CaptionText;
};

// A feed without a name yet (never fetched, or failing) is shown by its
// address, as host and path, so that no row of the tree is blank; the
// stored caption stays empty until the feed's own title fills it.
QString AddressStandIn(const std::string& url) {
    const QUrl address(Q(url));
    if (address.host().isEmpty()) return Q(url);
    QString text = address.host();
    if (address.port() != -1) text += ':' + QString::number(address.port());
    return text + address.path();
}

TNodeCaption NodeCaption(const xml::Node& item) {
    const std::string caption = item.Attribute("caption").value_or("");
    const std::string unread = item.Attribute("unread").value_or("");
    const std::optional<int> count = plat::TryStrToInt(unread);
    const bool hasUnread = count ? *count != 0 : !unread.empty();
    const std::string suffix = hasUnread ? " (" + unread + ")" : "";
    if (caption.empty()) {
        const QString standIn = AddressStandIn(item.Attribute("url").value_or(""));
        if (!standIn.isEmpty()) return {standIn + Q(suffix), hasUnread, Q(suffix)};
    }
    return {Q(caption + suffix), hasUnread, std::nullopt};
}

}  // namespace

QString TFormMain::FeedDisplayText(const xml::Node& item) { return NodeCaption(item).Text; }

void TFormMain::UpdateNodeCaption(QTreeWidgetItem* node) {
    if (IsFolderNode(node)) {
        if (FFolderCaptionsDeferred) return;  // all at once when the batch ends
        // A folder shows the sum of its feeds' counts, bold while any is
        // unread.
        const long long unread = UnreadUnder(node);
        const std::string caption = static_cast<TFolderNode*>(node)->Folder().Attribute("caption").value_or("");
        const bool renaming = static_cast<const TFeedTree*>(TreeView)->Editing() && TreeView->currentItem() == node;
        if (renaming) return;
        node->setText(0, Q(unread > 0 ? caption + " (" + std::to_string(unread) + ")" : caption));
        if (unread == 0 && !node->data(0, Qt::FontRole).isValid()) return;
        QFont font = TreeView->font();
        font.setBold(unread > 0);
        node->setFont(0, font);
        return;
    }
    const xml::Node item = GetFeedItem(node);
    if (!item) return;
    if (IsFolderNode(node->parent())) UpdateFolderCaptions(node);
    FItems->FollowShownCaption(item);
    const TNodeCaption caption = NodeCaption(item);
    // A new text for a row being renamed would replace what the user is
    // typing; the row is brought up to date when the rename is abandoned,
    // and a confirmed one sets the text itself.
    const bool renaming = static_cast<const TFeedTree*>(TreeView)->Editing() && TreeView->currentItem() == node;
    if (!renaming) node->setText(0, caption.Text);
    if (node->type() == TFeedNode::kType) static_cast<TFeedNode*>(node)->SetEditText(caption.CaptionText);
    if (renaming) return;  // a new font would reset the editor just the same
    // Bold exactly while the feed has unread items. A node without a font
    // of its own shows the tree's regular font: most nodes at start-up need
    // none.
    if (!caption.Unread && !node->data(0, Qt::FontRole).isValid()) return;
    QFont font = TreeView->font();
    font.setBold(caption.Unread);
    node->setFont(0, font);
}

std::unique_ptr<QTreeWidgetItem> TFormMain::NewFeedNode(xml::Node item) {
    auto node = std::make_unique<TFeedNode>(std::move(item), FFeedIcon);
    node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled);
    UpdateNodeCaption(node.get());
    return node;
}

void TFormMain::RememberFeedNode(QTreeWidgetItem* node) {
    const std::string id = GetFeedItem(node).Attribute("id").value_or("");
    // A hand-edited list may repeat an id: the first node keeps it, as a
    // walk over the list would find.
    if (!id.empty() && !FFeedNodes.emplace(id, node).second) FRepeatedFeedIds.insert(id);
}

QTreeWidgetItem* TFormMain::AddFeedNode(xml::Node item, QTreeWidgetItem* parent) {
    if (!parent) parent = RootNode();
    if (!parent) return nullptr;
    QTreeWidgetItem* node = NewFeedNode(std::move(item)).release();
    parent->addChild(node);
    RememberFeedNode(node);
    UpdateFolderCaptions(node);
    if (FeedFilter && !FeedFilter->text().isEmpty() && !FFolderCaptionsDeferred) SetFeedFilter(FeedFilter->text());
    return node;
}

void TFormMain::LoadFeedList() {
    FFeedNodes.clear();
    FRepeatedFeedIds.clear();
    TreeView->clear();
    auto root = std::make_unique<QTreeWidgetItem>(QStringList{"Quillet"});
    root->setIcon(0, FRootIcon);
    root->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled);
    // The nodes are made, captioned and indexed while detached and enter the
    // tree in one go: the view then handles one insertion instead of one
    // insertion and two changes per feed.
    try {
        BuildNodes(root.get(), FOptions->GetConfigNode(kItemsPath));
    } catch (...) {
        FFeedNodes.clear();  // the detached nodes go with the root
        throw;
    }
    QTreeWidgetItem* top = root.release();
    TreeView->addTopLevelItem(top);
    top->setExpanded(true);
    RestoreExpansion(top);
    TreeView->setCurrentItem(top);
}

QTreeWidgetItem* TFormMain::FindFeedNodeById(const std::string& id) const {
    // Called for every update and every step of the polling thread: a
    // lookup instead of reading the id of each of possibly thousands of
    // nodes.
    const auto found = FFeedNodes.find(id);
    return found == FFeedNodes.end() ? nullptr : found->second;
}

void TFormMain::ForgetFeedNode(QTreeWidgetItem* node, const std::string& id) {
    const auto found = FFeedNodes.find(id);
    if (found == FFeedNodes.end() || found->second != node) return;
    FFeedNodes.erase(found);
    // Another node with the same id (a hand-edited list) takes its place;
    // only then is the list walked, never for each of a thousand deletions.
    if (!FRepeatedFeedIds.count(id)) return;
    for (QTreeWidgetItem* other : FeedNodesUnder(RootNode())) {
        const xml::Node item = GetFeedItem(other);
        if (other != node && item && item.Attribute("id") == id) {
            FFeedNodes.emplace(id, other);
            break;
        }
    }
}

xml::Node TFormMain::AppendFeedElement(const std::string& url, const std::string& caption, xml::Node container,
                                       feedlist::TFeedIds* ids) {
    xml::Node items = FOptions->GetConfigNode(kItemsPath);
    if (!container) container = items;
    const std::string now = plat::FormatISO8601(plat::Now());
    if (ids) return feedlist::AppendFeed(*ids, container, url, caption, now);
    return feedlist::AppendFeed(items, FOptions->GetConfigNode(kCounterPath), container, url, caption, now);
}

QTreeWidgetItem* TFormMain::AddFeed(const std::string& url, QTreeWidgetItem* folder, const std::string& caption) {
    // The account's server fetches its feeds: it is asked to subscribe.
    if (!AccountIdOf(folder).empty()) return AddAccountFeed(url, folder, caption);
    folder = TargetFolder(folder);
    QTreeWidgetItem* node = AddFeedNode(AppendFeedElement(url, caption, ContainerElement(folder)), folder);
    FUpdates->UpdateFeed(GetFeedItem(node).Attribute("id").value_or(""));
    FOptions->Save();
    return node;
}

void TFormMain::DeleteFeed(QTreeWidgetItem* node, std::vector<std::string>* itemsToForget) {
    xml::Node item = GetFeedItem(node);
    if (!item) return;
    const std::string id = item.Attribute("id").value_or("");
    emit feedDeleted(Q(id));

    // Only a decimal id names a stored copy: a hand-edited id must never
    // delete a file elsewhere.
    if (IsValidFeedId(id)) {
        FUpdates->StoredCopyChanged(id);
        std::error_code ignored;  // a copy that was never written is fine
        std::filesystem::remove(StoredCopyPath(id), ignored);
    }
    ForgetFeedNode(node, id);
    if (IsValidFeedId(id)) {
        if (itemsToForget)
            itemsToForget->push_back(id);
        else
            FItems->ForgetFeed(id);
    }
    item.Remove();
    QTreeWidgetItem* parent = node->parent();
    // Its folder takes the selection: left to the view, the next row would
    // be selected, shown and counted read without the user asking.
    if (TreeView->currentItem() == node && parent) TreeView->setCurrentItem(parent);
    delete node;
    if (IsFolderNode(parent)) {
        UpdateNodeCaption(parent);
        UpdateFolderCaptions(parent);
    }
    if (!TreeView->currentItem() && RootNode()) TreeView->setCurrentItem(RootNode());
}

namespace {

// The status line after an import, in the user's language.
QString ImportSummary(const TFormMain::TImportResult& result) {
    QString text = LangFmtQ("ImportedOPML", {result.added, result.skipped});
    if (result.refused > 0) text += QStringLiteral(" (") + LangFmtQ("ImportedOPMLRefused", {result.refused}) + ')';
    if (result.flattened > 0)
        text += QStringLiteral("; ") + LangFmtQ("ImportedOPMLFlattened", {result.flattened, feedlist::kMaxFolderDepth});
    return text;
}

}  // namespace

TFormMain::TImportResult TFormMain::ImportOPML(const std::string& fileName, QTreeWidgetItem* target) {
    // The window answers other requests while a large list is read and
    // added, and one of them may be another import: it waits its turn.
    if (FImportRunning) throw std::runtime_error(LangMsg("ImportOPMLBusy"));
    FImportRunning = true;
    struct TDone {
        bool& Running;
        ~TDone() { Running = false; }
    } done{FImportRunning};

    const std::string accountId = target ? AccountIdOf(target) : std::string();
    std::vector<std::string> existing;
    if (accountId.empty()) existing = feedlist::FeedAddresses(FOptions->GetConfigNode(kItemsPath));
    // Read and checked against the list beside the window: tens of
    // thousands of outlines take longer than a window may stand still.
    struct TRead {
        std::vector<opml::Outline> Outlines;
        opml::ImportPlan Plan;
    };
    const TRead read = RunBesideWindow([&] {
        TRead result;
        try {
            result.Outlines = opml::ReadFile(fileName);
        } catch (const std::exception& error) {
            throw std::runtime_error(LangFmt("InvalidOPML", {std::string(error.what())}));
        }
        if (accountId.empty()) result.Plan = opml::PlanImport(result.Outlines, existing);
        return result;
    });
    if (!accountId.empty()) {
        QTreeWidgetItem* account = AccountNode(accountId);
        if (!account) throw std::runtime_error(LangFmt("InvalidOPML", {std::string("the account is gone")}));
        return ImportToAccount(read.Outlines, account);
    }

    // Added a part at a time, the window painting between parts.
    constexpr std::size_t kPart = 1000;
    feedlist::TImportWriter writer(FOptions->GetConfigNode(kItemsPath), FOptions->GetConfigNode(kCounterPath),
                                   plat::FormatISO8601(plat::Now()));
    const std::vector<opml::Outline>& toAdd = read.Plan.toAdd;
    for (std::size_t from = 0; from < toAdd.size(); from += kPart) {
        if (from > 0) LetWindowBreathe();
        AttachNewFeeds(writer.Write(toAdd, from, from + kPart));
    }
    RootNode()->setExpanded(true);
    FOptions->Save();
    return {static_cast<int>(toAdd.size()), read.Plan.skipped, read.Plan.refused, writer.Flattened()};
}

void TFormMain::AttachNewFeeds(const std::vector<xml::Node>& items) {
    QTreeWidgetItem* root = RootNode();
    if (!root || items.empty()) return;
    // The node of each container element met. A parent's folder nodes are
    // entered all at once when the first of them is looked for, so a list
    // of thousands of feeds or folders is walked once, not once per feed.
    std::unordered_map<xml::Node, QTreeWidgetItem*, xml::NodeHash> nodes{{FOptions->GetConfigNode(kItemsPath), root}};
    std::set<QTreeWidgetItem*> indexed;
    // New rows by parent, in the order their elements were appended.
    std::vector<std::pair<QTreeWidgetItem*, QList<QTreeWidgetItem*>>> rows;
    std::unordered_map<QTreeWidgetItem*, std::size_t> rowsOf;
    const auto addRow = [&](QTreeWidgetItem* parent, QTreeWidgetItem* node) {
        auto [at, made] = rowsOf.try_emplace(parent, rows.size());
        if (made) rows.emplace_back(parent, QList<QTreeWidgetItem*>());
        rows[at->second].second.append(node);
    };
    std::vector<QTreeWidgetItem*> newFolders;
    // Recursion as deep as folders nest, which the list bounds.
    std::function<QTreeWidgetItem*(const xml::Node&)> nodeFor = [&](const xml::Node& container) -> QTreeWidgetItem* {
        if (auto found = nodes.find(container); found != nodes.end()) return found->second;
        QTreeWidgetItem* parent = nodeFor(container.Parent());
        if (indexed.insert(parent).second) {
            for (int i = 0; i < parent->childCount(); ++i)
                if (IsFolderNode(parent->child(i)))
                    nodes.emplace(static_cast<TFolderNode*>(parent->child(i))->Folder(), parent->child(i));
            if (auto found = nodes.find(container); found != nodes.end()) return found->second;
        }
        QTreeWidgetItem* folder = NewFolderNode(container).release();
        UpdateNodeCaption(folder);
        addRow(parent, folder);
        newFolders.push_back(folder);
        indexed.insert(folder);  // its rows are all new
        nodes.emplace(container, folder);
        return folder;
    };
    for (const xml::Node& item : items) {
        QTreeWidgetItem* parent = nodeFor(item.Parent());
        QTreeWidgetItem* node = NewFeedNode(item).release();
        RememberFeedNode(node);
        addRow(parent, node);
    }
    for (auto& [parent, children] : rows) parent->addChildren(children);
    for (QTreeWidgetItem* folder : newFolders) folder->setExpanded(true);
    if (FeedFilter && !FeedFilter->text().isEmpty()) SetFeedFilter(FeedFilter->text());
}

void TFormMain::ExportOPML(const std::string& fileName) {
    const std::vector<opml::Outline> feeds =
        feedlist::Outlines(FOptions->GetConfigNode(kItemsPath),
                           [](const xml::Node& item) { return StoredChannelTitle(item.Attribute("id").value_or("")); });
    opml::WriteFile(fileName, feeds, "Quillet feeds");
}

// ---------------------------------------------------------------------------
// Handlers

void TFormMain::ActionImportOPMLExecute() {
    Guarded([this] {
        const QString file = QFileDialog::getOpenFileName(this, QString(ActionImportOPML->text()).remove('&'),
                                                          QString(), "OPML (*.opml *.xml);;* (*)");
        if (file.isEmpty()) return;
        // This computer, or an account's server, as Add Feed offers them.
        const TFeedTargets targets = FeedTargets();
        int chosen = 0;
        if (targets.Nodes.size() > 1) {
            bool ok = false;
            const QString name =
                QInputDialog::getItem(this, QString(ActionImportOPML->text()).remove('&'), LangMsgQ("ImportOPMLTarget"),
                                      targets.Names, targets.Current, false, &ok);
            if (!ok) return;
            chosen = std::max(0, static_cast<int>(targets.Names.indexOf(name)));
        }
        const TImportResult result =
            ImportOPML(file.toStdString(), chosen > 0 ? targets.Nodes[static_cast<std::size_t>(chosen)] : nullptr);
        SetStatusText(0, ImportSummary(result));
    });
}

TFormMain::TFeedTargets TFormMain::FeedTargets() const {
    TFeedTargets targets;
    targets.Names << RootNode()->text(0);
    targets.Nodes.push_back(RootNode());
    const std::string selectedAccount = AccountIdOf(TreeView->currentItem());
    for (const xml::Node& folder : accountlist::AccountFolders(FOptions->GetConfigNode(kItemsPath))) {
        QTreeWidgetItem* account = AccountNode(folder.Attribute("account").value_or(""));
        if (!account) continue;
        if (folder.Attribute("account") == selectedAccount) targets.Current = static_cast<int>(targets.Nodes.size());
        targets.Names << Q(folder.Attribute("caption").value_or(""));
        targets.Nodes.push_back(account);
    }
    return targets;
}

void TFormMain::ActionExportOPMLExecute() {
    Guarded([this] {
        const QString file = QFileDialog::getSaveFileName(this, QString(ActionExportOPML->text()).remove('&'),
                                                          "Quillet.opml", "OPML (*.opml);;* (*)");
        if (!file.isEmpty()) ExportOPML(file.toStdString());
    });
}

void TFormMain::ActionAddFeedExecute() { OpenAddFeedDialog(QString()); }

void TFormMain::OpenAddFeedDialog(const QString& address) {
    // One dialog at a time: what is handed over while it is open waits in
    // it, however many addresses come.
    if (FAddFeedDialog) {
        FAddFeedDialog->Enqueue(address);
        FAddFeedDialog->raise();
        FAddFeedDialog->activateWindow();
        return;
    }
    Guarded([&] {
        TFormAddFeed dialog(this);
        FAddFeedDialog = &dialog;
        dialog.SecureFeeds = FUpdates->SecureFeedsOption();
        dialog.FindExisting = [this](const std::string& url) -> std::optional<QString> {
            const std::string wanted = discover::ComparableUrl(url);
            for (QTreeWidgetItem* node : FeedNodesUnder(RootNode())) {
                if (discover::ComparableUrl(GetFeedItem(node).Attribute("url").value_or("")) == wanted)
                    return node->text(0);
            }
            return std::nullopt;
        };
        // This computer, or an account's server, whose folder the selection
        // may already be in.
        const TFeedTargets targets = FeedTargets();
        const std::string selectedAccount = AccountIdOf(TreeView->currentItem());
        dialog.SetTargets(targets.Names, targets.Current);
        if (!address.isEmpty()) dialog.FindFeedsFor(address);
        for (;;) {
            const int answer = dialog.exec();
            if (answer == QDialog::Accepted)
                Guarded([&] {
                    QTreeWidgetItem* where = TreeView->currentItem();
                    const int target = dialog.Target();
                    if (target == 0 && !selectedAccount.empty()) where = RootNode();
                    if (target > 0 &&
                        AccountIdOf(where) != AccountIdOf(targets.Nodes[static_cast<std::size_t>(target)]))
                        where = targets.Nodes[static_cast<std::size_t>(target)];
                    QTreeWidgetItem* node = nullptr;
                    {
                        TWaitCursor wait;
                        node = AddFeed(dialog.URL().toStdString(), where, dialog.Caption().toStdString());
                    }
                    if (node) TreeView->setCurrentItem(node);
                });
            if (answer != QDialog::Accepted && answer != TFormAddFeed::kSkipped) return;
            if (!dialog.StartNext()) return;
        }
    });
}

void TFormMain::TakeAddressOrFile(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) return;
    // A local file: an OPML list is imported; a feed file is subscribed to
    // by the address it names for itself.
    const QUrl asUrl(trimmed);
    const QString path = asUrl.isLocalFile() ? asUrl.toLocalFile() : trimmed;
    if (!path.contains(QStringLiteral("://")) && QFileInfo(path).isFile()) {
        Guarded([&] {
            if (path.endsWith(QStringLiteral(".opml"), Qt::CaseInsensitive)) {
                const TImportResult result = ImportOPML(path.toStdString());
                SetStatusText(0, ImportSummary(result));
                return;
            }
            OpenAddFeedDialog(Q(discover::FeedFileAddress(ReadWholeFile(path.toStdString())).value_or("")));
        });
        return;
    }
    OpenAddFeedDialog(trimmed);
}

void TFormMain::ActionDeleteFeedExecute() {
    Guarded([this] {
        QTreeWidgetItem* node = TreeView->currentItem();
        // An account goes by its settings, which also forget its password.
        if (IsFolderNode(node) && !AccountIdOf(node).empty() && AccountLabelOf(node).empty()) return;
        if (IsFolderNode(node)) {
            const int choice = AskDeleteFolder ? AskDeleteFolder(node) : AskHowToDeleteFolder(this, node);
            if (choice != 0) AccountNodeDeleting(node, choice == 2);
            if (choice != 0) DeleteFolder(node, choice == 2);
            return;
        }
        if (!GetFeedItem(node)) return;
        const QString question = LangFmtQ("DeleteConfirm", {node->text(0).toStdString()});
        const auto answer = QMessageBox::question(this, "Confirm", question, QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) return;
        AccountNodeDeleting(node, false);
        DeleteFeed(node);
        // The removal is kept at once: a crash must not bring the feed back
        // without its stored copy.
        FOptions->Save();
    });
}

void TFormMain::ActionEditFeedExecute() {
    QTreeWidgetItem* node = TreeView->currentItem();
    if (GetFeedItem(node))
        OpenFeedProperties(node);
    else if (IsFolderNode(node))
        TreeView->editItem(node, 0);
}

void TFormMain::ActionRenameFeedExecute() {
    QTreeWidgetItem* node = TreeView->currentItem();
    if (GetFeedItem(node) || IsFolderNode(node)) TreeView->editItem(node, 0);
}

void TFormMain::TreeViewEdited(QTreeWidgetItem* node, const QString& text) {
    Guarded([&] {
        if (IsFolderNode(node)) {
            // A folder keeps a name: an emptied one stays as it was.
            const std::string oldCaption = static_cast<TFolderNode*>(node)->Folder().Attribute("caption").value_or("");
            if (!text.trimmed().isEmpty())
                static_cast<TFolderNode*>(node)->Folder().SetAttribute("caption", text.trimmed().toStdString());
            UpdateNodeCaption(node);
            AccountNodeRenamed(node, oldCaption);
            FOptions->Save();
            return;
        }
        xml::Node item = GetFeedItem(node);
        if (!item) return;
        const std::string oldCaption = item.Attribute("caption").value_or("");
        item.SetAttribute("caption", text.toStdString());
        FItems->FollowShownCaption(item);
        AccountNodeRenamed(node, oldCaption);
        node->setText(0, text);
        // An emptied caption shows the address again.
        if (text.isEmpty())
            UpdateNodeCaption(node);
        else if (node->type() == TFeedNode::kType)
            static_cast<TFeedNode*>(node)->SetEditText(std::nullopt);
        FOptions->Save();
    });
}

void TFormMain::ActionCopyURLExecute() {
    Guarded([this] {
        const xml::Node item = GetFeedItem(TreeView->currentItem());
        if (!item) return;
        QGuiApplication::clipboard()->setText(Q(item.Attribute("url").value_or("")));
    });
}

void TFormMain::TreeViewChange(QTreeWidgetItem* node) {
    const bool isFeed = !GetFeedItem(node).IsNull();
    const bool isFolder = IsFolderNode(node);
    for (QAction* action : {ActionDeleteFeed, ActionUpdateFeed, ActionEditFeed, ActionRenameFeed})
        action->setEnabled(isFeed || isFolder);
    ActionCopyURL->setEnabled(isFeed);
    ActionMarkRead->setEnabled(isFeed || isFolder || node == RootNode());
    ActionMarkUnread->setEnabled(isFeed || isFolder || node == RootNode());
    MenuMoveTo->setEnabled(isFeed || isFolder);
    // Local feeds and folders can go to an account's server.
    MenuMoveToAccount->menuAction()->setVisible(
        (isFeed || isFolder) && AccountIdOf(node).empty() &&
        !accountlist::AccountFolders(FOptions->GetConfigNode(kItemsPath)).empty());
    if (node) ShowFeed(node);
}

bool TFormMain::TreeViewContextPopup(const QPoint& pos) {
    if (pos.x() == -1) return true;  // from the keyboard: for the selection
    QTreeWidgetItem* node = TreeView->itemAt(pos);
    if (!node) return false;
    TreeView->setCurrentItem(node);
    return true;
}

void TFormMain::SplitterVMoved() {
    if (StatusPanel0->width() != TreeView->width()) StatusPanel0->setFixedWidth(TreeView->width());
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && watched == windowHandle()) {
        if (FAwaitingExposure && windowHandle()->isExposed()) StartUpdateThreadAfterPaint();
        return QMainWindow::eventFilter(watched, event);
    }
    if (watched == FeedFilter && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        FeedFilter->clear();
        TreeView->setFocus(Qt::OtherFocusReason);
        return true;
    }
    if (event->type() == QEvent::Resize && watched == TreeView) {
        SplitterVMoved();
    } else if (event->type() == QEvent::ContextMenu && (watched == TreeView || watched == TreeView->viewport())) {
        auto* request = static_cast<QContextMenuEvent*>(event);
        const bool fromKeyboard = request->reason() == QContextMenuEvent::Keyboard;
        QPoint pos(-1, -1);
        if (!fromKeyboard) pos = TreeView->viewport()->mapFrom(static_cast<QWidget*>(watched), request->pos());
        bool open = false;
        Guarded([&] { open = TreeViewContextPopup(pos); });
        if (open) {
            QPoint at = request->globalPos();
            if (fromKeyboard && TreeView->currentItem())
                at = TreeView->viewport()->mapToGlobal(TreeView->visualItemRect(TreeView->currentItem()).center());
            PopupMenuFeedList->popup(at);
        }
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormMain::ActionOptionsExecute() {
    Guarded([this] {
        TFormOptions dialog(this, *FOptions);
        dialog.exec();
    });
}

void TFormMain::ActionAboutExecute() {
    Guarded([this] {
        TAboutBox dialog(this);
        dialog.exec();
    });
}

// A failure of the desktop to open the page is not an error of ours.
void TFormMain::ActionHomePageExecute() { FPage->OpenExternally(QUrl(QString::fromUtf8(kHomePageURL))); }

void TFormMain::ActionSupportExecute() { FPage->OpenExternally(QUrl(QString::fromUtf8(kSupportURL))); }

void TFormMain::ActionExitExecute() { close(); }

void TFormMain::SetStatusText(int panel, const QString& text) {
    if (panel == 0) {
        // The panel is only as wide as the tree; the whole message (a
        // failure's reason, say) stays readable on hovering.
        StatusPanel0->setText(text);
        StatusPanel0->setToolTip(text);
    } else if (panel == 1) {
        StatusPanel1->setText(text);
    }
}

QString TFormMain::StatusText(int panel) const {
    if (panel == 0) return StatusPanel0->text();
    if (panel == 1) return StatusPanel1->text();
    return {};
}
