#pragma once

// TPlainTimer: a small timer object that needs no owner and no window.
//
// Every timer of the program shares one hidden dispatcher, the
// TPlainTimerHandler, which owns the underlying Qt timers and routes each
// expiry to the right TPlainTimer. The handler exists from the first timer's
// construction to the last timer's destruction.
//
// States: stopped (Enabled() false), running (Enabled() true and a Qt timer
// exists) and paused (Enabled() true but no Qt timer, because Interval() is 0
// or OnTimer was removed). A paused timer starts again as soon as it gets a
// non-zero interval (or SetEnabled(true) after a handler was given back).
//
// User-interface thread only: timers are created, changed, destroyed and
// fired on the thread that runs the Qt event loop.

#include <QObject>
#include <QHash>

#include <functional>

class TPlainTimer;

// Called at each expiry; Sender is the timer that fired.
using TTimerEvent = std::function<void(TPlainTimer* Sender)>;

class TPlainTimer {
public:
    // Interval 1000 ms, no OnTimer, stopped.
    TPlainTimer();
    // Interval and OnTimer from the arguments, stopped.
    TPlainTimer(int Interval, TTimerEvent OnTimer);
    ~TPlainTimer();

    TPlainTimer(const TPlainTimer&) = delete;
    TPlainTimer& operator=(const TPlainTimer&) = delete;

    // Identifies this timer to the shared handler; unique per live timer.
    const void* TimerId() const { return this; }

    bool Enabled() const { return FEnabled; }
    // true: Start(); false: Stop() clearing Enabled.
    void SetEnabled(bool Value);

    // One-shot: the timer stops (and Enabled() becomes false) before each
    // OnTimer call.
    bool AutoDisable() const { return FAutoDisable; }
    void SetAutoDisable(bool Value) { FAutoDisable = Value; }

    // Period in milliseconds; 0 means the timer cannot run. Setting the
    // current value again changes nothing (the period is not restarted).
    // On an enabled timer a new non-zero value restarts it with that period
    // and 0 pauses it with Enabled() left true.
    int Interval() const { return FInterval; }
    void SetInterval(int Value);

    // Removing the handler from an enabled timer pauses it; giving one back
    // does not restart it, SetEnabled(true) does.
    const TTimerEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TTimerEvent Value);

    // Starts (or restarts) the period. Fails, changing nothing, when
    // Interval() is 0 or negative.
    bool Start();
    // Stops the underlying timer; reports whether one was running.
    bool Stop(bool ClearEnabled = true);

    // True while an underlying timer exists (running, not paused).
    bool Running() const;

private:
    friend class TPlainTimerHandler;
    void Fire();

    bool FEnabled = false;
    bool FAutoDisable = false;
    int FInterval = 1000;
    TTimerEvent FOnTimer;
};

// The shared dispatcher of all TPlainTimer objects. Created by the first timer
// and destroyed with the last one (or when the application ends).
class TPlainTimerHandler : public QObject {
    Q_OBJECT
public:
    // The live handler, or nullptr while no timer exists.
    static TPlainTimerHandler* Instance();

    // Number of timer objects that use the handler.
    int UserCount() const { return FUserCount; }

    bool StartTimerFor(TPlainTimer* Timer, int Interval);
    bool StopTimerFor(TPlainTimer* Timer);
    bool HasTimerFor(const TPlainTimer* Timer) const;

protected:
    void timerEvent(QTimerEvent* Event) override;

private:
    TPlainTimerHandler();
    ~TPlainTimerHandler() override;

    friend void AcquireTimerWindow();
    friend void ReleaseTimerWindow();
    friend void DestroyTimerWindowAtExit();

    int FUserCount = 0;
    // A handler running a timer callback cannot be deleted under it: it
    // then deletes itself once the callback has returned.
    void DeleteWhenIdle();

    int FDispatching = 0;          // nesting depth of timerEvent
    bool FDeleteWhenIdle = false;  // the last user left during a dispatch
    QHash<const TPlainTimer*, int> FQtIdOf;
    QHash<int, TPlainTimer*> FTimerOf;
};

// Create the shared handler if there is none and count one more user.
void AcquireTimerWindow();
// Count one user less (never below zero); at zero the handler is destroyed.
void ReleaseTimerWindow();
