// The application's test runner: widgets run on the offscreen platform
// unless a display is chosen explicitly.
#include <QApplication>

#include <gtest/gtest.h>

#include <unistd.h>

#include "WebBrowser.h"

int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The browser engine refuses to run as root inside its sandbox.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TWebBrowser::RegisterSchemes();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
