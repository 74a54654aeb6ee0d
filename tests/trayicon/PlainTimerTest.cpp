#include "PlainTimer.h"
#include "TestWait.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPointer>

#include <memory>
#include <vector>

namespace {

// Collects the moments (ms since construction) at which a timer fired.
struct TFireLog {
    QElapsedTimer Clock;
    std::vector<qint64> At;
    TFireLog() { Clock.start(); }
    TTimerEvent Handler() {
        return [this](TPlainTimer*) { At.push_back(Clock.elapsed()); };
    }
};

}  // namespace

TEST(PlainTimer, PlainConstructorFiresEverySecondOnceEnabled) {
    TFireLog Log;
    TPlainTimer Timer;
    EXPECT_EQ(Timer.Interval(), 1000);
    EXPECT_FALSE(Timer.Enabled());
    EXPECT_FALSE(Timer.AutoDisable());
    Timer.SetOnTimer(Log.Handler());
    RunEventsFor(50);
    EXPECT_TRUE(Log.At.empty()) << "a new timer must not run before it is enabled";

    Log.Clock.restart();
    Timer.SetEnabled(true);
    ASSERT_TRUE(RunEventsUntil([&] { return Log.At.size() >= 2; }, 4500));
    EXPECT_GE(Log.At[0], 950);
    EXPECT_LE(Log.At[0], 1800);
    EXPECT_GE(Log.At[1] - Log.At[0], 900);
    EXPECT_LE(Log.At[1] - Log.At[0], 1800);
    EXPECT_TRUE(Timer.Enabled());
}

TEST(PlainTimer, ZeroOrNegativeIntervalCannotStart) {
    for (int Interval : {0, -5}) {
        SCOPED_TRACE(Interval);
        int Fired = 0;
        TPlainTimer Timer(Interval, [&](TPlainTimer*) { ++Fired; });
        Timer.SetEnabled(true);
        EXPECT_FALSE(Timer.Enabled());
        EXPECT_FALSE(Timer.Running());
        EXPECT_FALSE(Timer.Start());
        RunEventsFor(30);
        EXPECT_EQ(Fired, 0);
    }
}

TEST(PlainTimer, ZeroIntervalPausesAndANewIntervalResumes) {
    int Fired = 0;
    TPlainTimer Timer(20, [&](TPlainTimer*) { ++Fired; });
    Timer.SetEnabled(true);
    ASSERT_TRUE(RunEventsUntil([&] { return Fired >= 2; }));

    Timer.SetInterval(0);
    EXPECT_TRUE(Timer.Enabled()) << "a paused timer is still meant to run";
    EXPECT_FALSE(Timer.Running());
    const int FiredWhenPaused = Fired;
    RunEventsFor(120);
    EXPECT_EQ(Fired, FiredWhenPaused);

    TFireLog Log;
    Timer.SetOnTimer(Log.Handler());
    Timer.SetInterval(500);
    EXPECT_TRUE(Timer.Running());
    ASSERT_TRUE(RunEventsUntil([&] { return !Log.At.empty(); }, 2000));
    EXPECT_GE(Log.At[0], 450) << "resumed with the new period";
}

TEST(PlainTimer, SameIntervalKeepsThePeriodWhileStartRestartsIt) {
    // Interval 600, touched at 200 ms: the same interval keeps the first
    // expiry near 600 ms, a Start() (or a new interval) moves it to ~800 ms.
    struct TCase {
        const char* Name;
        std::function<void(TPlainTimer&)> Touch;
        qint64 Earliest;
        qint64 Latest;
    };
    const TCase Cases[] = {
        {"same interval", [](TPlainTimer& T) { T.SetInterval(600); }, 560, 760},
        {"enable again", [](TPlainTimer& T) { T.SetEnabled(true); }, 770, 1400},
        {"other interval", [](TPlainTimer& T) { T.SetInterval(601); }, 770, 1400},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TFireLog Log;
        TPlainTimer Timer(600, Log.Handler());
        Log.Clock.restart();
        Timer.SetEnabled(true);
        RunEventsFor(200);
        ASSERT_TRUE(Log.At.empty()) << "the machine is too busy for this measurement";
        Case.Touch(Timer);
        ASSERT_TRUE(RunEventsUntil([&] { return !Log.At.empty(); }, 3000));
        EXPECT_GE(Log.At[0], Case.Earliest);
        EXPECT_LE(Log.At[0], Case.Latest);
    }
}

