#include "TrayIcon.h"
#include "TrayNotifyArea.h"
#include "TestWait.h"

#include <gtest/gtest.h>

#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

#include <vector>

// The desktop adapter turns Qt's activations into the mouse callbacks a
// real mouse would give: each press is followed by its release.
TEST(QtTrayNotifyArea, ActivationsBecomeButtonDownAndUp) {
    TQtTrayNotifyArea Area;
    std::vector<TTrayCallback> Seen;
    Area.SetCallbackSink([&](TTrayCallback Callback) { Seen.push_back(Callback); });
    QSystemTrayIcon* Icon = Area.findChild<QSystemTrayIcon*>();
    ASSERT_NE(Icon, nullptr);

    using CB = TTrayCallback;
    struct TCase {
        QSystemTrayIcon::ActivationReason Reason;
        std::vector<TTrayCallback> Expected;
    };
    const TCase Cases[] = {
        {QSystemTrayIcon::Trigger, {CB::LeftButtonDown, CB::LeftButtonUp}},
        {QSystemTrayIcon::Context, {CB::RightButtonDown, CB::RightButtonUp}},
        {QSystemTrayIcon::MiddleClick, {CB::MiddleButtonDown, CB::MiddleButtonUp}},
        {QSystemTrayIcon::Unknown, {}},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(int(Case.Reason));
        Seen.clear();
        emit Icon->activated(Case.Reason);
        EXPECT_EQ(Seen, Case.Expected);
    }
    Seen.clear();
    emit Icon->messageClicked();
    EXPECT_EQ(Seen, std::vector<TTrayCallback>{CB::BalloonUserClick});
}

TEST(QtTrayNotifyArea, EveryWayOfDoubleClickingGivesOneClickAndOneDoubleClick) {
    using CB = TTrayCallback;
    const auto T = QSystemTrayIcon::Trigger;
    const auto D = QSystemTrayIcon::DoubleClick;
    const std::vector<TTrayCallback> ClickThenDouble = {CB::LeftButtonDown, CB::LeftButtonUp, CB::LeftButtonDblClick,
                                                        CB::LeftButtonUp};
    struct TCase {
        const char* Name;
        std::vector<QSystemTrayIcon::ActivationReason> Reasons;
        std::vector<TTrayCallback> Expected;
    };
    const TCase Cases[] = {
        {"click, double-click", {T, D}, ClickThenDouble},
        {"two clicks, double-click", {T, T, D}, ClickThenDouble},
        {"two clicks only", {T, T}, ClickThenDouble},
        {"third click starts anew",
         {T, T, D, T},
         {CB::LeftButtonDown, CB::LeftButtonUp, CB::LeftButtonDblClick, CB::LeftButtonUp, CB::LeftButtonDown,
          CB::LeftButtonUp}},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TQtTrayNotifyArea Area;
        std::vector<TTrayCallback> Seen;
        Area.SetCallbackSink([&](TTrayCallback Callback) { Seen.push_back(Callback); });
        QSystemTrayIcon* Icon = Area.findChild<QSystemTrayIcon*>();
        for (auto Reason : Case.Reasons) emit Icon->activated(Reason);
        EXPECT_EQ(Seen, Case.Expected);
    }

    // Two clicks further apart than the double-click time are two clicks.
    TQtTrayNotifyArea Area;
    std::vector<TTrayCallback> Seen;
    Area.SetCallbackSink([&](TTrayCallback Callback) { Seen.push_back(Callback); });
    QSystemTrayIcon* Icon = Area.findChild<QSystemTrayIcon*>();
    emit Icon->activated(T);
    RunEventsFor(Area.DoubleClickTime() + 50);
    emit Icon->activated(T);
    EXPECT_EQ(Seen,
              (std::vector<TTrayCallback>{CB::LeftButtonDown, CB::LeftButtonUp, CB::LeftButtonDown, CB::LeftButtonUp}));
}

TEST(QtTrayNotifyArea, ModifyAndDeleteFailBeforeAdd) {
    TQtTrayNotifyArea Area;
    TNotifyIconData Data;
    QPixmap Image(16, 16);
    Image.fill(Qt::darkCyan);
    Data.Icon = QIcon(Image);
    EXPECT_FALSE(Area.Modify(Data));
    EXPECT_FALSE(Area.Delete(Data));
    Area.Add(Data);
    EXPECT_FALSE(Area.Add(Data)) << "the icon is there already";
    EXPECT_TRUE(Area.Delete(Data));
    EXPECT_FALSE(Area.Delete(Data));
    EXPECT_GT(Area.DoubleClickTime(), 0);
}

// Offscreen there is no notification area: the real icon must then keep the
// window on screen and swallow balloons quietly.
TEST(QtTrayNotifyArea, WithoutANotificationAreaNothingIsLost) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) GTEST_SKIP() << "this desktop has a notification area";
    QWidget Window;
    auto* Tray = new TTrayIcon(&Window);
    int BalloonEvents = 0;
    Tray->SetOnBalloonHintShow([&](TTrayIcon*) { ++BalloonEvents; });
    Tray->SetMinimizeToTray(true);
    Tray->SetIconVisible(true);
    Window.show();
    Window.setWindowState(Qt::WindowMinimized);
    RunEventsFor(80);
    EXPECT_TRUE(Window.isVisible());
    EXPECT_FALSE(Tray->ShowBalloonHint("Feed", "text", TBalloonHintIcon::bitInfo, 5));
    RunEventsFor(30);
    EXPECT_EQ(BalloonEvents, 0);
}
