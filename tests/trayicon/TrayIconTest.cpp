#include "TrayIcon.h"
#include "TestWait.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QPixmap>
#include <QThread>
#include <QWidget>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the fake notification area saw and what it pretends about the desktop.
struct TFakeDesktop {
    enum class TOp { Add, Modify, Delete };
    struct TCall {
        TOp Op;
        TNotifyIconData Data;
        QThread* Thread;
    };

    bool Available = true;
    bool IconThere = false;
    std::optional<QPoint> Cursor = QPoint(100, 200);
    TShiftState Keys = 0;
    int DoubleClickMs = 60;
    std::vector<TCall> Calls;

    std::vector<TCall> CallsOf(TOp Op) const {
        std::vector<TCall> Result;
        for (const TCall& Call : Calls)
            if (Call.Op == Op) Result.push_back(Call);
        return Result;
    }
};

class TFakeNotifyArea : public TTrayNotifyArea {
public:
    explicit TFakeNotifyArea(TFakeDesktop& Desktop) : FDesktop(Desktop) {}
    bool Available() const override { return FDesktop.Available; }
    bool Add(const TNotifyIconData& Data) override {
        Log(TFakeDesktop::TOp::Add, Data);
        if (FDesktop.IconThere) return false;
        FDesktop.IconThere = true;
        return true;
    }
    bool Modify(const TNotifyIconData& Data) override {
        Log(TFakeDesktop::TOp::Modify, Data);
        return FDesktop.IconThere;
    }
    bool Delete(const TNotifyIconData& Data) override {
        Log(TFakeDesktop::TOp::Delete, Data);
        const bool Was = FDesktop.IconThere;
        FDesktop.IconThere = false;
        return Was;
    }
    std::optional<QPoint> CursorPos() const override { return FDesktop.Cursor; }
    TShiftState KeyShiftState() const override { return FDesktop.Keys; }
    int DoubleClickTime() const override { return FDesktop.DoubleClickMs; }

private:
    void Log(TFakeDesktop::TOp Op, const TNotifyIconData& Data) {
        FDesktop.Calls.push_back({Op, Data, QThread::currentThread()});
    }
    TFakeDesktop& FDesktop;
};

QIcon ColourIcon(Qt::GlobalColor Colour) {
    QPixmap Pixmap(16, 16);
    Pixmap.fill(Colour);
    return QIcon(Pixmap);
}

// A tray icon on a fake desktop, owned by a plain window, with its events
// written into a log such as "down(L) up(L) click".
class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        Window = std::make_unique<QWidget>();
        Tray = new TTrayIcon(Window.get(), std::make_unique<TFakeNotifyArea>(Desktop));
        Tray->SetOnMouseDown([this](TTrayIcon*, TMouseButton Button, TShiftState, int, int) {
            Events += "down(" + ButtonName(Button) + ") ";
        });
        Tray->SetOnMouseUp([this](TTrayIcon*, TMouseButton Button, TShiftState, int, int) {
            Events += "up(" + ButtonName(Button) + ") ";
        });
        Tray->SetOnClick([this](TTrayIcon*) {
            Events += "click ";
            ++Clicks;
        });
    }
    void TearDown() override { Window.reset(); }  // the icon goes with its owner

    static std::string ButtonName(TMouseButton Button) {
        switch (Button) {
            case TMouseButton::mbLeft:
                return "L";
            case TMouseButton::mbRight:
                return "R";
            case TMouseButton::mbMiddle:
                return "M";
        }
        return "?";
    }

    void Feed(std::initializer_list<TTrayCallback> Callbacks) {
        for (TTrayCallback Callback : Callbacks) Tray->HandleTrayCallback(Callback);
    }

    void WithDblClickHandler() {
        Tray->SetOnDblClick([this](TTrayIcon*) {
            Events += "dblclick ";
            ++DblClicks;
        });
    }

    TFakeDesktop Desktop;
    std::unique_ptr<QWidget> Window;
    TTrayIcon* Tray = nullptr;
    std::string Events;
    int Clicks = 0;
    int DblClicks = 0;
};

using CB = TTrayCallback;

}  // namespace

TEST_F(TrayIconTest, WithoutDblClickHandlerClickComesOnButtonUp) {
    Feed({CB::LeftButtonDown});
    EXPECT_EQ(Events, "down(L) ");
    Feed({CB::LeftButtonUp});
    EXPECT_EQ(Events, "down(L) click up(L) ");
    RunEventsFor(2 * Desktop.DoubleClickMs);
    EXPECT_EQ(Clicks, 1) << "no second click from a timer";

    // A button up without its down (the press went to another window) is no click.
    Feed({CB::LeftButtonUp});
    EXPECT_EQ(Clicks, 1);
}

