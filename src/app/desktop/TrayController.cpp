#include "TrayController.h"

#include <QAction>

#include "TrayIcon.h"

TTrayController::TTrayController(THost host, QAction* show, QAction* hide, QObject* parent)
    : QObject(parent), FHost(std::move(host)), FShow(show), FHide(hide) {
    setObjectName("TrayController");
}

void TTrayController::ActionShowQuilletExecute() {
    FHost.TrayIcon()->ShowMainForm();
    FShow->setVisible(false);
    FHide->setVisible(true);
}

void TTrayController::ActionHideQuilletExecute() {
    FHost.TrayIcon()->HideMainForm();
    FHide->setVisible(false);
    FShow->setVisible(true);
}

void TTrayController::TrayIconDblClick() { ActionShowQuilletExecute(); }

void TTrayController::ApplicationEvents1Minimize() { ActionHideQuilletExecute(); }

void TTrayController::TrayIconClick() { FHost.RepeatBalloon(); }

void TTrayController::TrayIconBalloonHintClick() {
    FHost.TrayIcon()->ShowMainForm();
    FHost.ShowFeed(FHost.BalloonFeedId());
}
