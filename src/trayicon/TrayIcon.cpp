#include "TrayIcon.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QThread>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <climits>

namespace {

// Limits of the desktop's record, in characters.
constexpr int MaxTipChars = 127;
constexpr int MaxBalloonTitleChars = 63;
constexpr int MaxBalloonTextChars = 255;

// How often the exit check looks whether the cursor has left the icon.
constexpr int MouseLeaveCheckMs = 20;

constexpr unsigned PlainRecordFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

bool AutoPopupOn(const QMenu* Menu) {
    const QVariant Value = Menu->property(TTrayIcon::AutoPopupProperty);
    return !Value.isValid() || Value.toBool();
}

}  // namespace

QString CutToChars(const QString& Text, int MaxChars) {
    if (MaxChars <= 0) return QString();
    if (Text.size() <= MaxChars) return Text;
    // Walk code points, so that a character outside the basic plane (an
    // emoji in a feed title) counts once and is never cut in half.
    qsizetype Pos = 0;
    int Chars = 0;
    while (Pos < Text.size() && Chars < MaxChars) {
        if (Text.at(Pos).isHighSurrogate() && Pos + 1 < Text.size() && Text.at(Pos + 1).isLowSurrogate())
            Pos += 2;
        else
            Pos += 1;
        ++Chars;
    }
    return Text.left(Pos);
}

TTrayIcon::TTrayIcon(QWidget* Owner, std::unique_ptr<TTrayNotifyArea> Area)
    : QObject(Owner),
      FOwner(Owner),
      FArea(std::move(Area)),
      FIconCycleTimer(1000, [this](TPlainTimer*) { CycleStep(); }),
      FClickDelayTimer(1000, [this](TPlainTimer*) { ClickDelayElapsed(); }),
      FMouseLeaveTimer(MouseLeaveCheckMs, [this](TPlainTimer*) { MouseLeaveCheck(); }) {
    if (!FArea) FArea = std::make_unique<TQtTrayNotifyArea>();
    FArea->SetCallbackSink([this](TTrayCallback Callback) { HandleTrayCallback(Callback); });
    FNotifyRecord.Flags = PlainRecordFlags;
    if (FOwner) FOwner->installEventFilter(this);
}

TTrayIcon::~TTrayIcon() {
    if (FIconVisible) HideIcon();
    FArea->SetCallbackSink(nullptr);
}

// ---------------------------------------------------------------------------
// Properties

void TTrayIcon::SetIconList(const QList<QIcon>& Value) {
    FIconList = Value;
    SetIconIndex(0);
}

void TTrayIcon::SetIconIndex(int Value) {
    if (FIconList.isEmpty()) {
        // No images (or an empty list): nothing to select, and no index that
        // could point outside the list later.
        FIconIndex = 0;
        ModifyIcon();
        return;
    }
    const int Last = int(FIconList.size()) - 1;
    FIconIndex = std::clamp(Value, 0, Last);
    CopyImageToIcon(FIconIndex);  // hands the new icon to the desktop
}

void TTrayIcon::CopyImageToIcon(int Index) { SetIcon(FIconList.at(Index)); }

void TTrayIcon::SetCycleIcons(bool Value) {
    FCycleIcons = Value;
    if (Value) {
        SetIconIndex(0);
        FIconCycleTimer.SetInterval(int(std::min<unsigned>(FCycleInterval, INT_MAX)));
        FIconCycleTimer.SetEnabled(true);  // fails, and stays off, with interval 0
    } else {
        FIconCycleTimer.SetEnabled(false);
    }
}

void TTrayIcon::SetCycleInterval(unsigned Value) {
    FCycleInterval = Value;
    SetCycleIcons(FCycleIcons);
}

void TTrayIcon::SetHint(const QString& Value) {
    FHint = Value;
    ModifyIcon();
}

void TTrayIcon::SetShowHint(bool Value) {
    FShowHint = Value;
    ModifyIcon();
}

void TTrayIcon::SetIcon(const QIcon& Value) {
    FIcon = Value;
    ModifyIcon();
}

void TTrayIcon::SetIconVisible(bool Value) {
    if (Value)
        ShowIcon();
    else
        HideIcon();
}

void TTrayIcon::SetWantEnterExitEvents(bool Value) {
    FWantEnterExitEvents = Value;
    FMouseLeaveTimer.SetEnabled(Value);
}

// ---------------------------------------------------------------------------
// The record and the notification area

bool TTrayIcon::RefreshNotifyRecord() {
    FNotifyRecord.Icon = FIcon;
    FNotifyRecord.Tip = (!FHint.isEmpty() && FShowHint) ? CutToChars(FHint, MaxTipChars) : QString();
    return true;
}

bool TTrayIcon::ShowIcon() {
    FIconVisible = true;
    RefreshNotifyRecord();
    return FArea->Add(FNotifyRecord);
}

bool TTrayIcon::HideIcon() {
    FIconVisible = false;
    RefreshNotifyRecord();
    return FArea->Delete(FNotifyRecord);
}

bool TTrayIcon::ModifyIcon() {
    RefreshNotifyRecord();
    return FArea->Modify(FNotifyRecord);
}

