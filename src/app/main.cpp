// Quillet's entry: the home folder, the application object, one instance per
// home, the main window and its loop.
#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <string>

#include "AppInfo.h"
#include "Autostart.h"
#include "CommandLine.h"
#include "Home.h"
#include "Memory.h"
#include "SignalBridge.h"
#include "SingleInstance.h"
#include "StartupNotices.h"
#include "fMain.h"

namespace {

const char* const kTitle = "Veltrax Quillet";

void ShowStartError(const std::string& reason) {
    std::fprintf(stderr, "quillet: %s\n", reason.c_str());
    QMessageBox::critical(nullptr, QString::fromUtf8(kTitle),
                          QStringLiteral("Quillet cannot start.\n\n%1").arg(QString::fromStdString(reason)));
}

}  // namespace

int main(int argc, char* argv[]) {
    // Read before the home is chosen or a display is opened, so that --help
    // and --version answer anywhere and a mistake changes nothing.
    const TCommandLine commandLine = ParseCommandLine(argc, argv);
    if (!commandLine.Error.empty()) {
        std::fprintf(stderr, "quillet: %s\n", commandLine.Error.c_str());
        return 1;
    }
    if (commandLine.Help || commandLine.Version) {
        const std::string text = commandLine.Help ? UsageText() : std::string("quillet ") + kProgramVersion + "\n";
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    plat::TuneAllocator();
    // The home is chosen and entered before anything else reads or writes a
    // file: everything after this addresses its files relative to it.
    std::string homeError;
    plat::THomeChoice home;
    try {
        home = plat::EnterHome(plat::THomeEnvironment::FromProcess(argc, argv));
        startup::LogHomeNotices(home);
    } catch (const std::exception& error) {
        homeError = error.what();
    }

    // The reading pane's window comes from a helper process and is taken
    // into the main window as an X11 foreign window. On a Wayland desktop
    // that means running through XWayland, unless the user chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(kTitle);
    QApplication::setApplicationDisplayName(kTitle);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/quillet.svg")));
    // Ties the windows and notifications to the installed desktop entry.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppId));
    // The window may sit hidden in the tray while a dialog closes: only
    // closing the main window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!homeError.empty()) {
        ShowStartError(homeError);
        return 1;
    }

    // A second start in the same home shows the running window instead.
    TSingleInstance instance(QDir::currentPath());
    if (!instance.Claim()) {
        if (instance.HandOver()) return 0;
        // Not handed over is not done: the caller learns it failed.
        ShowStartError("Quillet already runs in " + QDir::currentPath().toStdString() +
                       ", but that instance did not answer (it may be another user's, or hang).");
        return 1;
    }

    try {
        TFormMain form;
        QObject::connect(&form, &TFormMain::formClosed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        QObject::connect(&instance, &TSingleInstance::showRequested, &form, [&form] {
            form.ActionShowQuillet->trigger();
            form.raise();
            form.activateWindow();
        });
        // SIGTERM or SIGINT closes the window as the user would, so the
        // geometry, the language and unread counts are saved.
        plat::InstallQuitOnSignals([&form] { form.close(); });
        // The autostart entry follows the option, also when the program
        // moved or config.xml was edited by hand; a failure is no reason
        // not to start.
        try {
            autostart::ApplyOption(form.Options());
        } catch (const std::exception& error) {
            std::fprintf(stderr, "quillet: %s\n", error.what());
        }
        form.ShowAtStartup();
        if (const QStringList notices = startup::NoticeTexts(home, instance.ChannelProblem()); !notices.isEmpty())
            form.SetStatusText(0, notices.join(QStringLiteral("  ")));
        return app.exec();
    } catch (const std::exception& error) {
        ShowStartError(error.what());
        return 1;
    }
}