TEST_F(TrayIconTest, WithDblClickHandlerASingleClickComesOneDoubleClickTimeLate) {
    WithDblClickHandler();
    Desktop.DoubleClickMs = 150;
    QElapsedTimer Clock;
    Clock.start();
    qint64 ClickAt = -1;
    Tray->SetOnClick([&](TTrayIcon*) {
        ++Clicks;
        ClickAt = Clock.elapsed();
    });
    Feed({CB::LeftButtonDown, CB::LeftButtonUp});
    EXPECT_EQ(Events, "down(L) up(L) ");
    EXPECT_EQ(Clicks, 0) << "still waiting whether a second click follows";
    ASSERT_TRUE(RunEventsUntil([&] { return Clicks > 0; }));
    EXPECT_GE(ClickAt, 140);
    RunEventsFor(200);
    EXPECT_EQ(Clicks, 1);
    EXPECT_EQ(DblClicks, 0);
}

TEST_F(TrayIconTest, DoubleClickRaisesOnlyDblClick) {
    WithDblClickHandler();
    Feed({CB::LeftButtonDown, CB::LeftButtonUp, CB::LeftButtonDblClick, CB::LeftButtonUp});
    RunEventsFor(3 * Desktop.DoubleClickMs);
    EXPECT_EQ(Events, "down(L) up(L) dblclick up(L) ");
    EXPECT_EQ(Clicks, 0);
    EXPECT_EQ(DblClicks, 1);

    // The double-click mark is gone afterwards: the next single click counts.
    Feed({CB::LeftButtonDown, CB::LeftButtonUp});
    ASSERT_TRUE(RunEventsUntil([&] { return Clicks == 1; }));
    EXPECT_EQ(DblClicks, 1);
}

TEST_F(TrayIconTest, MouseEventsCarryButtonModifiersAndCursor) {
    struct TSeen {
        TMouseButton Button;
        TShiftState Shift;
        int X, Y;
    };
    std::vector<TSeen> Downs;
    Tray->SetOnMouseDown([&](TTrayIcon* Sender, TMouseButton Button, TShiftState Shift, int X, int Y) {
        EXPECT_EQ(Sender, Tray);
        Downs.push_back({Button, Shift, X, Y});
    });
    Desktop.Keys = ssCtrl | ssShift;
    Desktop.Cursor = QPoint(12, 34);
    Feed({CB::LeftButtonDown, CB::RightButtonDown, CB::MiddleButtonDown});
    ASSERT_EQ(Downs.size(), 3u);
    EXPECT_EQ(Downs[0].Shift, ssCtrl | ssShift | ssLeft);
    EXPECT_EQ(Downs[1].Button, TMouseButton::mbRight);
    EXPECT_EQ(Downs[1].Shift, ssCtrl | ssShift | ssRight);
    EXPECT_EQ(Downs[2].Shift, ssCtrl | ssShift | ssMiddle);
    EXPECT_EQ(Downs[2].X, 12);
    EXPECT_EQ(Downs[2].Y, 34);
}

TEST_F(TrayIconTest, RightButtonShowsTheMenuOnlyWhenSetAndAutoPopupOn) {
    struct TCase {
        const char* Name;
        bool WithMenu;
        QVariant AutoPopup;  // invalid: property not set
        bool CursorReadable;
        bool Shown;
    };
    const TCase Cases[] = {
        {"no menu", false, QVariant(), true, false},
        {"menu, auto popup unset", true, QVariant(), true, true},
        {"menu, auto popup on", true, QVariant(true), true, true},
        {"menu, auto popup off", true, QVariant(false), true, false},
        {"cursor unreadable", true, QVariant(), false, false},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        QMenu Menu;
        Menu.addAction("Show");
        Menu.setProperty(TTrayIcon::AutoPopupProperty, Case.AutoPopup);
        int Shown = 0;
        std::string Order;
        QObject::connect(&Menu, &QMenu::aboutToShow, [&] {
            ++Shown;
            Order += "menu ";
        });
        Tray->SetOnMouseDown([&](TTrayIcon*, TMouseButton, TShiftState, int, int) { Order += "down "; });
        Tray->SetPopupMenu(Case.WithMenu ? &Menu : nullptr);
        Desktop.Cursor = Case.CursorReadable ? std::optional<QPoint>(QPoint(5, 5)) : std::nullopt;

        Feed({CB::RightButtonDown, CB::RightButtonUp});
        EXPECT_EQ(Shown, Case.Shown ? 1 : 0);
        EXPECT_EQ(Order, Case.Shown ? "down menu " : "down ");
        if (Case.Shown) {
            EXPECT_EQ(Menu.property(TTrayIcon::PopupComponentProperty).value<QObject*>(), Tray);
        }
        Menu.close();
        Tray->SetPopupMenu(nullptr);
    }
}