bool TTrayIcon::Loaded() {
    bool ShowMain = true;
    if (FOwner) {
        if (auto Handler = FOnStartup) Handler(this, ShowMain);
        // Without a notification area a hidden window could never be
        // brought back, so it is shown whatever the handler said.
        if (!ShowMain && !CanHideToTray()) ShowMain = true;
        if (!ShowMain) HideMainForm();
    }
    ModifyIcon();
    SetIconVisible(FIconVisible);
    SetCycleIcons(FCycleIcons);
    SetWantEnterExitEvents(FWantEnterExitEvents);
    return ShowMain;
}

// ---------------------------------------------------------------------------
// Balloon hints

void TTrayIcon::HideBalloonHint() {
    FNotifyRecord.Flags |= NIF_INFO;
    FNotifyRecord.BalloonText.clear();
    ModifyIcon();
}

bool TTrayIcon::ShowBalloonHint(const QString& Title, const QString& Text, TBalloonHintIcon Kind, int TimeoutSeconds) {
    if (QThread::currentThread() != thread()) {
        // The polling thread announces new items; the icon and the desktop
        // belong to the user-interface thread, so the balloon goes there.
        QMetaObject::invokeMethod(
            this, [this, Title, Text, Kind, TimeoutSeconds] { ShowBalloonHint(Title, Text, Kind, TimeoutSeconds); },
            Qt::QueuedConnection);
        return true;
    }

    HideBalloonHint();  // a balloon still showing goes first
    FNotifyRecord.Flags |= NIF_INFO;
    FNotifyRecord.BalloonText = CutToChars(Text, MaxBalloonTextChars);
    FNotifyRecord.BalloonTitle = CutToChars(Title, MaxBalloonTitleChars);
    // The desktop takes the time-out as one byte of seconds; an out-of-range
    // setting is held to the nearest end instead of wrapping around.
    FNotifyRecord.BalloonTimeoutMs = unsigned(std::clamp(TimeoutSeconds, 0, 255)) * 1000u;
    FNotifyRecord.BalloonIcon = Kind;
    const bool Result = ModifyIcon();
    // Later changes of icon or tip must not put the balloon up again.
    FNotifyRecord.Flags = PlainRecordFlags;
    return Result;
}

// ---------------------------------------------------------------------------
// The owner window

bool TTrayIcon::CanHideToTray() const { return FArea->Available(); }

void TTrayIcon::ShowMainForm() {
    if (!FOwner) return;
    const Qt::WindowStates State = FOwner->windowState();
    if (State & Qt::WindowMinimized) FOwner->setWindowState(State & ~Qt::WindowMinimized);
    FOwner->show();
    FOwner->raise();
    FOwner->activateWindow();
}

void TTrayIcon::HideMainForm() {
    if (!FOwner) return;
    // A hidden top-level window has no taskbar entry either.
    FOwner->hide();
}

void TTrayIcon::MinimizeToTrayNow() {
    if (!CanHideToTray()) return;
    HideMainForm();
    SetIconVisible(true);
}

bool TTrayIcon::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == FOwner && FOwner) {
        const QEvent::Type Type = Event->type();
        // A window shown already minimised (started in the tray) goes the
        // same way as one minimised by the user.
        if ((Type == QEvent::WindowStateChange || Type == QEvent::Show) && FOwner->isMinimized()) QueueMinimizeToTray();
    }
    return QObject::eventFilter(Watched, Event);
}

void TTrayIcon::QueueMinimizeToTray() {
    if (!FMinimizeToTray || !CanHideToTray() || FMinimizeQueued) return;
    // Hiding the window in the middle of its own state change confuses some
    // window managers; hide it once the change is complete.
    FMinimizeQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FMinimizeQueued = false;
            // The user may have restored the window in the meantime, or it
            // is in the tray already (the desktop confirming a state change
            // late must not announce a second minimise).
            if (!FOwner || !FOwner->isVisible() || !FOwner->isMinimized() || !FMinimizeToTray || !CanHideToTray())
                return;
            if (auto Handler = FOnMinimizeToTray) Handler(this);
            MinimizeToTrayNow();
        },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// Callbacks from the notification area

