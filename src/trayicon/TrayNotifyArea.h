#pragma once

// The notification area as TTrayIcon sees it: one record describing the icon
// (image, tip, balloon) with add, modify and delete operations, plus the
// mouse and balloon callbacks the desktop reports back. TQtTrayNotifyArea is
// the real one over QSystemTrayIcon; tests give TTrayIcon a fake and feed it
// callbacks directly.

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class QSystemTrayIcon;
class QTimer;
class TDesktopNotifications;

// Kind of icon drawn in a balloon; passed to the desktop unchanged.
enum class TBalloonHintIcon : std::uint8_t { bitNone = 0, bitInfo = 1, bitWarning = 2, bitError = 3 };

// Which fields of the record a modification carries.
enum TNotifyIconFlag : unsigned {
    NIF_MESSAGE = 0x01,  // callbacks wanted
    NIF_ICON = 0x02,     // Icon is valid
    NIF_TIP = 0x04,      // Tip is valid
    NIF_INFO = 0x10,     // the balloon fields are valid
};

// The icon's record: what the desktop shows for it.
struct TNotifyIconData {
    QIcon Icon;
    QString Tip;           // at most 127 characters
    QString BalloonText;   // at most 255 characters; empty removes the balloon
    QString BalloonTitle;  // at most 63 characters
    unsigned BalloonTimeoutMs = 0;
    TBalloonHintIcon BalloonIcon = TBalloonHintIcon::bitNone;
    unsigned Flags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
};

// What the desktop reports about the icon, in the order a mouse produces it.
enum class TTrayCallback {
    MouseMove,
    LeftButtonDown,
    LeftButtonUp,
    LeftButtonDblClick,
    RightButtonDown,
    RightButtonUp,
    MiddleButtonDown,
    MiddleButtonUp,
    BalloonShow,
    BalloonHide,
    BalloonTimeout,
    BalloonUserClick,
};

// Modifier keys and the mouse button behind a mouse event.
enum TShiftStateFlag : unsigned {
    ssShift = 0x01,
    ssAlt = 0x02,
    ssCtrl = 0x04,
    ssLeft = 0x08,
    ssRight = 0x10,
    ssMiddle = 0x20,
};
using TShiftState = unsigned;

class TTrayNotifyArea {
public:
    using TCallbackSink = std::function<void(TTrayCallback)>;

    virtual ~TTrayNotifyArea() = default;

    // Whether the desktop has a notification area at all.
    virtual bool Available() const = 0;
    // Put the icon into the notification area; fails if it is already there.
    virtual bool Add(const TNotifyIconData& Data) = 0;
    // Change the icon that is there; fails before Add.
    virtual bool Modify(const TNotifyIconData& Data) = 0;
    // Remove the icon; fails if it is not there.
    virtual bool Delete(const TNotifyIconData& Data) = 0;

    // The mouse cursor's screen position, if it can be read.
    virtual std::optional<QPoint> CursorPos() const = 0;
    // Modifier keys held down right now.
    virtual TShiftState KeyShiftState() const = 0;
    // Longest gap, in milliseconds, between the clicks of a double-click.
    virtual int DoubleClickTime() const = 0;

    // Where callbacks go; TTrayIcon installs itself here.
    void SetCallbackSink(TCallbackSink Sink) { FSink = std::move(Sink); }

protected:
    void Report(TTrayCallback Callback) const {
        if (FSink) FSink(Callback);
    }

private:
    TCallbackSink FSink;
};

// The desktop's notification area through QSystemTrayIcon.
//
// Qt reports presses, not releases, and no mouse moves: a left click becomes
// left down and up, a double-click becomes double-click and up, the context
// request right down and up, a middle click middle down and up. Desktops
// differ in how a double-click arrives (a click then a double-click, two
// clicks then a double-click, or only two clicks where the icon lives on the
// D-Bus tray protocol); all of them reach the component as one click followed
// by one double-click. Qt reports only the click on a balloon; shown, hidden
// and timed out are derived here from the balloons this adapter puts up.
//
// Where the desktop has no notification area, balloons go to its
// notification service instead (TDesktopNotifications), with the same
// title, text and time-out, and its answers arrive as the same callbacks.
class TQtTrayNotifyArea : public QObject, public TTrayNotifyArea {
    Q_OBJECT
public:
    explicit TQtTrayNotifyArea(QObject* Parent = nullptr);
    ~TQtTrayNotifyArea() override;

    bool Available() const override;
    bool Add(const TNotifyIconData& Data) override;
    bool Modify(const TNotifyIconData& Data) override;
    bool Delete(const TNotifyIconData& Data) override;
    std::optional<QPoint> CursorPos() const override;
    TShiftState KeyShiftState() const override;
    int DoubleClickTime() const override;

    // Where balloons go without a notification area. By default the
    // session bus's service, looked up at the first balloon; tests give
    // their own. Null: such balloons are dropped.
    void SetDesktopNotifications(TDesktopNotifications* Notifications);
    TDesktopNotifications* DesktopNotifications();

private:
    void Apply(const TNotifyIconData& Data);
    bool ShowBalloon(const TNotifyIconData& Data);
    void HideBalloon();
    void ReportLater(TTrayCallback Callback);
    void LeftClicked();
    void LeftDoubleClicked();

    QSystemTrayIcon* FTrayIcon = nullptr;
    QTimer* FBalloonTimer = nullptr;
    bool FAdded = false;
    bool FBalloonShowing = false;
    TDesktopNotifications* FDesktop = nullptr;  // owned through the QObject tree
    bool FDesktopLookedUp = false;
    bool FDesktopShowing = false;
    QElapsedTimer FLastClick;          // the last single click, while a second may follow
    QElapsedTimer FMadeUpDoubleClick;  // a double-click made from two clicks
};