TEST_F(TrayIconTest, LeftPopupAndTheMenuDefaultItemOnDoubleClick) {
    WithDblClickHandler();
    QMenu Menu;
    QAction* Open = Menu.addAction("Open");
    Menu.addAction("Exit");
    Menu.setDefaultAction(Open);
    int Opened = 0, Shown = 0;
    QObject::connect(Open, &QAction::triggered, [&] { ++Opened; });
    QObject::connect(&Menu, &QMenu::aboutToShow, [&] { ++Shown; });
    Tray->SetPopupMenu(&Menu);

    // Without LeftPopup: left clicks open no menu, a double-click runs the default item.
    Feed({CB::LeftButtonDown, CB::LeftButtonUp, CB::LeftButtonDblClick, CB::LeftButtonUp});
    EXPECT_EQ(Shown, 0);
    EXPECT_EQ(Opened, 1);
    RunEventsFor(2 * Desktop.DoubleClickMs);

    // With LeftPopup: the menu opens on the way down, and the double-click
    // leaves the default item alone (the menu is already there).
    Tray->SetLeftPopup(true);
    Feed({CB::LeftButtonDown, CB::LeftButtonUp, CB::LeftButtonDblClick, CB::LeftButtonUp});
    EXPECT_EQ(Shown, 1);
    EXPECT_EQ(Opened, 1);
    EXPECT_EQ(DblClicks, 2);
    Menu.close();

    // A menu destroyed while the icon refers to it is forgotten.
    {
        auto Temporary = std::make_unique<QMenu>();
        Tray->SetPopupMenu(Temporary.get());
    }
    EXPECT_EQ(Tray->PopupMenu(), nullptr);
    Feed({CB::RightButtonDown, CB::LeftButtonDblClick});
}

TEST_F(TrayIconTest, DisabledIconIgnoresTheMouseButNotBalloons) {
    WithDblClickHandler();
    QMenu Menu;
    Menu.addAction("Show");
    int Shown = 0, BalloonEvents = 0;
    QObject::connect(&Menu, &QMenu::aboutToShow, [&] { ++Shown; });
    Tray->SetPopupMenu(&Menu);
    Tray->SetOnMouseMove([&](TTrayIcon*, TShiftState, int, int) { Events += "move "; });
    Tray->SetOnBalloonHintShow([&](TTrayIcon*) { ++BalloonEvents; });
    Tray->SetOnBalloonHintHide([&](TTrayIcon*) { ++BalloonEvents; });
    Tray->SetOnBalloonHintTimeout([&](TTrayIcon*) { ++BalloonEvents; });
    Tray->SetOnBalloonHintClick([&](TTrayIcon*) { ++BalloonEvents; });
    Tray->SetEnabled(false);

    Feed({CB::MouseMove, CB::LeftButtonDown, CB::LeftButtonUp, CB::LeftButtonDblClick, CB::LeftButtonUp,
          CB::RightButtonDown, CB::RightButtonUp, CB::MiddleButtonDown, CB::MiddleButtonUp});
    RunEventsFor(2 * Desktop.DoubleClickMs);
    EXPECT_EQ(Events, "");
    EXPECT_EQ(Clicks + DblClicks + Shown, 0);

    Feed({CB::BalloonShow, CB::BalloonHide, CB::BalloonTimeout, CB::BalloonUserClick});
    EXPECT_EQ(BalloonEvents, 4);
}

