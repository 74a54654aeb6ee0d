#pragma once

// Balloons for desktops without a notification area (GNOME's default, most
// Wayland sessions): the desktop's notification service,
// org.freedesktop.Notifications on the session bus. The tray adapter hands
// its balloon here when QSystemTrayIcon has nowhere to show it, and the
// service's answers come back as the same balloon callbacks a notification
// area gives: shown, hidden, timed out (expired or dismissed) and clicked.
//
// Every call to the service is asynchronous, so a slow or hung service never
// holds up the user-interface thread. Without a session bus or without the
// service nothing is shown and nothing fails.

#include "TrayNotifyArea.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class TDesktopNotifications : public QObject {
    Q_OBJECT
public:
    using TCallbackSink = std::function<void(TTrayCallback)>;

    // The service's well-known name, object path and interface.
    static const char* const Service;
    static const char* const Path;
    static const char* const Interface;
    // The action a service invokes when the notification itself is clicked.
    static const char* const DefaultAction;

    explicit TDesktopNotifications(const QDBusConnection& Bus, QObject* Parent = nullptr);

    // The user's session bus, if the session has one. The bus is looked for
    // only where the session announces it (DBUS_SESSION_BUS_ADDRESS or the
    // bus socket in XDG_RUNTIME_DIR), so no bus daemon is ever launched.
    static std::optional<QDBusConnection> SessionBus();

    // Whether a bus is there to carry notifications.
    bool Connected() const;

    // Puts up a notification, replacing the one this object still shows.
    // TimeoutMs is the notification's life; the service may round it.
    // Returns false when there is no bus to send it over.
    bool Show(const QString& Title, const QString& Text, TBalloonHintIcon Kind, int TimeoutMs);
    // Withdraws the notification still showing, if any.
    void Close();
    // The service's id of the notification showing, 0 when none.
    uint CurrentId() const { return FCurrentId; }

    void SetCallbackSink(TCallbackSink Sink) { FSink = std::move(Sink); }

private slots:
    void OnActionInvoked(uint Id, const QString& ActionKey);
    void OnNotificationClosed(uint Id, uint Reason);

private:
    struct TPending {
        QString Title;
        QString Text;
        TBalloonHintIcon Kind = TBalloonHintIcon::bitNone;
        int TimeoutMs = 0;
    };

    void AskCapabilities();
    void SendNotify(const TPending& Notification);
    void Report(TTrayCallback Callback) const;

    QDBusConnection FBus;
    TCallbackSink FSink;
    // What the service can do, once it has said; until then notifications wait.
    std::optional<QStringList> FCapabilities;
    bool FAskingCapabilities = false;
    std::optional<TPending> FWaiting;
    uint FCurrentId = 0;
    // Bumped by each Show and Close, so a late answer to an older request
    // does not bring back a notification that was replaced or withdrawn.
    quint64 FGeneration = 0;
};
