// Balloons on a desktop without a notification area: they go to the
// notification service on the session bus. These tests run on a private bus
// (dbus-run-session) with a fake service owning org.freedesktop.Notifications
// on a connection of its own; offscreen there is no notification area.
#include "DesktopNotifications.h"
#include "TrayIcon.h"
#include "TestWait.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSystemTrayIcon>
#include <QVariantMap>
#include <QWidget>

#include <memory>

namespace {

class FakeNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notification {
        QString App, Icon, Summary, Body;
        uint Replaces = 0;
        QStringList Actions;
        QVariantMap Hints;
        int Timeout = 0;
        uint Id = 0;
    };

    explicit FakeNotificationService(QStringList capabilities)
        : Bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-notifications"))),
          Capabilities(std::move(capabilities)) {
        Bus.registerObject(QString::fromLatin1(TDesktopNotifications::Path), this, QDBusConnection::ExportAllSlots);
        Registered = Bus.registerService(QString::fromLatin1(TDesktopNotifications::Service));
    }
    ~FakeNotificationService() override {
        Bus.unregisterService(QString::fromLatin1(TDesktopNotifications::Service));
        Bus.unregisterObject(QString::fromLatin1(TDesktopNotifications::Path));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-notifications"));
    }

    void Emit(const char* Signal, const QVariantList& Arguments) {
        QDBusMessage Message = QDBusMessage::createSignal(QString::fromLatin1(TDesktopNotifications::Path),
                                                          QString::fromLatin1(TDesktopNotifications::Interface),
                                                          QString::fromLatin1(Signal));
        Message.setArguments(Arguments);
        Bus.send(Message);
    }

    QDBusConnection Bus;
    QStringList Capabilities;
    bool Registered = false;
    QList<Notification> Notified;
    QList<uint> Closed;
    uint NextId = 41;

public slots:
    QStringList GetCapabilities() { return Capabilities; }
    uint Notify(const QString& App, uint Replaces, const QString& Icon, const QString& Summary, const QString& Body,
                const QStringList& Actions, const QVariantMap& Hints, int Timeout) {
        Notification N{App, Icon, Summary, Body, Replaces, Actions, Hints, Timeout, Replaces ? Replaces : ++NextId};
        Notified.append(N);
        return N.Id;
    }
    void CloseNotification(uint Id) {
        Closed.append(Id);
        Emit("NotificationClosed", {Id, 3u});
    }
};

bool HaveSessionBus() { return TDesktopNotifications::SessionBus().has_value(); }

// A tray icon as the main window sets it up, on a desktop without a
// notification area, counting the balloon events it raises.
struct TrayWithoutArea {
    QWidget Owner;
    TTrayIcon Icon{&Owner};
    int Shown = 0, Clicked = 0, TimedOut = 0, Hidden = 0;
    TrayWithoutArea() {
        Icon.SetOnBalloonHintShow([this](TTrayIcon*) { ++Shown; });
        Icon.SetOnBalloonHintClick([this](TTrayIcon*) { ++Clicked; });
        Icon.SetOnBalloonHintTimeout([this](TTrayIcon*) { ++TimedOut; });
        Icon.SetOnBalloonHintHide([this](TTrayIcon*) { ++Hidden; });
        Icon.SetIconVisible(true);
    }
};

}  // namespace

class DesktopNotificationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveSessionBus()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "these tests need a desktop without a tray";
    }
};

TEST_F(DesktopNotificationsTest, TheBalloonGoesToTheServiceAndAClickSelectsIt) {
    FakeNotificationService Service({QStringLiteral("actions"), QStringLiteral("body")});
    ASSERT_TRUE(Service.Registered);
    TrayWithoutArea Tray;

    EXPECT_TRUE(Tray.Icon.ShowBalloonHint(QStringLiteral("Daily News"), QStringLiteral("Daily News: 3 new items"),
                                          TBalloonHintIcon::bitInfo, 7));
    ASSERT_TRUE(RunEventsUntil([&] { return Tray.Shown == 1; }, 5000));
    ASSERT_EQ(Service.Notified.size(), 1);
    const auto& N = Service.Notified[0];
    EXPECT_EQ(N.Summary, "Daily News");
    EXPECT_EQ(N.Body, "Daily News: 3 new items");
    EXPECT_EQ(N.Timeout, 7000) << "the same time-out as a balloon";
    EXPECT_EQ(N.Actions.value(0), TDesktopNotifications::DefaultAction);
    EXPECT_EQ(N.Hints.value("urgency").toInt(), 1);

    // Another program's notification clicked: not ours.
    Service.Emit("ActionInvoked", {N.Id + 100, QStringLiteral("default")});
    Service.Emit("ActionInvoked", {N.Id, QStringLiteral("default")});
    ASSERT_TRUE(RunEventsUntil([&] { return Tray.Clicked > 0; }, 5000));
    RunEventsFor(200);
    EXPECT_EQ(Tray.Clicked, 1);
}

