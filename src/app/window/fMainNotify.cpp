// The main window's side of notifications: it places the controller's
// "Notify About New Items" in its menus, tells it of the selection, and shows
// its balloons in the tray icon.
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

#include "NotifyController.h"
#include "SpokenStatus.h"

void TFormMain::ConnectNotifications() {
    TNotifyController::THost host;
    host.Options = [this] { return FOptions.get(); };
    host.FeedList = FFeedList.get();
    host.SelectedFeed = [this] {
        return FTree->IsFeedNode(FTree->currentItem()) ? TFeedTree::EntryOf(FTree->currentItem()) : nullptr;
    };
    host.ShowStatus = [this](const QString& text) { SetStatusText(0, text); };
    host.ScheduleConfigSave = [this] { ScheduleConfigSave(); };
    host.ShowBalloon = [this](const QString& title, const QString& text, int timeoutSeconds) {
        if (TrayIcon) TrayIcon->ShowBalloonHint(title, text, TBalloonHintIcon::bitInfo, timeoutSeconds);
    };
    host.Say = [this](const QString& words) {
        if (TSpokenStatus* spoken = TSpokenStatus::Of(this)) spoken->Say(words);
    };
    FNotify = new TNotifyController(std::move(host), this);

    // After "Copy URL" in both menus: the feed's own settings stay together.
    for (QMenu* menu : {FeedMenu, PopupMenuFeedList}) {
        const QList<QAction*> actions = menu->actions();
        const qsizetype copy = actions.indexOf(FActions.CopyURL);
        menu->insertAction(copy >= 0 && copy + 1 < actions.size() ? actions[copy + 1] : nullptr, FNotify->Action());
        connect(menu, &QMenu::aboutToShow, FNotify, &TNotifyController::RefreshAction);
    }
    connect(FTree, &QTreeWidget::currentItemChanged, FNotify, &TNotifyController::RefreshAction);
    connect(this, &TFormMain::feedDeleted, FNotify, &TNotifyController::FeedDeleted);
    connect(this, &TFormMain::feedUpdateFinished, FNotify, &TNotifyController::NoteUpdate);
}
