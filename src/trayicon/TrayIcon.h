#pragma once

// TTrayIcon: the program's icon in the desktop's notification area.
//
// It turns the desktop's mouse callbacks into component events (click,
// double-click, mouse down/up/move, enter/exit), shows the popup menu, shows
// balloon hints, cycles the icon through an image list and hides the owner
// window to the tray when it is minimised.
//
// Events are std::function values set with SetOn<Event>(...) and read with
// On<Event>(); an empty function means "no handler assigned". Whether a
// handler is assigned matters: with an OnDblClick handler a single click is
// reported one double-click time late (so that a double-click reports only
// OnDblClick); without one OnClick comes at once on button up. Sender is
// always the TTrayIcon.
//
// Typical set-up by a main window:
//     FTrayIcon = new TTrayIcon(this);              // owned by the window
//     FTrayIcon->SetIconList(smallImages);
//     FTrayIcon->SetPopupMenu(trayMenu);
//     FTrayIcon->SetMinimizeToTray(true);
//     FTrayIcon->SetOnClick([this](TTrayIcon*) { TrayIconClick(); });
//     FTrayIcon->SetOnDblClick(...);  FTrayIcon->SetOnBalloonHintClick(...);
//     FTrayIcon->SetIconVisible(true);
//     if (FTrayIcon->Loaded()) show();   // Loaded() runs OnStartup
//
// Everything runs on the user-interface thread, except ShowBalloonHint, which
// may be called from any thread: off that thread it is carried over to it.
//
// Where the desktop has no notification area, minimising never hides the
// window (nothing would be left to bring it back) and balloons show nothing.

#include "PlainTimer.h"
#include "TrayNotifyArea.h"

#include <QIcon>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

class TTrayIcon;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

using TTrayNotifyEvent = std::function<void(TTrayIcon* Sender)>;
using TTrayMouseEvent = std::function<void(TTrayIcon* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TTrayMouseMoveEvent = std::function<void(TTrayIcon* Sender, TShiftState Shift, int X, int Y)>;
using TCycleEvent = std::function<void(TTrayIcon* Sender, int NextIndex)>;
using TStartupEvent = std::function<void(TTrayIcon* Sender, bool& ShowMainForm)>;

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    // A QMenu's automatic popup: set this dynamic property to false on the
    // menu to keep the icon from opening it on a click (it is on when unset).
    static constexpr const char* AutoPopupProperty = "autoPopup";
    // The icon that opened a menu is stored on the menu under this property.
    static constexpr const char* PopupComponentProperty = "popupComponent";

    // Owner: the main window, which the icon hides and shows; also the
    // QObject parent. Area: the notification area; by default the desktop's.
    explicit TTrayIcon(QWidget* Owner, std::unique_ptr<TTrayNotifyArea> Area = nullptr);
    ~TTrayIcon() override;

    // --- properties -------------------------------------------------------
    const QList<QIcon>& IconList() const { return FIconList; }
    void SetIconList(const QList<QIcon>& Value);  // also IconIndex := 0

    bool CycleIcons() const { return FCycleIcons; }
    void SetCycleIcons(bool Value);

    unsigned CycleInterval() const { return FCycleInterval; }
    void SetCycleInterval(unsigned Value);

    // When false, mouse callbacks raise no events and open no menu; balloon
    // events still arrive.
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value) { FEnabled = Value; }

    const QString& Hint() const { return FHint; }
    void SetHint(const QString& Value);

    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool Value);

    const QIcon& Icon() const { return FIcon; }
    void SetIcon(const QIcon& Value);

    bool IconVisible() const { return FIconVisible; }
    void SetIconVisible(bool Value);

    // Index into IconList; clamped to the list, 0 without images.
    int IconIndex() const { return FIconIndex; }
    void SetIconIndex(int Value);

    QMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(QMenu* Value) { FPopupMenu = Value; }

    bool LeftPopup() const { return FLeftPopup; }
    void SetLeftPopup(bool Value) { FLeftPopup = Value; }

    bool WantEnterExitEvents() const { return FWantEnterExitEvents; }
    void SetWantEnterExitEvents(bool Value);

    bool MinimizeToTray() const { return FMinimizeToTray; }
    void SetMinimizeToTray(bool Value) { FMinimizeToTray = Value; }

    // --- events -----------------------------------------------------------
    const TTrayNotifyEvent& OnClick() const { return FOnClick; }
    void SetOnClick(TTrayNotifyEvent Value) { FOnClick = std::move(Value); }
    const TTrayNotifyEvent& OnDblClick() const { return FOnDblClick; }
    void SetOnDblClick(TTrayNotifyEvent Value) { FOnDblClick = std::move(Value); }
    const TTrayMouseEvent& OnMouseDown() const { return FOnMouseDown; }
    void SetOnMouseDown(TTrayMouseEvent Value) { FOnMouseDown = std::move(Value); }
    const TTrayMouseEvent& OnMouseUp() const { return FOnMouseUp; }
    void SetOnMouseUp(TTrayMouseEvent Value) { FOnMouseUp = std::move(Value); }
    const TTrayMouseMoveEvent& OnMouseMove() const { return FOnMouseMove; }
    void SetOnMouseMove(TTrayMouseMoveEvent Value) { FOnMouseMove = std::move(Value); }
    const TTrayNotifyEvent& OnMouseEnter() const { return FOnMouseEnter; }
    void SetOnMouseEnter(TTrayNotifyEvent Value) { FOnMouseEnter = std::move(Value); }
    const TTrayNotifyEvent& OnMouseExit() const { return FOnMouseExit; }
    void SetOnMouseExit(TTrayNotifyEvent Value) { FOnMouseExit = std::move(Value); }
    const TCycleEvent& OnCycle() const { return FOnCycle; }
    void SetOnCycle(TCycleEvent Value) { FOnCycle = std::move(Value); }
    const TTrayNotifyEvent& OnBalloonHintShow() const { return FOnBalloonHintShow; }
    void SetOnBalloonHintShow(TTrayNotifyEvent Value) { FOnBalloonHintShow = std::move(Value); }
    const TTrayNotifyEvent& OnBalloonHintHide() const { return FOnBalloonHintHide; }
    void SetOnBalloonHintHide(TTrayNotifyEvent Value) { FOnBalloonHintHide = std::move(Value); }
    const TTrayNotifyEvent& OnBalloonHintTimeout() const { return FOnBalloonHintTimeout; }
    void SetOnBalloonHintTimeout(TTrayNotifyEvent Value) { FOnBalloonHintTimeout = std::move(Value); }
    const TTrayNotifyEvent& OnBalloonHintClick() const { return FOnBalloonHintClick; }
    void SetOnBalloonHintClick(TTrayNotifyEvent Value) { FOnBalloonHintClick = std::move(Value); }
    const TTrayNotifyEvent& OnMinimizeToTray() const { return FOnMinimizeToTray; }
    void SetOnMinimizeToTray(TTrayNotifyEvent Value) { FOnMinimizeToTray = std::move(Value); }
    const TStartupEvent& OnStartup() const { return FOnStartup; }
    void SetOnStartup(TStartupEvent Value) { FOnStartup = std::move(Value); }

    // --- operations -------------------------------------------------------
    // Call once after the properties are set: raises OnStartup to decide
    // whether the main window is shown (hiding it if not), then applies the
    // icon, IconVisible, CycleIcons and WantEnterExitEvents. Returns the
    // decision, so the owner knows whether to show itself.
    bool Loaded();

    bool ShowIcon();    // IconVisible := true and add the icon
    bool HideIcon();    // IconVisible := false and remove the icon
    bool ModifyIcon();  // hand the current icon and tip to the desktop

    // Title is cut to 63 characters, Text to 255; TimeoutSeconds is taken as
    // one byte of whole seconds (0-255, out-of-range values are clamped).
    // Returns whether the desktop took the balloon (true when carried over
    // from another thread).
    bool ShowBalloonHint(const QString& Title, const QString& Text, TBalloonHintIcon Kind, int TimeoutSeconds);
    void HideBalloonHint();

    // Brings the owner back from the tray (or from the taskbar) in its normal
    // state and activates it.
    void ShowMainForm();
    // Hides the owner and so its taskbar entry.
    void HideMainForm();
    // HideMainForm, and the icon stays in the notification area.
    virtual void MinimizeToTrayNow();

    // The callbacks the notification area reports; public so that the
    // desktop adapter and tests can feed them.
    void HandleTrayCallback(TTrayCallback Callback);

    // The record last handed to the notification area.
    const TNotifyIconData& NotifyRecord() const { return FNotifyRecord; }
    TTrayNotifyArea& NotifyArea() const { return *FArea; }

