// The main window: start-up and closing, the window's state, and what its
// actions and the tree ask of it (Add Feed, delete, rename, OPML files,
// options, about). The layout is in fMainLayout.cpp; each part is wired in
// an fMain<Part>.cpp of its own.
#include "fMain.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QWindow>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "AccountController.h"
#include "AccountList.h"
#include "Address.h"
#include "AppInfo.h"
#include "ConfigSaver.h"
#include "Convert.h"
#include "DateTime.h"
#include "Discover.h"
#include "FeedHealthController.h"
#include "FeedList.h"
#include "FeedListXml.h"
#include "FeedListController.h"
#include "FeedPageController.h"
#include "FeedTree.h"
#include "FeedUpdate.h"
#include "ListedFeed.h"
#include "ReadStateController.h"
#include "StarController.h"
#include "ReadingPane.h"
#include "Shortcuts.h"
#include "TrayIcon.h"
#include "UpdateController.h"
#include "fAbout.h"
#include "fAddFeed.h"
#include "fOptions.h"
#include "uvxLanguage.h"
#include "QtText.h"

namespace {

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
// Where Add Feed put the last feed: an account's id, "" for this computer
// (and for a config.xml written before the choice was kept).
const char* const kAddFeedTargetPath = "internal\\addfeed\\Target";

using plat::Q;

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

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent), FFeedList(std::make_unique<feedlist::TFeedList>()) {
    InitIconResources();
    setObjectName("FormMain");
    setWindowTitle("Veltrax Quillet");
    setWindowIcon(QIcon(":/icons/quillet.svg"));
    resize(kDefaultWidth, kDefaultHeight);
    move(0, 0);

    CreateActions();
    CreateMenus();
    CreateWidgets();
    ConnectFeedList();
    CreateTrayIcon();
    ConnectItems();
    ConnectUpdateAndDisplay();
    ConnectFeedHealth();
    ConnectUpdates();
    CreateConfigSaver();
    ConnectFeedProperties();
    ConnectAccounts();
    ConnectArticles();
    ConnectPane();
    ConnectStars();
    FShortcuts = new TShortcutController(this);

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
    for (QObject* child : std::initializer_list<QObject*>{FTree, SplitterV, ReadingPane, TrayIcon})
        if (child) child->blockSignals(true);
    // The polling thread works on the tree and the option store: it goes
    // first. Then the option store, which writes a modified config.xml.
    FUpdates->Stop();
    FFeedHealth->Save();
    FAccounts->StopSyncs();
    // After the updates, which write to it; waits for its opening.
    FItems->CloseBase();
    if (FConfigSaver) FConfigSaver->SaveOnClose();
    FTree->Follow(nullptr);
    FStoredList.reset();
    FOptions.reset();
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
    FShortcuts->Load(FOptions->ConfigDocument().DocumentElement());
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
        const bool stored = width && height && *width > 0 && *height > 0;
        const int shownWidth = stored ? *width : kDefaultWidth, shownHeight = stored ? *height : kDefaultHeight;
        // The delivered size does not know how wide the toolbar's texts are
        // in the chosen language: a window the user never sized shows all of
        // its toolbar.
        const bool delivered = shownWidth == kDefaultWidth && shownHeight == kDefaultHeight;
        resize(delivered ? std::max(shownWidth, ToolBar->sizeHint().width()) : shownWidth, shownHeight);
    }

    std::optional<int> treeWidth = ReadInt(FOptions->GetConfigNode(kTreeWidthPath));
    if (!treeWidth || *treeWidth < FTree->minimumWidth()) treeWidth = kDefaultTreeWidth;
    SplitterV->setSizes({*treeWidth, std::max(1, SplitterV->width() - *treeWidth)});
    FTree->resize(*treeWidth, FTree->height());
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
    FOptions->GetConfigNode(kTreeWidthPath).SetText(std::to_string(FTree->width()));
}

void TFormMain::closeEvent(QCloseEvent* event) {
    if (!FClosed) {
        Guarded([this] { FormClose(); });
        FUpdates->Stop();
        FAccounts->StopSyncs();
        FClosed = true;
    }
    QMainWindow::closeEvent(event);
    emit formClosed();
}

