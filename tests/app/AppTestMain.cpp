// The application's test runner: widgets run on the offscreen platform
// unless a display is chosen explicitly.
#include <QApplication>

#include <gtest/gtest.h>

#include "HeadlessBrowser.h"
#include "WebBrowser.h"

int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
    testsupport::PrepareHeadlessBrowser(true);
    qputenv("QUILLET_PANE_PROGRAM", QUILLET_PANE_PROGRAM_PATH);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TWebBrowser::RegisterSchemes();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