protected:
    // Event raisers: each calls its handler if one is assigned.
    virtual void Click();
    virtual void DblClick();
    virtual void Cycle(int NextIndex);
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseMove(TShiftState Shift, int X, int Y);
    virtual void MouseEnter();
    virtual void MouseExit();

    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    bool RefreshNotifyRecord();
    void CopyImageToIcon(int Index);
    void ShowMenuAtCursor();
    void ClickDelayElapsed();
    void MouseLeaveCheck();
    void CycleStep();
    void MouseButtonEvent(bool Down, TMouseButton Button);
    void QueueMinimizeToTray();
    bool CanHideToTray() const;

    QPointer<QWidget> FOwner;
    std::unique_ptr<TTrayNotifyArea> FArea;

    QList<QIcon> FIconList;
    bool FCycleIcons = false;
    unsigned FCycleInterval = 0;
    bool FEnabled = true;
    QString FHint;
    bool FShowHint = true;
    QIcon FIcon;
    bool FIconVisible = false;
    int FIconIndex = 0;
    QPointer<QMenu> FPopupMenu;
    bool FLeftPopup = false;
    bool FWantEnterExitEvents = false;
    bool FMinimizeToTray = false;

    TTrayNotifyEvent FOnClick;
    TTrayNotifyEvent FOnDblClick;
    TTrayMouseEvent FOnMouseDown;
    TTrayMouseEvent FOnMouseUp;
    TTrayMouseMoveEvent FOnMouseMove;
    TTrayNotifyEvent FOnMouseEnter;
    TTrayNotifyEvent FOnMouseExit;
    TCycleEvent FOnCycle;
    TTrayNotifyEvent FOnBalloonHintShow;
    TTrayNotifyEvent FOnBalloonHintHide;
    TTrayNotifyEvent FOnBalloonHintTimeout;
    TTrayNotifyEvent FOnBalloonHintClick;
    TTrayNotifyEvent FOnMinimizeToTray;
    TStartupEvent FOnStartup;

    TNotifyIconData FNotifyRecord;
    TPlainTimer FIconCycleTimer;
    TPlainTimer FClickDelayTimer;
    TPlainTimer FMouseLeaveTimer;

    // Click recognition: idle -> left down -> click pending -> (double-click
    // marked) -> idle when the click decision runs.
    bool FLeftDown = false;
    bool FClickPending = false;
    bool FDblClickSeen = false;
    bool FMouseOutside = true;
    QPoint FLastMousePos;
    bool FMinimizeQueued = false;
};

// Cuts Text to at most MaxChars characters without splitting a surrogate pair.
QString CutToChars(const QString& Text, int MaxChars);
