#pragma once

// Running the event loop in tests: timers and queued calls only happen while
// events are processed.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <functional>

inline void RunEventsFor(int Ms) {
    QDeadlineTimer Deadline(Ms);
    while (!Deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    QCoreApplication::processEvents();
}

// Processes events until Condition holds or TimeoutMs passed; reports Condition.
inline bool RunEventsUntil(const std::function<bool()>& Condition, int TimeoutMs = 3000) {
    QDeadlineTimer Deadline(TimeoutMs);
    while (!Condition()) {
        if (Deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}