TEST_F(TrayIconTest, EnterOnFirstMoveAndExitWhenTheCursorHasMoved) {
    std::vector<QPoint> Moves;
    Tray->SetOnMouseEnter([&](TTrayIcon*) { Events += "enter "; });
    Tray->SetOnMouseExit([&](TTrayIcon*) { Events += "exit "; });
    Tray->SetOnMouseMove([&](TTrayIcon*, TShiftState, int X, int Y) {
        Events += "move ";
        Moves.push_back({X, Y});
    });

    // Without WantEnterExitEvents there is only the move.
    Feed({CB::MouseMove});
    EXPECT_EQ(Events, "move ");
    Events.clear();

    Tray->SetWantEnterExitEvents(true);
    Desktop.Cursor = QPoint(10, 10);
    Feed({CB::MouseMove, CB::MouseMove});
    EXPECT_EQ(Events, "enter move move ");
    RunEventsFor(80);
    EXPECT_EQ(Events, "enter move move ") << "the cursor still rests on the icon";

    Desktop.Cursor = QPoint(10, 40);
    ASSERT_TRUE(RunEventsUntil([&] { return Events.find("exit") != std::string::npos; }, 1000));
    RunEventsFor(60);
    EXPECT_EQ(Events, "enter move move exit ");

    Feed({CB::MouseMove});
    EXPECT_EQ(Events, "enter move move exit enter move ") << "coming back is a new enter";
    ASSERT_EQ(Moves.size(), 4u);
    EXPECT_EQ(Moves.back(), QPoint(10, 40));
}

TEST_F(TrayIconTest, TipIsCutTo127CharactersAndOnlyShownWithShowHint) {
    const QString Emoji = QString::fromUtf8("\xF0\x9F\x93\xB0");  // one character, two UTF-16 units
    struct TCase {
        const char* Name;
        QString Hint;
        bool ShowHint;
        QString Expected;
    };
    const TCase Cases[] = {
        {"short", "Quillet", true, "Quillet"},
        {"200 characters", QString(200, 'x'), true, QString(127, 'x')},
        {"127 exactly", QString(127, 'y'), true, QString(127, 'y')},
        {"pair at the cut", QString(126, 'a') + Emoji + "bcd", true, QString(126, 'a') + Emoji},
        {"hint off", "Quillet", false, ""},
        {"empty", "", true, ""},
    };
    ASSERT_TRUE(Tray->ShowIcon());
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Tray->SetShowHint(Case.ShowHint);
        Tray->SetHint(Case.Hint);
        ASSERT_FALSE(Desktop.Calls.empty());
        EXPECT_EQ(Desktop.Calls.back().Op, TFakeDesktop::TOp::Modify);
        EXPECT_EQ(Desktop.Calls.back().Data.Tip, Case.Expected);
        EXPECT_EQ(Tray->Hint(), Case.Hint) << "the property keeps the whole text";
    }
}

TEST(CutToChars, CountsCharactersNotUnits) {
    const QString Pair = QString::fromUtf8("\xF0\x9F\x98\x80");
    EXPECT_EQ(CutToChars("abcdef", 3), "abc");
    EXPECT_EQ(CutToChars("ab", 3), "ab");
    EXPECT_EQ(CutToChars("abc", 0), "");
    EXPECT_EQ(CutToChars(Pair + Pair + Pair, 2), Pair + Pair);
    EXPECT_EQ(CutToChars("a" + Pair + "b", 2), "a" + Pair);
    EXPECT_EQ(CutToChars(QString::fromUtf8("\xC3\xA9t\xC3\xA9"), 2), QString::fromUtf8("\xC3\xA9t"));
}

TEST_F(TrayIconTest, BalloonFieldsAreCutAndTheFlagIsNotRepeated) {
    EXPECT_FALSE(Tray->ShowBalloonHint("t", "x", TBalloonHintIcon::bitInfo, 10))
        << "no balloon before the icon is in the notification area";
    ASSERT_TRUE(Tray->ShowIcon());

    struct TCase {
        int Seconds;
        unsigned ExpectedMs;
    };
    for (TCase Case : {TCase{10, 10000u}, TCase{0, 0u}, TCase{255, 255000u}, TCase{300, 255000u}, TCase{-4, 0u}}) {
        SCOPED_TRACE(Case.Seconds);
        Desktop.Calls.clear();
        EXPECT_TRUE(
            Tray->ShowBalloonHint(QString(100, 'T'), QString(300, 'b'), TBalloonHintIcon::bitWarning, Case.Seconds));
        // The balloon still showing is removed first, then the new one goes up.
        const auto Modifies = Desktop.CallsOf(TFakeDesktop::TOp::Modify);
        ASSERT_EQ(Modifies.size(), 2u);
        EXPECT_TRUE(Modifies[0].Data.Flags & NIF_INFO);
        EXPECT_TRUE(Modifies[0].Data.BalloonText.isEmpty());
        const TNotifyIconData& Shown = Modifies[1].Data;
        EXPECT_EQ(Shown.Flags, unsigned(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO));
        EXPECT_EQ(Shown.BalloonTitle, QString(63, 'T'));
        EXPECT_EQ(Shown.BalloonText, QString(255, 'b'));
        EXPECT_EQ(Shown.BalloonTimeoutMs, Case.ExpectedMs);
        EXPECT_EQ(Shown.BalloonIcon, TBalloonHintIcon::bitWarning);
    }

    Tray->SetHint("later change");
    EXPECT_EQ(Desktop.Calls.back().Data.Flags, unsigned(NIF_MESSAGE | NIF_ICON | NIF_TIP))
        << "a later change of the tip must not put the balloon up again";
}

