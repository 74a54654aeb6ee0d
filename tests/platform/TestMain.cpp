// The platform tests need a QGuiApplication for the desktop services and
// the signal bridge's event loop, but must list their tests without a
// display: the application is created only after GoogleTest has read its
// flags, and the offscreen platform is the default.
#include <gtest/gtest.h>

#include <cstdlib>

#include <QGuiApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
