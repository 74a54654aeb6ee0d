#include "SignalBridge.h"

#include <gtest/gtest.h>

#include <csignal>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace {

TEST(SignalBridge, FirstSignalCallsBackOnTheMainThread) {
    bool called = false;
    QThread* callbackThread = nullptr;
    plat::InstallQuitOnSignals([&] {
        called = true;
        callbackThread = QThread::currentThread();
    });

    std::raise(SIGTERM);
    // The handler only wakes the event loop; nothing runs before it turns.
    EXPECT_FALSE(called);

    QElapsedTimer timer;
    timer.start();
    while (!called && timer.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    EXPECT_TRUE(called);
    EXPECT_EQ(callbackThread, QCoreApplication::instance()->thread());
}

// The signals are raised in a fresh copy of the test program, because the
// second one ends it.
class SignalBridgeDeath : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(SignalBridgeDeath, SecondSignalEndsTheProcessAtOnce) {
    for (int signo : {SIGTERM, SIGINT}) {
        EXPECT_EXIT(
            {
                plat::InstallQuitOnSignals([] {});
                std::raise(signo);
                std::raise(signo);
                std::_Exit(0);  // not reached
            },
            ::testing::ExitedWithCode(128 + signo), "")
            << signo;
    }
}

TEST_F(SignalBridgeDeath, MixedSignalsCountTogether) {
    EXPECT_EXIT(
        {
            plat::InstallQuitOnSignals([] {});
            std::raise(SIGINT);
            std::raise(SIGTERM);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(128 + SIGTERM), "");
}

}  // namespace