TEST(PlainTimer, AutoDisableFiresOnceAndIsDisabledInsideTheHandler) {
    int Fired = 0;
    bool EnabledInside = true;
    TPlainTimer Timer(15, [&](TPlainTimer* Sender) {
        ++Fired;
        EnabledInside = Sender->Enabled();
    });
    Timer.SetAutoDisable(true);
    Timer.SetEnabled(true);
    ASSERT_TRUE(RunEventsUntil([&] { return Fired >= 1; }));
    RunEventsFor(100);
    EXPECT_EQ(Fired, 1);
    EXPECT_FALSE(EnabledInside);
    EXPECT_FALSE(Timer.Enabled());

    // Enabling it again gives exactly one more shot.
    Timer.SetEnabled(true);
    ASSERT_TRUE(RunEventsUntil([&] { return Fired >= 2; }));
    RunEventsFor(60);
    EXPECT_EQ(Fired, 2);
}

TEST(PlainTimer, RemovingTheHandlerPausesAndOnlyEnablingRestarts) {
    int Fired = 0;
    auto Count = [&](TPlainTimer*) { ++Fired; };
    TPlainTimer Timer(15, Count);
    Timer.SetEnabled(true);
    ASSERT_TRUE(RunEventsUntil([&] { return Fired >= 1; }));

    Timer.SetOnTimer(nullptr);
    EXPECT_TRUE(Timer.Enabled());
    EXPECT_FALSE(Timer.Running());

    Timer.SetOnTimer(Count);
    EXPECT_FALSE(Timer.Running()) << "giving the handler back does not restart the timer";
    const int Before = Fired;
    RunEventsFor(60);
    EXPECT_EQ(Fired, Before);

    Timer.SetEnabled(true);
    ASSERT_TRUE(RunEventsUntil([&] { return Fired > Before; }));
}

TEST(PlainTimer, SharedHandlerLivesFromFirstToLastTimer) {
    ASSERT_EQ(TPlainTimerHandler::Instance(), nullptr) << "a timer of an earlier test is still alive";
    QPointer<TPlainTimerHandler> First;
    {
        TPlainTimer A;
        First = TPlainTimerHandler::Instance();
        ASSERT_FALSE(First.isNull());
        EXPECT_EQ(First->UserCount(), 1);
        {
            TPlainTimer B(10, nullptr);
            EXPECT_EQ(TPlainTimerHandler::Instance(), First.data()) << "one handler for all timers";
            EXPECT_EQ(First->UserCount(), 2);
        }
        EXPECT_EQ(First->UserCount(), 1);
        EXPECT_FALSE(First.isNull());
    }
    EXPECT_TRUE(First.isNull()) << "the last timer takes the handler with it";
    EXPECT_EQ(TPlainTimerHandler::Instance(), nullptr);
    ReleaseTimerWindow();  // a release too many changes nothing

    int Fired = 0;
    TPlainTimer Next(10, [&](TPlainTimer*) { ++Fired; });
    ASSERT_NE(TPlainTimerHandler::Instance(), nullptr);
    EXPECT_EQ(TPlainTimerHandler::Instance()->UserCount(), 1);
    Next.SetEnabled(true);
    EXPECT_TRUE(RunEventsUntil([&] { return Fired >= 1; })) << "the new handler dispatches";
}

TEST(PlainTimer, TimersMayBeDestroyedFromTheirOwnHandlers) {
    // A timer destroying itself, and with it the last user of the shared
    // handler, from inside its expiry; then one destroying a sibling whose
    // expiry may already be due.
    ASSERT_EQ(TPlainTimerHandler::Instance(), nullptr);
    auto Self = std::make_unique<TPlainTimer>(10, nullptr);
    Self->SetOnTimer([&](TPlainTimer*) { Self.reset(); });
    Self->SetEnabled(true);
    ASSERT_TRUE(RunEventsUntil([&] { return Self == nullptr; }));
    EXPECT_EQ(TPlainTimerHandler::Instance(), nullptr);
    RunEventsFor(30);

    int SiblingFired = 0;
    auto Sibling = std::make_unique<TPlainTimer>(5, [&](TPlainTimer*) { ++SiblingFired; });
    TPlainTimer Killer(5, [&](TPlainTimer* Sender) {
        Sibling.reset();
        Sender->SetEnabled(false);
    });
    Sibling->SetEnabled(true);
    Killer.SetEnabled(true);
    ASSERT_TRUE(RunEventsUntil([&] { return Sibling == nullptr; }));
    const int Seen = SiblingFired;
    RunEventsFor(40);
    EXPECT_EQ(SiblingFired, Seen) << "no expiry reaches a destroyed timer";
}