TEST_F(DesktopNotificationsTest, WithoutActionsNoneAreAskedForAndMarkupServicesGetEscapedText) {
    struct Case {
        QStringList Capabilities;
        QString ExpectedBody;
        bool ExpectActions;
    };
    const QString Text = QStringLiteral("Tom & Jerry <live>: 1 new item");
    const Case Cases[] = {
        {{QStringLiteral("body")}, Text, false},
        {{QStringLiteral("body"), QStringLiteral("body-markup"), QStringLiteral("actions")},
         QStringLiteral("Tom &amp; Jerry &lt;live&gt;: 1 new item"),
         true},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Capabilities.join(',').toStdString());
        FakeNotificationService Service(C.Capabilities);
        ASSERT_TRUE(Service.Registered);
        TrayWithoutArea Tray;
        Tray.Icon.ShowBalloonHint(QStringLiteral("T"), Text, TBalloonHintIcon::bitInfo, 10);
        ASSERT_TRUE(RunEventsUntil([&] { return Service.Notified.size() == 1; }, 5000));
        EXPECT_EQ(Service.Notified[0].Body, C.ExpectedBody);
        EXPECT_EQ(!Service.Notified[0].Actions.isEmpty(), C.ExpectActions);
    }
}

TEST_F(DesktopNotificationsTest, ANewBalloonWithdrawsTheOldOneAndExpiryIsReported) {
    FakeNotificationService Service({QStringLiteral("actions")});
    TrayWithoutArea Tray;
    Tray.Icon.ShowBalloonHint(QStringLiteral("A"), QStringLiteral("first"), TBalloonHintIcon::bitInfo, 10);
    ASSERT_TRUE(RunEventsUntil([&] { return Tray.Shown == 1; }, 5000));
    const uint First = Service.Notified[0].Id;

    Tray.Icon.ShowBalloonHint(QStringLiteral("B"), QStringLiteral("second"), TBalloonHintIcon::bitInfo, 0);
    ASSERT_TRUE(RunEventsUntil([&] { return Tray.Shown == 2; }, 5000));
    ASSERT_EQ(Service.Notified.size(), 2);
    EXPECT_EQ(Service.Closed, QList<uint>{First});
    EXPECT_EQ(Tray.Hidden, 1);
    EXPECT_GT(Service.Notified[1].Timeout, 0) << "no time-out given must not mean 'never expires'";
    const uint Second = Service.Notified[1].Id;
    EXPECT_NE(Second, First);

    // The old one's late signals change nothing; the new one's expiry is a
    // time-out, and a click after that is no click on ours.
    Service.Emit("ActionInvoked", {First, QStringLiteral("default")});
    Service.Emit("NotificationClosed", {Second, 1u});
    ASSERT_TRUE(RunEventsUntil([&] { return Tray.TimedOut == 1; }, 5000));
    Service.Emit("ActionInvoked", {Second, QStringLiteral("default")});
    RunEventsFor(200);
    EXPECT_EQ(Tray.Clicked, 0);
}

TEST_F(DesktopNotificationsTest, WithoutTheServiceNothingIsShownAndNothingFails) {
    ASSERT_FALSE(QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QString::fromLatin1(TDesktopNotifications::Service)));
    TrayWithoutArea Tray;
    Tray.Icon.ShowBalloonHint(QStringLiteral("A"), QStringLiteral("nobody listens"), TBalloonHintIcon::bitInfo, 10);
    Tray.Icon.ShowBalloonHint(QStringLiteral("B"), QStringLiteral("still nobody"), TBalloonHintIcon::bitInfo, 10);
    RunEventsFor(500);
    EXPECT_EQ(Tray.Shown + Tray.Clicked + Tray.TimedOut, 0);
}

// No bus at all (no session, or the session has none): the notifications
// report that they cannot show anything, and the tray does not try.
TEST(DesktopNotificationsWithoutBus, ShowReportsFailureWithoutABus) {
    TDesktopNotifications Notifications{QDBusConnection(QStringLiteral("no-such-connection"))};
    EXPECT_FALSE(Notifications.Connected());
    EXPECT_FALSE(Notifications.Show(QStringLiteral("T"), QStringLiteral("x"), TBalloonHintIcon::bitInfo, 1000));

    const QByteArray Saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray SavedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", "/nonexistent");
    {
        TrayWithoutArea Tray;
        EXPECT_FALSE(Tray.Icon.ShowBalloonHint(QStringLiteral("A"), QStringLiteral("b"), TBalloonHintIcon::bitInfo, 1));
        RunEventsFor(100);
        EXPECT_EQ(Tray.Shown, 0);
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", Saved);
    qputenv("XDG_RUNTIME_DIR", SavedRuntime);
    if (Saved.isEmpty()) qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (SavedRuntime.isEmpty()) qunsetenv("XDG_RUNTIME_DIR");
}

#include "DesktopNotificationsTest.moc"