void TTrayIcon::HandleTrayCallback(TTrayCallback Callback) {
    // Balloon notifications come whatever Enabled says: the application
    // still wants to know that its message was clicked.
    switch (Callback) {
        case TTrayCallback::BalloonShow:
            if (auto Handler = FOnBalloonHintShow) Handler(this);
            return;
        case TTrayCallback::BalloonHide:
            if (auto Handler = FOnBalloonHintHide) Handler(this);
            return;
        case TTrayCallback::BalloonTimeout:
            if (auto Handler = FOnBalloonHintTimeout) Handler(this);
            return;
        case TTrayCallback::BalloonUserClick:
            if (auto Handler = FOnBalloonHintClick) Handler(this);
            return;
        default:
            break;
    }

    if (!FEnabled) return;

    switch (Callback) {
        case TTrayCallback::MouseMove: {
            if (FWantEnterExitEvents && FMouseOutside) {
                MouseEnter();
                FMouseOutside = false;
            }
            const QPoint Pos = FArea->CursorPos().value_or(QPoint());
            MouseMove(FArea->KeyShiftState(), Pos.x(), Pos.y());
            FLastMousePos = Pos;
            break;
        }
        case TTrayCallback::LeftButtonDown:
            if (FOnDblClick) {
                // Wait one double-click time before calling it a single click.
                FClickDelayTimer.SetInterval(FArea->DoubleClickTime());
                FClickDelayTimer.SetEnabled(true);
            }
            MouseButtonEvent(true, TMouseButton::mbLeft);
            FLeftDown = true;
            if (FLeftPopup) ShowMenuAtCursor();
            break;
        case TTrayCallback::LeftButtonUp:
            if (FLeftDown) {
                FClickPending = true;
                if (!FClickDelayTimer.Enabled()) {
                    FClickPending = false;
                    FDblClickSeen = false;
                    FLeftDown = false;
                    Click();
                }
            }
            FLeftDown = false;
            MouseButtonEvent(false, TMouseButton::mbLeft);
            break;
        case TTrayCallback::LeftButtonDblClick:
            FClickPending = false;
            FDblClickSeen = true;
            DblClick();
            if (FPopupMenu && AutoPopupOn(FPopupMenu) && !FLeftPopup) {
                if (QAction* Default = FPopupMenu->defaultAction()) Default->trigger();
            }
            break;
        case TTrayCallback::RightButtonDown:
            MouseButtonEvent(true, TMouseButton::mbRight);
            ShowMenuAtCursor();
            break;
        case TTrayCallback::RightButtonUp:
            MouseButtonEvent(false, TMouseButton::mbRight);
            break;
        case TTrayCallback::MiddleButtonDown:
            MouseButtonEvent(true, TMouseButton::mbMiddle);
            break;
        case TTrayCallback::MiddleButtonUp:
            MouseButtonEvent(false, TMouseButton::mbMiddle);
            break;
        default:
            break;
    }
}

void TTrayIcon::MouseButtonEvent(bool Down, TMouseButton Button) {
    TShiftState Shift = FArea->KeyShiftState();
    switch (Button) {
        case TMouseButton::mbLeft:
            Shift |= ssLeft;
            break;
        case TMouseButton::mbRight:
            Shift |= ssRight;
            break;
        case TMouseButton::mbMiddle:
            Shift |= ssMiddle;
            break;
    }
    const QPoint Pos = FArea->CursorPos().value_or(QPoint());
    if (Down)
        MouseDown(Button, Shift, Pos.x(), Pos.y());
    else
        MouseUp(Button, Shift, Pos.x(), Pos.y());
}

void TTrayIcon::ClickDelayElapsed() {
    FClickDelayTimer.SetEnabled(false);
    if (!FDblClickSeen && FClickPending) {
        FClickPending = false;
        Click();
    }
    FDblClickSeen = false;
}

void TTrayIcon::ShowMenuAtCursor() {
    QMenu* Menu = FPopupMenu;
    if (!Menu || !AutoPopupOn(Menu)) return;
    const std::optional<QPoint> Pos = FArea->CursorPos();
    if (!Pos) return;
    Menu->setProperty(PopupComponentProperty, QVariant::fromValue<QObject*>(this));
    Menu->popup(*Pos);
}

void TTrayIcon::MouseLeaveCheck() {
    if (FMouseOutside) return;
    const std::optional<QPoint> Pos = FArea->CursorPos();
    if (!Pos) return;
    if (Pos->x() != FLastMousePos.x() || Pos->y() != FLastMousePos.y()) {
        FMouseOutside = true;
        MouseExit();
    }
}

void TTrayIcon::CycleStep() {
    if (FIconList.isEmpty()) return;
    CopyImageToIcon(std::clamp(FIconIndex, 0, int(FIconList.size()) - 1));
    const int NextIndex = FIconIndex >= int(FIconList.size()) - 1 ? 0 : FIconIndex + 1;
    Cycle(NextIndex);
    SetIconIndex(NextIndex);
}

// ---------------------------------------------------------------------------
// Event raisers. Each calls a copy of its handler: a handler may replace
// itself while it runs.

void TTrayIcon::Click() {
    if (auto Handler = FOnClick) Handler(this);
}

void TTrayIcon::DblClick() {
    if (auto Handler = FOnDblClick) Handler(this);
}

void TTrayIcon::Cycle(int NextIndex) {
    if (auto Handler = FOnCycle) Handler(this, NextIndex);
}

void TTrayIcon::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (auto Handler = FOnMouseDown) Handler(this, Button, Shift, X, Y);
}

void TTrayIcon::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (auto Handler = FOnMouseUp) Handler(this, Button, Shift, X, Y);
}

void TTrayIcon::MouseMove(TShiftState Shift, int X, int Y) {
    if (auto Handler = FOnMouseMove) Handler(this, Shift, X, Y);
}

void TTrayIcon::MouseEnter() {
    if (auto Handler = FOnMouseEnter) Handler(this);
}

void TTrayIcon::MouseExit() {
    if (auto Handler = FOnMouseExit) Handler(this);
}
