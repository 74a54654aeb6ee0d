// The main window's side of the update cycle: it wires Update Feed and
// Update All to the controller and answers what the controller asks of the
// feed tree, the status bar and the window's exposure.
#include "fMain.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

#include "FeedListController.h"
#include "FeedTree.h"
#include "ReadingPane.h"
#include "TrayIcon.h"

#include <QWindow>

#include "AccountController.h"
#include "FeedHealthController.h"
#include "NotifyController.h"
#include "ReadStateController.h"
#include "UpdateController.h"

void TFormMain::ConnectUpdates() {
    TUpdateController::THost host;
    host.Options = [this] { return FOptions.get(); };
    host.Closed = [this] { return FClosed; };
    host.RootNode = [this] { return FTree->RootNode(); };
    host.FindFeedNode = [this](const std::string& id) { return FTree->FindFeedNodeById(id); };
    host.FeedList = FFeedList.get();
    host.Feed = [](QTreeWidgetItem* node) { return TFeedTree::FeedOf(node); };
    host.FeedNodesUnder = [this](QTreeWidgetItem* node) { return FTree->FeedNodesUnder(node); };
    host.IsFolder = [](QTreeWidgetItem* node) { return TFeedTree::IsFolderNode(node); };
    host.ListVersion = [this] { return FTree->ListVersion(); };
    host.AccountIdOf = [this](QTreeWidgetItem* node) { return FAccounts->AccountIdOf(node); };
    host.SyncAccount = [this](const std::string& accountId) { FAccounts->Sync(accountId); };
    host.RowState = [](QTreeWidgetItem* node) -> std::optional<TUpdateController::TRowState> {
        if (!node || node->type() != TFeedNode::kType) return std::nullopt;
        const auto* feed = static_cast<const TFeedNode*>(node);
        return TUpdateController::TRowState{feed->Busy(), feed->Failure(), feed->FailureTime()};
    };
    host.SetRowState = [](QTreeWidgetItem* node, const TUpdateController::TRowState& state) {
        auto* feed = static_cast<TFeedNode*>(node);
        feed->SetBusy(state.Busy);
        feed->SetFailure(state.Failure, state.FailureTime);
    };
    host.ShowRowState = [this](QTreeWidgetItem* node, const QIcon& icon, const QString& toolTip) {
        static_cast<TFeedNode*>(node)->ShowState(icon, toolTip);
        if (FTree && node->treeWidget() == FTree) FTree->viewport()->update(FTree->visualItemRect(node));
    };
    host.RefreshIfShown = [this](QTreeWidgetItem* node) {
        if (FTree->currentItem() == node) ShowFeed(node);
    };
    host.ShowStatus = [this](const QString& text) { SetStatusText(0, text); };
    host.StatusText = [this] { return StatusText(0); };
    host.ScheduleConfigSave = [this] { ScheduleConfigSave(); };
    host.EnableUpdateAll = [this](bool enabled) { FActions.UpdateAll->setEnabled(enabled); };
    host.TreeIcon = [this](const QString& path) { return FTree->Icon(path); };
    host.AwaitingScreen = [this] { return FAwaitingExposure && !(windowHandle() && windowHandle()->isExposed()); };
    FUpdates = std::make_unique<TUpdateController>(std::move(host), *FItems, *FNotify, *FFeedHealth);

    connect(FActions.UpdateFeed, &QAction::triggered, this,
            [this] { Guarded([this] { FUpdates->UpdateNode(FTree->currentItem()); }); });
    connect(FActions.UpdateAll, &QAction::triggered, this, [this] { Guarded([this] { FUpdates->UpdateAll(); }); });
    connect(this, &TFormMain::feedDeleted, FUpdates.get(), &TUpdateController::FeedDeleted);
    connect(FUpdates.get(), &TUpdateController::feedUpdateFinished, this, &TFormMain::feedUpdateFinished);
}
