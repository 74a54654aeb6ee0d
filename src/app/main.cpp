// Quillet's entry: the home folder, the application object, one instance per
// home, the main window and its loop.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>
#include <string>

#include "AccountCommand.h"
#include "AppInfo.h"
#include "Autostart.h"
#include "CommandLine.h"
#include "ConfigCommands.h"
#include "HttpClient.h"
#include "InstanceRequests.h"
#include "Home.h"
#include "Memory.h"
#include "SignalBridge.h"
#include "SingleInstance.h"
#include "StarredExportCommand.h"
#include "StartupNotices.h"
#include "fMain.h"

namespace {

const char* const kTitle = "Veltrax Quillet";

// Addresses and files name what the user pointed at from where the command
// was typed; the home becomes the working directory before they are used,
// so a file given by a relative path is made absolute first.
std::string FromHere(const std::string& argument) {
    std::error_code error;
    if (argument.find("://") != std::string::npos || !std::filesystem::exists(argument, error)) return argument;
    return std::filesystem::absolute(argument, error).string();
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

// The running instance's answer to a file command: its text on the right
// stream and the exit status.
int Report(const std::optional<QString>& answer) {
    if (!answer) {
        std::fprintf(stderr, "quillet: the running Quillet did not answer\n");
        return 1;
    }
    const bool ok = answer->startsWith(QStringLiteral("ok"));
    const QString text = answer->section(' ', 1);
    if (!text.isEmpty()) std::fprintf(ok ? stdout : stderr, ok ? "%s\n" : "quillet: %s\n", qPrintable(text));
    return ok ? 0 : 1;
}

// --import-opml, --export-opml and --export-starred: through the running
// instance when there is one, else straight on the home's files; no window
// either way.
int RunFileCommand(int argc, char* argv[], const TCommandLine& commandLine) {
    struct TCommand {
        const char* Verb;
        std::string File;
        std::function<std::string(const std::string& file)> Direct;
    };
    const TCommand command =
        commandLine.ImportOpml
            ? TCommand{"import-opml", *commandLine.ImportOpml,
                       [](const std::string& file) { return configcmd::ImportOpml("config.xml", file); }}
        : commandLine.ExportOpml
            ? TCommand{"export-opml", *commandLine.ExportOpml,
                       [](const std::string& file) { return configcmd::ExportOpml("config.xml", file); }}
            : TCommand{"export-starred", *commandLine.ExportStarred, [](const std::string& file) {
                           return ExportStarredFromHome("config.xml", items::TItemStore::kFileName, file);
                       }};
    const std::string file = AbsolutePath(command.File);
    try {
        plat::EnterHome(plat::THomeEnvironment::FromProcess(argc, argv));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillet: %s\n", error.what());
        return 1;
    }
    QCoreApplication app(argc, argv);
    TSingleInstance instance(QDir::currentPath());
    if (!instance.Claim()) return Report(instance.Ask(command.Verb, QString::fromStdString(file), 30000));
    try {
        std::printf("%s\n", command.Direct(file).c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillet: %s\n", error.what());
        return 1;
    }
}

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
    if (commandLine.ImportOpml || commandLine.ExportOpml || commandLine.ExportStarred)
        return RunFileCommand(argc, argv, commandLine);
    if (commandLine.AddAccount) return RunAddAccount(argc, argv, commandLine);
    std::vector<std::string> addresses;
    for (const std::string& address : commandLine.Addresses) addresses.push_back(FromHere(address));
    plat::TuneAllocator();
    // Every request names the program and where to learn about it, so that
    // a site's owner can tell a feed reader from an abusive robot.
    http::SetProductToken(std::string("Quillet/") + kProgramVersion + " (+" + kHomePageURL + ")");
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
        bool handedOver = addresses.empty() ? instance.HandOver() : true;
        for (const std::string& address : addresses)
            handedOver = instance.Ask("add", QString::fromStdString(address)) == QStringLiteral("ok") && handedOver;
        if (handedOver) return 0;
        // Not handed over is not done: the caller learns it failed.
        ShowStartError("Quillet already runs in " + QDir::currentPath().toStdString() +
                       ", but that instance did not answer (it may be another user's, or hang).");
        return 1;
    }

    try {
        TFormMain form;
        QObject::connect(&form, &TFormMain::formClosed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        QObject::connect(&instance, &TSingleInstance::showRequested, &form, [&form] {
            form.Actions().ShowQuillet->trigger();
            form.raise();
            form.activateWindow();
        });
        instance.RequestHandler = [&form](const QByteArray& verb, const QString& argument) {
            return AnswerInstanceRequest(form, verb, argument);
        };
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
        // Addresses given to this start open the Add Feed dialog once the
        // window is up, one after another.
        for (const std::string& address : addresses)
            QTimer::singleShot(0, &form, [&form, address] { form.TakeAddressOrFile(QString::fromStdString(address)); });
        if (const QStringList notices = startup::NoticeTexts(home, instance.ChannelProblem()); !notices.isEmpty())
            form.SetStatusText(0, notices.join(QStringLiteral("  ")));
        return app.exec();
    } catch (const std::exception& error) {
        ShowStartError(error.what());
        return 1;
    }
}
