#include "DesktopNotifications.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QGuiApplication>
#include <QVariantMap>

const char* const TDesktopNotifications::Service = "org.freedesktop.Notifications";
const char* const TDesktopNotifications::Path = "/org/freedesktop/Notifications";
const char* const TDesktopNotifications::Interface = "org.freedesktop.Notifications";
const char* const TDesktopNotifications::DefaultAction = "default";

namespace {

// Why the service closed a notification (its NotificationClosed reasons).
constexpr uint ClosedByCall = 3;

// Normal urgency: "critical" notifications never expire on some desktops,
// which would break the time-out the user chose.
constexpr uchar NormalUrgency = 1;

QString IconName(TBalloonHintIcon Kind) {
    switch (Kind) {
        case TBalloonHintIcon::bitWarning:
            return QStringLiteral("dialog-warning");
        case TBalloonHintIcon::bitError:
            return QStringLiteral("dialog-error");
        case TBalloonHintIcon::bitInfo:
        case TBalloonHintIcon::bitNone:
            break;
    }
    // The program's own icon, installed under its desktop file's name.
    const QString Own = QGuiApplication::desktopFileName();
    return Own.isEmpty() ? QStringLiteral("dialog-information") : Own;
}

QDBusMessage MethodCall(const char* Method) {
    return QDBusMessage::createMethodCall(
        QString::fromLatin1(TDesktopNotifications::Service), QString::fromLatin1(TDesktopNotifications::Path),
        QString::fromLatin1(TDesktopNotifications::Interface), QString::fromLatin1(Method));
}

}  // namespace

TDesktopNotifications::TDesktopNotifications(const QDBusConnection& Bus, QObject* Parent) : QObject(Parent), FBus(Bus) {
    if (!FBus.isConnected()) return;
    FBus.connect(QString::fromLatin1(Service), QString::fromLatin1(Path), QString::fromLatin1(Interface),
                 QStringLiteral("ActionInvoked"), this, SLOT(OnActionInvoked(uint, QString)));
    FBus.connect(QString::fromLatin1(Service), QString::fromLatin1(Path), QString::fromLatin1(Interface),
                 QStringLiteral("NotificationClosed"), this, SLOT(OnNotificationClosed(uint, uint)));
}

std::optional<QDBusConnection> TDesktopNotifications::SessionBus() {
    // Asking libdbus for a session bus that the session did not announce
    // may "autolaunch" a bus daemon of our own; look before asking.
    const QByteArray Address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray RuntimeDir = qgetenv("XDG_RUNTIME_DIR");
    const bool Announced =
        !Address.isEmpty() ||
        (!RuntimeDir.isEmpty() && QFileInfo::exists(QString::fromLocal8Bit(RuntimeDir) + QStringLiteral("/bus")));
    if (!Announced) return std::nullopt;
    QDBusConnection Bus = QDBusConnection::sessionBus();
    if (!Bus.isConnected()) return std::nullopt;
    return Bus;
}

bool TDesktopNotifications::Connected() const { return FBus.isConnected(); }

bool TDesktopNotifications::Show(const QString& Title, const QString& Text, TBalloonHintIcon Kind, int TimeoutMs) {
    if (!Connected()) return false;
    ++FGeneration;
    TPending Notification{Title, Text, Kind, TimeoutMs};
    if (!FCapabilities) {
        // The first notification waits for the service to say whether it
        // offers actions and markup; later ones go at once.
        FWaiting = Notification;
        AskCapabilities();
        return true;
    }
    SendNotify(Notification);
    return true;
}

void TDesktopNotifications::Close() {
    ++FGeneration;
    FWaiting.reset();
    if (FCurrentId == 0) return;
    QDBusMessage Call = MethodCall("CloseNotification");
    Call << FCurrentId;
    FBus.send(Call);
    FCurrentId = 0;
}

void TDesktopNotifications::AskCapabilities() {
    if (FAskingCapabilities) return;
    FAskingCapabilities = true;
    auto* Watcher = new QDBusPendingCallWatcher(FBus.asyncCall(MethodCall("GetCapabilities")), this);
    connect(Watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* Finished) {
        Finished->deleteLater();
        FAskingCapabilities = false;
        const QDBusPendingReply<QStringList> Reply = *Finished;
        // Remembered only when the service answered: one that is started
        // later is asked again.
        if (!Reply.isError()) FCapabilities = Reply.value();
        if (FWaiting) {
            const TPending Notification = *FWaiting;
            FWaiting.reset();
            SendNotify(Notification);
        }
    });
}

void TDesktopNotifications::SendNotify(const TPending& Notification) {
    const QStringList Capabilities = FCapabilities.value_or(QStringList());
    QStringList Actions;
    // A service without actions may draw them as buttons of a dialog; ask
    // for the click only where it is understood.
    if (Capabilities.contains(QStringLiteral("actions")))
        Actions << QString::fromLatin1(DefaultAction) << QCoreApplication::translate("TDesktopNotifications", "Show");
    // Feed titles are plain text; a service reading markup would take an
    // "&" or "<" in them for its own.
    const bool Markup = Capabilities.contains(QStringLiteral("body-markup"));
    const QString Body = Markup ? Notification.Text.toHtmlEscaped() : Notification.Text;

    QVariantMap Hints;
    Hints.insert(QStringLiteral("urgency"), QVariant::fromValue(NormalUrgency));
    if (!QGuiApplication::desktopFileName().isEmpty())
        Hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());

    QDBusMessage Call = MethodCall("Notify");
    // Replacing the notification still up keeps one entry per program, as
    // a notification area keeps one balloon per icon.
    Call << QCoreApplication::applicationName() << FCurrentId << IconName(Notification.Kind) << Notification.Title
         << Body << Actions << Hints << qint32(Notification.TimeoutMs);

    const quint64 Generation = FGeneration;
    auto* Watcher = new QDBusPendingCallWatcher(FBus.asyncCall(Call), this);
    connect(Watcher, &QDBusPendingCallWatcher::finished, this, [this, Generation](QDBusPendingCallWatcher* Finished) {
        Finished->deleteLater();
        const QDBusPendingReply<uint> Reply = *Finished;
        if (Reply.isError()) return;  // no service: the message is dropped, as a balloon without a tray is
        const uint Id = Reply.value();
        if (Generation != FGeneration) {
            // Withdrawn or replaced while the service was answering.
            if (FCurrentId != Id) {
                QDBusMessage CloseCall = MethodCall("CloseNotification");
                CloseCall << Id;
                FBus.send(CloseCall);
            }
            return;
        }
        FCurrentId = Id;
        Report(TTrayCallback::BalloonShow);
    });
}

void TDesktopNotifications::OnActionInvoked(uint Id, const QString&) {
    // The service reports every program's notifications; ours is the one
    // whose id it gave us. Our only action is the click.
    if (Id == 0 || Id != FCurrentId) return;
    FCurrentId = 0;
    Report(TTrayCallback::BalloonUserClick);
}

void TDesktopNotifications::OnNotificationClosed(uint Id, uint Reason) {
    if (Id == 0 || Id != FCurrentId) return;
    FCurrentId = 0;
    Report(Reason == ClosedByCall ? TTrayCallback::BalloonHide : TTrayCallback::BalloonTimeout);
}

void TDesktopNotifications::Report(TTrayCallback Callback) const {
    if (FSink) FSink(Callback);
}