TEST_F(TrayIconTest, BalloonFromAnotherThreadIsShownOnTheIconsThread) {
    ASSERT_TRUE(Tray->ShowIcon());
    Desktop.Calls.clear();
    bool Result = false;
    std::thread Poller([&] { Result = Tray->ShowBalloonHint("Feed", "3 new items", TBalloonHintIcon::bitInfo, 5); });
    Poller.join();
    EXPECT_TRUE(Result);
    ASSERT_TRUE(RunEventsUntil([&] { return Desktop.CallsOf(TFakeDesktop::TOp::Modify).size() >= 2; }));
    const auto Modifies = Desktop.CallsOf(TFakeDesktop::TOp::Modify);
    EXPECT_EQ(Modifies.back().Data.BalloonText, "3 new items");
    for (const auto& Call : Modifies) EXPECT_EQ(Call.Thread, QThread::currentThread());
}

TEST_F(TrayIconTest, IconIndexIsClampedToTheImageList) {
    const QList<QIcon> Images = {ColourIcon(Qt::red), ColourIcon(Qt::green), ColourIcon(Qt::blue)};
    struct TCase {
        QList<QIcon> List;
        int Index;
        int Expected;
    };
    const TCase Cases[] = {
        {Images, 7, 2}, {Images, 3, 2}, {Images, 1, 1}, {Images, 0, 0}, {Images, -1, 0}, {{}, 5, 0}, {{}, -3, 0},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Index);
        Tray->SetIconList(Case.List);
        EXPECT_EQ(Tray->IconIndex(), 0) << "a new list starts at its first image";
        Tray->SetIconIndex(Case.Index);
        EXPECT_EQ(Tray->IconIndex(), Case.Expected);
        if (!Case.List.isEmpty()) {
            EXPECT_EQ(Tray->Icon().cacheKey(), Case.List[Case.Expected].cacheKey());
        }
    }
}

TEST_F(TrayIconTest, CyclingStepsThroughTheImagesAndWraps) {
    const QList<QIcon> Images = {ColourIcon(Qt::red), ColourIcon(Qt::green), ColourIcon(Qt::blue)};
    Tray->SetIconList(Images);
    Tray->SetIconIndex(2);
    ASSERT_TRUE(Tray->ShowIcon());
    std::vector<int> Reported;
    std::vector<qint64> ShownAtCycle;
    Tray->SetOnCycle([&](TTrayIcon* Sender, int NextIndex) {
        Reported.push_back(NextIndex);
        ShownAtCycle.push_back(Sender->Icon().cacheKey());
    });

    Tray->SetCycleInterval(15);
    RunEventsFor(100);
    EXPECT_TRUE(Reported.empty()) << "an interval alone does not start cycling";

    Tray->SetCycleIcons(true);
    EXPECT_EQ(Tray->IconIndex(), 0);
    ASSERT_TRUE(RunEventsUntil([&] { return Reported.size() >= 4; }));
    Tray->SetCycleIcons(false);
    const std::vector<int> First4(Reported.begin(), Reported.begin() + 4);
    EXPECT_EQ(First4, (std::vector<int>{1, 2, 0, 1}));
    // While the event runs, the icon shows the image being left.
    EXPECT_EQ(ShownAtCycle[0], Images[0].cacheKey());
    EXPECT_EQ(ShownAtCycle[1], Images[1].cacheKey());
    EXPECT_EQ(ShownAtCycle[2], Images[2].cacheKey());
    EXPECT_EQ(Desktop.Calls.back().Data.Icon.cacheKey(), Tray->Icon().cacheKey());

    const size_t Stopped = Reported.size();
    RunEventsFor(80);
    EXPECT_EQ(Reported.size(), Stopped);

    // An interval of 0 keeps cycling from running at all.
    Tray->SetCycleInterval(0);
    Tray->SetCycleIcons(true);
    RunEventsFor(60);
    EXPECT_EQ(Reported.size(), Stopped);

    // Cycling over an empty list does nothing.
    Tray->SetIconList({});
    Tray->SetCycleInterval(10);
    RunEventsFor(60);
    EXPECT_EQ(Reported.size(), Stopped);
    EXPECT_EQ(Tray->IconIndex(), 0);
}

