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
#include "SpokenStatus.h"
#include "UpdateController.h"
#include "uvxLanguage.h"

void TFormMain::ConnectUpdates() {
    TUpdateController::THost host;
    host.Options = [this] { return FOptions.get(); };
    host.Closed = [this] { return FClosed; };
    host.FeedList = FFeedList.get();
    host.ListVersion = [this] { return FTree->ListVersion(); };
    host.SyncAccount = [this](const std::string& accountId) { FAccounts->Sync(accountId); };
    host.RowText = [this](const std::string& id) {
        const QTreeWidgetItem* row = FTree->FindFeedNodeById(id);
        return row ? row->text(0).toStdString() : std::string();
    };
    host.ShowRowState = [this](const std::string& id, const QIcon& icon, const QString& toolTip, const QString& failure,
                               const QString& attention) {
        auto* row = static_cast<TFeedNode*>(FTree->FindFeedNodeById(id));
        if (!row) return;
        // A feed that begins to fail is said aloud; one failing on is not.
        TSpokenStatus* spoken = TSpokenStatus::Of(this);
        if (spoken && !failure.isEmpty() && row->Failure().isEmpty()) {
            const QString name = TFeedTree::FeedName(row->Feed());
            spoken->Say(LangTextQ("SpokenFeedFailing", {name.toStdString(), failure.toStdString()},
                                  name + QStringLiteral(": ") + failure));
        }
        row->ShowState(icon, toolTip, failure, attention);
        FTree->viewport()->update(FTree->visualItemRect(row));
    };
    host.RefreshIfShown = [this](const std::string& id) {
        if (QTreeWidgetItem* row = FTree->currentItem(); row && TFeedTree::FeedIdOf(row) == id) ShowFeed(row);
    };
    host.ShowStatus = [this](const QString& text) { SetStatusText(0, text); };
    host.StatusText = [this] { return StatusText(0); };
    host.ScheduleConfigSave = [this] { ScheduleConfigSave(); };
    host.EnableUpdateAll = [this](bool enabled) { FActions.UpdateAll->setEnabled(enabled); };
    host.TreeIcon = [this](const QString& path) { return FTree->Icon(path); };
    host.AwaitingScreen = [this] { return FAwaitingExposure && !(windowHandle() && windowHandle()->isExposed()); };
    FUpdates = std::make_unique<TUpdateController>(std::move(host), *FItems, *FNotify, *FFeedHealth);

    connect(FActions.UpdateFeed, &QAction::triggered, this,
            [this] { Guarded([this] { FUpdates->UpdateEntry(TFeedTree::EntryOf(FTree->currentItem())); }); });
    connect(FActions.UpdateAll, &QAction::triggered, this, [this] { Guarded([this] { FUpdates->UpdateAll(); }); });
    connect(this, &TFormMain::feedDeleted, FUpdates.get(), &TUpdateController::FeedDeleted);
    connect(FUpdates.get(), &TUpdateController::feedUpdateFinished, this, &TFormMain::feedUpdateFinished);
}