void TFormMain::OnLanguageChange() {
    TvxLanguage& language = GlobalLanguage();
    language.Translate(this);
    if (ReadingPane)
        ReadingPane->SetItemMenuTexts({LangTextQ("ItemMenuStar", {}, QStringLiteral("Star This Item")),
                                       LangTextQ("ItemMenuUnstar", {}, QStringLiteral("Remove the Star")),
                                       LangTextQ("ArticleReadLink", {}, QStringLiteral("Read the full article"))});
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

void TFormMain::LoadFeedList() {
    FStoredList.reset();
    FStoredList = std::make_unique<feedlist::TStoredFeedList>(*FFeedList, FOptions->GetConfigNode(kItemsPath),
                                                              FOptions->GetConfigNode(feedlist::kCounterPath));
    FStoredList->Load();
}

namespace {

// Where a new or imported feed may go: this computer, then each account;
// the current one is this computer unless the user chose an account last
// time (a feed selected in an account's folder does not send the next one
// there).
struct TFeedTargets {
    QStringList Names;
    std::vector<QTreeWidgetItem*> Nodes;  // the root, then the accounts' nodes
    int Current = 0;
};

TFeedTargets FeedTargets(TFeedTree& tree, const feedlist::TFeedList& list, const std::string& lastAccount) {
    TFeedTargets targets;
    targets.Names << tree.RootNode()->text(0);
    targets.Nodes.push_back(tree.RootNode());
    for (const feedlist::TListEntry* folder : accountlist::AccountFolders(list)) {
        QTreeWidgetItem* account = tree.RowOf(folder);
        if (!account) continue;
        if (!lastAccount.empty() && folder->Folder().Account->Id == lastAccount)
            targets.Current = static_cast<int>(targets.Nodes.size());
        targets.Names << Q(folder->Caption());
        targets.Nodes.push_back(account);
    }
    return targets;
}

}  // namespace

// ---------------------------------------------------------------------------
// Handlers

void TFormMain::ActionImportOPMLExecute() {
    Guarded([this] {
        const QString file = QFileDialog::getOpenFileName(this, QString(FActions.ImportOPML->text()).remove('&'),
                                                          QString(), "OPML (*.opml *.xml);;* (*)");
        if (file.isEmpty()) return;
        // This computer, or an account's server, as Add Feed offers them.
        const TFeedTargets targets =
            FeedTargets(*FTree, *FFeedList, FOptions->GetConfigNode(kAddFeedTargetPath).Text());
        int chosen = 0;
        if (targets.Nodes.size() > 1) {
            bool ok = false;
            const QString name =
                QInputDialog::getItem(this, QString(FActions.ImportOPML->text()).remove('&'),
                                      LangMsgQ("ImportOPMLTarget"), targets.Names, targets.Current, false, &ok);
            if (!ok) return;
            chosen = std::max(0, static_cast<int>(targets.Names.indexOf(name)));
        }
        const TImportResult result = FUpdates->FetchAddedBy([&] {
            return FFeeds->ImportOPML(
                file.toStdString(),
                chosen > 0 ? TFeedTree::EntryOf(targets.Nodes[static_cast<std::size_t>(chosen)]) : nullptr);
        });
        SetStatusText(0, ImportSummary(result));
    });
}

void TFormMain::ActionExportOPMLExecute() {
    Guarded([this] {
        const QString file = QFileDialog::getSaveFileName(this, QString(FActions.ExportOPML->text()).remove('&'),
                                                          "Quillet.opml", "OPML (*.opml);;* (*)");
        if (!file.isEmpty()) FFeeds->ExportOPML(file.toStdString());
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
        dialog.FindExisting = [this](const std::string& url) { return ListedFeedName(*FFeedList, url); };
        // This computer, or an account's server, as chosen last time.
        const TFeedTargets targets =
            FeedTargets(*FTree, *FFeedList, FOptions->GetConfigNode(kAddFeedTargetPath).Text());
        const std::string selectedAccount = TAccountController::AccountIdOf(TFeedTree::EntryOf(FTree->currentItem()));
        dialog.SetTargets(targets.Names, targets.Current);
        if (!address.isEmpty()) dialog.FindFeedsFor(address);
        for (;;) {
            const int answer = dialog.exec();
            if (answer == QDialog::Accepted)
                Guarded([&] {
                    QTreeWidgetItem* where = FTree->currentItem();
                    const int target = dialog.Target();
                    const std::string targetAccount = TAccountController::AccountIdOf(
                        TFeedTree::EntryOf(targets.Nodes[static_cast<std::size_t>(target)]));
                    // The next feed goes where this one went.
                    FOptions->GetConfigNode(kAddFeedTargetPath).SetText(targetAccount);
                    if (target == 0 && !selectedAccount.empty()) where = FTree->RootNode();
                    if (target > 0 && TAccountController::AccountIdOf(TFeedTree::EntryOf(where)) != targetAccount)
                        where = targets.Nodes[static_cast<std::size_t>(target)];
                    const feedlist::TListEntry* added = nullptr;
                    {
                        TWaitCursor wait;
                        added = FFeeds->AddFeed(dialog.URL().toStdString(), TFeedTree::EntryOf(where),
                                                dialog.Caption().toStdString());
                    }
                    if (QTreeWidgetItem* node = FTree->RowOf(added)) FTree->setCurrentItem(node);
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
                const TImportResult result =
                    FUpdates->FetchAddedBy([&] { return FFeeds->ImportOPML(path.toStdString()); });
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
        QTreeWidgetItem* node = FTree->currentItem();
        // An account goes by its settings, which also forget its password.
        if (TFeedTree::IsFolderNode(node) && !TAccountController::AccountIdOf(TFeedTree::EntryOf(node)).empty() &&
            TAccountController::AccountLabelOf(TFeedTree::EntryOf(node)).empty())
            return;
        if (TFeedTree::IsFolderNode(node)) {
            FFeeds->DeleteFolderAsked(TFeedTree::EntryOf(node));
            return;
        }
        if (!TFeedTree::IsFeedNode(node)) return;
        const QString question = LangFmtQ("DeleteConfirm", {node->text(0).toStdString()});
        const auto answer = QMessageBox::question(this, "Confirm", question, QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) return;
        FAccounts->EntryDeleting(TFeedTree::EntryOf(node), false);
        FFeeds->DeleteFeed(TFeedTree::EntryOf(node));
        // The removal is kept at once: a crash must not bring the feed back
        // without its stored copy.
        FOptions->Save();
    });
}

void TFormMain::ActionEditFeedExecute() {
    QTreeWidgetItem* node = FTree->currentItem();
    if (TFeedTree::IsFeedNode(node))
        OpenFeedProperties(node);
    else if (TFeedTree::IsFolderNode(node))
        FTree->editItem(node, 0);
}

void TFormMain::ActionRenameFeedExecute() {
    QTreeWidgetItem* node = FTree->currentItem();
    if (TFeedTree::IsFeedNode(node) || TFeedTree::IsFolderNode(node)) FTree->editItem(node, 0);
}

void TFormMain::ActionCopyURLExecute() {
    Guarded([this] {
        const feedlist::TFeedEntry* feed = TFeedTree::FeedOf(FTree->currentItem());
        if (!feed) return;
        QGuiApplication::clipboard()->setText(Q(feed->Url));
    });
}

void TFormMain::TreeViewChange(QTreeWidgetItem* node) {
    const bool isFeed = TFeedTree::IsFeedNode(node);
    const bool isFolder = TFeedTree::IsFolderNode(node);
    for (QAction* action : {FActions.DeleteFeed, FActions.UpdateFeed, FActions.EditFeed, FActions.RenameFeed})
        action->setEnabled(isFeed || isFolder);
    FActions.CopyURL->setEnabled(isFeed);
    FActions.MarkRead->setEnabled(isFeed || isFolder || node == FTree->RootNode());
    FActions.MarkUnread->setEnabled(isFeed || isFolder || node == FTree->RootNode());
    MenuMoveTo->setEnabled(isFeed || isFolder);
    // Local feeds and folders can go to an account's server.
    MenuMoveToAccount->menuAction()->setVisible((isFeed || isFolder) &&
                                                TAccountController::AccountIdOf(TFeedTree::EntryOf(node)).empty() &&
                                                !accountlist::AccountFolders(*FFeedList).empty());
    if (node) ShowFeed(node);
}

void TFormMain::SplitterVMoved() {
    if (StatusPanel0->width() != FTree->width()) StatusPanel0->setFixedWidth(FTree->width());
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && watched == windowHandle()) {
        if (FAwaitingExposure && windowHandle()->isExposed()) StartUpdateThreadAfterPaint();
        return QMainWindow::eventFilter(watched, event);
    }
    if (watched == FeedFilter && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        FeedFilter->clear();
        FTree->setFocus(Qt::OtherFocusReason);
        return true;
    }
    if (event->type() == QEvent::Resize && watched == FTree) SplitterVMoved();
    return QMainWindow::eventFilter(watched, event);
}

void TFormMain::ActionOptionsExecute() {
    Guarded([this] {
        TFormOptions dialog(this, *FOptions, FShortcuts);
        dialog.exec();
    });
}

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
