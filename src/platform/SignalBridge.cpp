#include "SignalBridge.h"

#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <system_error>

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <sys/socket.h>
#include <unistd.h>

namespace plat {
namespace {

// A signal handler may do almost nothing safely, so it only writes one byte
// into a socket whose other end the event loop watches (the self-pipe
// trick); everything else happens on the main thread.
int g_channel[2] = {-1, -1};
volatile std::sig_atomic_t g_signalSeen = 0;

std::function<void()>& Callback() {
    static std::function<void()> callback;
    return callback;
}

QPointer<QSocketNotifier>& Notifier() {
    static QPointer<QSocketNotifier> notifier;
    return notifier;
}

extern "C" void OnQuitSignal(int signo) {
    if (g_signalSeen != 0) {
        _exit(128 + signo);
    }
    g_signalSeen = signo;
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    // Non-blocking: should the socket ever be full, the byte already there
    // wakes the loop just as well.
    [[maybe_unused]] const ssize_t written = ::write(g_channel[1], &byte, 1);
    errno = savedErrno;
}

void DrainChannel() {
    unsigned char buffer[64];
    while (::read(g_channel[0], buffer, sizeof buffer) > 0) {
    }
}

void OpenChannel() {
    if (g_channel[0] >= 0) {
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_channel) != 0) {
        throw std::system_error(errno, std::generic_category(), "Cannot create the signal channel");
    }
}

void InstallHandler(int signo) {
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    // While one quit signal is handled the other waits, so the two never
    // interleave inside the handler.
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGINT);
    action.sa_flags = SA_RESTART;
    if (::sigaction(signo, &action, nullptr) != 0) {
        throw std::system_error(errno, std::generic_category(), "Cannot install the signal handler");
    }
}

}  // namespace

void InstallQuitOnSignals(std::function<void()> firstSignal) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        throw std::logic_error("InstallQuitOnSignals needs a QCoreApplication");
    }
    Callback() = std::move(firstSignal);
    OpenChannel();
    if (Notifier().isNull()) {
        // Owned by the application, so it goes when the event loop does.
        auto* notifier = new QSocketNotifier(g_channel[0], QSocketNotifier::Read, app);
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
            DrainChannel();
            if (Callback()) {
                Callback()();
            }
        });
        Notifier() = notifier;
    }
    InstallHandler(SIGTERM);
    InstallHandler(SIGINT);
}

}  // namespace plat
