#include "TrayNotifyArea.h"

#include "DesktopNotifications.h"

#include <QCursor>
#include <QGuiApplication>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

QSystemTrayIcon::MessageIcon ToQtMessageIcon(TBalloonHintIcon Kind) {
    switch (Kind) {
        case TBalloonHintIcon::bitInfo:
            return QSystemTrayIcon::Information;
        case TBalloonHintIcon::bitWarning:
            return QSystemTrayIcon::Warning;
        case TBalloonHintIcon::bitError:
            return QSystemTrayIcon::Critical;
        case TBalloonHintIcon::bitNone:
            break;
    }
    return QSystemTrayIcon::NoIcon;
}

// How long a balloon stays when the caller leaves it to the desktop; desktops
// that honour the hint at all use about this much.
constexpr int DefaultBalloonMs = 10000;

}  // namespace

TQtTrayNotifyArea::TQtTrayNotifyArea(QObject* Parent)
    : QObject(Parent), FTrayIcon(new QSystemTrayIcon(this)), FBalloonTimer(new QTimer(this)) {
    FBalloonTimer->setSingleShot(true);
    connect(FBalloonTimer, &QTimer::timeout, this, [this] {
        FBalloonShowing = false;
        Report(TTrayCallback::BalloonTimeout);
    });

    // Qt reports presses only; the component expects the button's way down
    // and back up, as a mouse gives them.
    connect(FTrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason Reason) {
        switch (Reason) {
            case QSystemTrayIcon::Trigger:
                LeftClicked();
                break;
            case QSystemTrayIcon::DoubleClick:
                LeftDoubleClicked();
                break;
            case QSystemTrayIcon::Context:
                Report(TTrayCallback::RightButtonDown);
                Report(TTrayCallback::RightButtonUp);
                break;
            case QSystemTrayIcon::MiddleClick:
                Report(TTrayCallback::MiddleButtonDown);
                Report(TTrayCallback::MiddleButtonUp);
                break;
            case QSystemTrayIcon::Unknown:
                break;
        }
    });
    connect(FTrayIcon, &QSystemTrayIcon::messageClicked, this, [this] {
        FBalloonTimer->stop();
        FBalloonShowing = false;
        Report(TTrayCallback::BalloonUserClick);
    });
}

TQtTrayNotifyArea::~TQtTrayNotifyArea() {
    FBalloonTimer->stop();
    FTrayIcon->hide();
}

bool TQtTrayNotifyArea::Available() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

bool TQtTrayNotifyArea::Add(const TNotifyIconData& Data) {
    if (FAdded) return false;
    Apply(Data);
    FTrayIcon->show();
    FAdded = true;
    return Available();
}

bool TQtTrayNotifyArea::Modify(const TNotifyIconData& Data) {
    if (!FAdded) return false;
    Apply(Data);
    if (Data.Flags & NIF_INFO) {
        if (Data.BalloonText.isEmpty())
            HideBalloon();
        else if (ShowBalloon(Data))
            return true;
    }
    return Available();
}

bool TQtTrayNotifyArea::Delete(const TNotifyIconData&) {
    if (!FAdded) return false;
    HideBalloon();
    FTrayIcon->hide();
    FAdded = false;
    return true;
}

std::optional<QPoint> TQtTrayNotifyArea::CursorPos() const { return QCursor::pos(); }

TShiftState TQtTrayNotifyArea::KeyShiftState() const {
    const Qt::KeyboardModifiers Modifiers = QGuiApplication::queryKeyboardModifiers();
    TShiftState Shift = 0;
    if (Modifiers & Qt::ShiftModifier) Shift |= ssShift;
    if (Modifiers & Qt::AltModifier) Shift |= ssAlt;
    if (Modifiers & Qt::ControlModifier) Shift |= ssCtrl;
    return Shift;
}

int TQtTrayNotifyArea::DoubleClickTime() const { return QGuiApplication::styleHints()->mouseDoubleClickInterval(); }

