#include "PlainTimer.h"

#include <QCoreApplication>
#include <QTimerEvent>

namespace {

// The one handler; nullptr while no timer exists.
TPlainTimerHandler* GHandler = nullptr;
bool GExitRoutineRegistered = false;

}  // namespace

// Runs while the application object is being destroyed: a handler still
// alive then (a timer leaked) goes while Qt's event dispatcher still exists.
void DestroyTimerWindowAtExit() {
    if (!GHandler) return;
    TPlainTimerHandler* Handler = GHandler;
    GHandler = nullptr;
    Handler->DeleteWhenIdle();
}

void TPlainTimerHandler::DeleteWhenIdle() {
    if (FDispatching > 0)
        FDeleteWhenIdle = true;
    else
        delete this;
}

void AcquireTimerWindow() {
    if (!GHandler) {
        GHandler = new TPlainTimerHandler();
        if (!GExitRoutineRegistered) {
            qAddPostRoutine(DestroyTimerWindowAtExit);
            GExitRoutineRegistered = true;
        }
    }
    ++GHandler->FUserCount;
}

void ReleaseTimerWindow() {
    if (!GHandler) return;
    if (GHandler->FUserCount > 0) --GHandler->FUserCount;
    if (GHandler->FUserCount == 0) {
        TPlainTimerHandler* Handler = GHandler;
        // A new timer from now on gets a new handler, even if this one must
        // live on until the timer callback that released it has returned.
        GHandler = nullptr;
        Handler->DeleteWhenIdle();
    }
}

// ---------------------------------------------------------------------------
// TPlainTimerHandler

TPlainTimerHandler::TPlainTimerHandler() = default;

TPlainTimerHandler::~TPlainTimerHandler() {
    for (auto It = FTimerOf.cbegin(); It != FTimerOf.cend(); ++It) killTimer(It.key());
}

TPlainTimerHandler* TPlainTimerHandler::Instance() { return GHandler; }

bool TPlainTimerHandler::StartTimerFor(TPlainTimer* Timer, int Interval) {
    // One underlying timer per timer object: a second start replaces the
    // first, so the period begins again.
    StopTimerFor(Timer);
    const int QtId = startTimer(Interval, Qt::PreciseTimer);
    if (QtId == 0) return false;
    FQtIdOf.insert(Timer, QtId);
    FTimerOf.insert(QtId, Timer);
    return true;
}

bool TPlainTimerHandler::StopTimerFor(TPlainTimer* Timer) {
    const auto It = FQtIdOf.find(Timer);
    if (It == FQtIdOf.end()) return false;
    killTimer(It.value());
    FTimerOf.remove(It.value());
    FQtIdOf.erase(It);
    return true;
}

bool TPlainTimerHandler::HasTimerFor(const TPlainTimer* Timer) const { return FQtIdOf.contains(Timer); }

void TPlainTimerHandler::timerEvent(QTimerEvent* Event) {
    // An expiry for a timer that has been stopped or destroyed since is
    // simply dropped.
    TPlainTimer* Timer = FTimerOf.value(Event->timerId(), nullptr);
    if (!Timer) return;
    ++FDispatching;
    Timer->Fire();  // may destroy the timer, other timers, even the last one
    --FDispatching;
    if (FDispatching == 0 && FDeleteWhenIdle) delete this;  // nothing of this object is touched after this line
}

// ---------------------------------------------------------------------------
// TPlainTimer

TPlainTimer::TPlainTimer() : TPlainTimer(1000, nullptr) {}

TPlainTimer::TPlainTimer(int Interval, TTimerEvent OnTimer) : FInterval(Interval) {
    SetOnTimer(std::move(OnTimer));
    AcquireTimerWindow();
}

TPlainTimer::~TPlainTimer() {
    if (FEnabled)
        Stop(true);
    else if (TPlainTimerHandler* Handler = TPlainTimerHandler::Instance())
        Handler->StopTimerFor(this);
    ReleaseTimerWindow();
}

void TPlainTimer::SetEnabled(bool Value) {
    if (Value)
        Start();
    else
        Stop(true);
}

void TPlainTimer::SetInterval(int Value) {
    if (Value == FInterval) return;
    FInterval = Value;
    if (!FEnabled) return;
    if (FInterval != 0) {
        Start();
    } else if (TPlainTimerHandler* Handler = TPlainTimerHandler::Instance()) {
        // Paused: Enabled stays set so a later non-zero interval resumes.
        Handler->StopTimerFor(this);
    }
}

void TPlainTimer::SetOnTimer(TTimerEvent Value) {
    FOnTimer = std::move(Value);
    if (!FOnTimer && FEnabled) {
        if (TPlainTimerHandler* Handler = TPlainTimerHandler::Instance()) Handler->StopTimerFor(this);
    }
}

bool TPlainTimer::Start() {
    // A negative period cannot be handed to a timer either; treat it like 0
    // rather than let it wrap into a period of weeks.
    if (FInterval <= 0) return false;
    if (FEnabled) Stop(true);
    TPlainTimerHandler* Handler = TPlainTimerHandler::Instance();
    if (!Handler || !Handler->StartTimerFor(this, FInterval)) return false;
    FEnabled = true;
    return true;
}

bool TPlainTimer::Stop(bool ClearEnabled) {
    if (ClearEnabled) FEnabled = false;
    TPlainTimerHandler* Handler = TPlainTimerHandler::Instance();
    return Handler && Handler->StopTimerFor(this);
}

bool TPlainTimer::Running() const {
    const TPlainTimerHandler* Handler = TPlainTimerHandler::Instance();
    return Handler && Handler->HasTimerFor(this);
}

void TPlainTimer::Fire() {
    if (FAutoDisable) Stop(true);
    // The handler may replace OnTimer or destroy this timer: call a copy.
    if (TTimerEvent Handler = FOnTimer) Handler(this);
}
