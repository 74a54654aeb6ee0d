// quillet-pane: the reading pane of Quillet's main window, in a process of
// its own. The main window starts it with pipes on its standard input and
// output, takes its window in, and ends it (closing the input) when the
// window has been hidden for a while.
#include <QApplication>
#include <QQuickWindow>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "Memory.h"
#include "PaneServer.h"
#include "WebBrowser.h"

namespace {

// Writes all of a line to the main window, or ends the process when the
// main window is gone.
void WriteAll(int fd, const QByteArray& line) {
    const char* data = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) std::_Exit(0);
        data += written;
        left -= written;
    }
}

// Qt's X11 layer expects a top-level window to be unmapped when it is
// shown, and says so when the main window's container has already mapped
// the pane's window. The window is where it should be; only that one
// message is dropped.
QtMessageHandler gDefaultHandler = nullptr;

void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("setNetWmStateOnUnmappedWindow"))) return;
    gDefaultHandler(type, context, message);
}

}  // namespace

int main(int argc, char* argv[]) {
    plat::TuneAllocator();
    gDefaultHandler = qInstallMessageHandler(FilterMessages);
    // The protocol owns standard output; whatever a library prints there
    // goes to the error stream instead.
    const int protocolOut = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);

    // A feed page needs no GPU: the engine composites in software and Qt
    // Quick draws its result without loading an OpenGL driver, which alone
    // would take some 30 MB. The user's own engine flags win.
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TWebBrowser::RegisterSchemes();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    TPaneServer server([protocolOut](const QByteArray& line) { WriteAll(protocolOut, line); });

    // The main window's messages; the end of its input (closed on purpose
    // or because the main program ended) ends the pane.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[16384];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
        if (got <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        server.Receive(QByteArray(buffer, qsizetype(got)));
    });
    QTimer::singleShot(0, &server, &TPaneServer::AnnounceWindow);
    return app.exec();
}