void TQtTrayNotifyArea::LeftClicked() {
    // A second click within the double-click time is the second half of a
    // double-click, whether or not Qt also reports one.
    if (FLastClick.isValid() && FLastClick.elapsed() <= DoubleClickTime()) {
        FLastClick.invalidate();
        FMadeUpDoubleClick.start();
        Report(TTrayCallback::LeftButtonDblClick);
        Report(TTrayCallback::LeftButtonUp);
        return;
    }
    FLastClick.start();
    Report(TTrayCallback::LeftButtonDown);
    Report(TTrayCallback::LeftButtonUp);
}

void TQtTrayNotifyArea::LeftDoubleClicked() {
    FLastClick.invalidate();
    // Qt's own report of the double-click already made from two clicks.
    if (FMadeUpDoubleClick.isValid() && FMadeUpDoubleClick.elapsed() <= DoubleClickTime()) {
        FMadeUpDoubleClick.invalidate();
        return;
    }
    Report(TTrayCallback::LeftButtonDblClick);
    Report(TTrayCallback::LeftButtonUp);
}

void TQtTrayNotifyArea::Apply(const TNotifyIconData& Data) {
    if (Data.Flags & NIF_ICON) FTrayIcon->setIcon(Data.Icon);
    if (Data.Flags & NIF_TIP) FTrayIcon->setToolTip(Data.Tip);
}

void TQtTrayNotifyArea::SetDesktopNotifications(TDesktopNotifications* Notifications) {
    if (FDesktop && FDesktop != Notifications) FDesktop->SetCallbackSink({});
    FDesktop = Notifications;
    FDesktopLookedUp = true;
    FDesktopShowing = false;
    if (FDesktop)
        FDesktop->SetCallbackSink([this](TTrayCallback Callback) {
            if (Callback != TTrayCallback::BalloonShow) FDesktopShowing = false;
            Report(Callback);
        });
}

TDesktopNotifications* TQtTrayNotifyArea::DesktopNotifications() {
    if (!FDesktopLookedUp) {
        FDesktopLookedUp = true;
        if (auto Bus = TDesktopNotifications::SessionBus())
            SetDesktopNotifications(new TDesktopNotifications(*Bus, this));
    }
    return FDesktop;
}

bool TQtTrayNotifyArea::ShowBalloon(const TNotifyIconData& Data) {
    const int Timeout = Data.BalloonTimeoutMs > 0 ? int(Data.BalloonTimeoutMs) : DefaultBalloonMs;
    if (!Available() || !QSystemTrayIcon::supportsMessages()) {
        // No notification area: the desktop's notification service, if
        // there is one; otherwise nothing is shown and nothing reported.
        TDesktopNotifications* Desktop = DesktopNotifications();
        if (!Desktop || !Desktop->Show(Data.BalloonTitle, Data.BalloonText, Data.BalloonIcon, Timeout)) return false;
        FDesktopShowing = true;
        return true;
    }
    FTrayIcon->showMessage(Data.BalloonTitle, Data.BalloonText, ToQtMessageIcon(Data.BalloonIcon), Timeout);
    FBalloonShowing = true;
    FBalloonTimer->start(Timeout);
    ReportLater(TTrayCallback::BalloonShow);
    return true;
}

void TQtTrayNotifyArea::HideBalloon() {
    // Qt has no call to withdraw a message; the desktop lets it expire. What
    // can be done is to stop waiting for it and say it is gone.
    if (FDesktopShowing && FDesktop) {
        FDesktopShowing = false;
        FDesktop->Close();
        ReportLater(TTrayCallback::BalloonHide);
        return;
    }
    if (!FBalloonShowing) return;
    FBalloonTimer->stop();
    FBalloonShowing = false;
    ReportLater(TTrayCallback::BalloonHide);
}

void TQtTrayNotifyArea::ReportLater(TTrayCallback Callback) {
    // The desktop tells about balloons after the call that showed them has
    // returned; so do we, and the caller is not re-entered.
    QMetaObject::invokeMethod(
        this, [this, Callback] { Report(Callback); }, Qt::QueuedConnection);
}
