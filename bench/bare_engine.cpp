// The floor under the reading pane's memory: a bare Qt WebEngine view in a
// window of its own, showing a one-line page, set up as quillet-pane sets
// up its engine (software compositing, no GPU). `bench/idle` starts it and
// weighs its process tree beside the pane's. It prints "ready" once the
// page has loaded and painted, and ends with its standard input.
#include <QApplication>
#include <QQuickWindow>
#include <QSocketNotifier>
#include <QTimer>
#include <QWebEngineView>

#include <cstdio>

#include <unistd.h>

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QWebEngineView view;
    view.resize(760, 600);
    QObject::connect(&view, &QWebEngineView::loadFinished, &app, [] {
        QTimer::singleShot(1000, [] {
            std::printf("ready\n");
            std::fflush(stdout);
        });
    });
    view.setHtml(QStringLiteral("<p>One line.</p>"));
    view.show();
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    return app.exec();
}