TEST_F(TrayIconTest, MinimisingHidesToTheTrayAndShowMainFormRestores) {
    int Announced = 0;
    Tray->SetOnMinimizeToTray([&](TTrayIcon*) { ++Announced; });
    Tray->SetMinimizeToTray(true);
    Window->show();
    RunEventsFor(20);

    Window->setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(RunEventsUntil([&] { return !Window->isVisible(); }, 1000));
    EXPECT_EQ(Announced, 1);
    EXPECT_TRUE(Tray->IconVisible());
    EXPECT_TRUE(Desktop.IconThere) << "the icon stays to bring the window back";

    Tray->ShowMainForm();
    RunEventsFor(50);
    EXPECT_TRUE(Window->isVisible());
    EXPECT_FALSE(Window->isMinimized());
    EXPECT_EQ(Announced, 1) << "restoring is no new minimise";
    EXPECT_TRUE(Desktop.IconThere);

    // A window that starts minimised (the start-in-tray setting) goes
    // straight to the tray as well.
    Window->hide();
    Window->showMinimized();
    ASSERT_TRUE(RunEventsUntil([&] { return !Window->isVisible(); }, 1000));
    EXPECT_EQ(Announced, 2);
    Tray->ShowMainForm();
    EXPECT_TRUE(Window->isVisible());
    EXPECT_FALSE(Window->isMinimized());
}

TEST_F(TrayIconTest, MinimisingLeavesTheWindowAloneUnlessAsked) {
    struct TCase {
        const char* Name;
        bool MinimizeToTray;
        bool TrayAvailable;
    };
    const TCase Cases[] = {
        {"minimise to tray off", false, true},
        {"no notification area", true, false},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Tray->SetMinimizeToTray(Case.MinimizeToTray);
        Desktop.Available = Case.TrayAvailable;
        Window->showNormal();
        RunEventsFor(20);
        Window->setWindowState(Qt::WindowMinimized);
        RunEventsFor(80);
        EXPECT_TRUE(Window->isVisible()) << "the window keeps its taskbar entry";
        EXPECT_FALSE(Desktop.IconThere);
        // Called directly it hides the window only where the icon can bring it back.
        Tray->MinimizeToTrayNow();
        EXPECT_EQ(Window->isVisible(), !Case.TrayAvailable);
        Tray->HideIcon();
    }
}

TEST_F(TrayIconTest, LoadedAsksOnStartupWhetherToShowTheWindow) {
    struct TCase {
        const char* Name;
        bool Answer;
        bool TrayAvailable;
        bool Expected;
    };
    const TCase Cases[] = {
        {"show", true, true, true},
        {"start in the tray", false, true, false},
        {"no tray to start in", false, false, true},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Desktop.Available = Case.TrayAvailable;
        Window->show();
        int Asked = 0;
        Tray->SetOnStartup([&](TTrayIcon* Sender, bool& ShowMainForm) {
            EXPECT_EQ(Sender, Tray);
            EXPECT_TRUE(ShowMainForm) << "the default is to show";
            ShowMainForm = Case.Answer;
            ++Asked;
        });
        Tray->SetIconVisible(true);
        EXPECT_EQ(Tray->Loaded(), Case.Expected);
        EXPECT_EQ(Asked, 1);
        EXPECT_EQ(Window->isVisible(), Case.Expected);
        EXPECT_TRUE(Desktop.IconThere);
        Tray->SetIconVisible(false);
        EXPECT_FALSE(Desktop.IconThere);
    }
}

TEST_F(TrayIconTest, DestroyingTheIconRemovesItFromTheNotificationArea) {
    Tray->SetIconVisible(true);
    EXPECT_TRUE(Desktop.IconThere);
    Tray->SetIconVisible(true);  // a second add fails and changes nothing
    EXPECT_TRUE(Desktop.IconThere);
    Window.reset();
    EXPECT_FALSE(Desktop.IconThere);
    EXPECT_EQ(TPlainTimerHandler::Instance(), nullptr) << "its timers went with it";
}
