// Quillet's entry: the application object, the main window and its loop.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include <exception>

#include "Memory.h"
#include "SignalBridge.h"
#include "WebBrowser.h"
#include "fMain.h"

namespace {

const char* const kTitle = "Veltrax Quillet";

// The program's files (languages/, config.xml, feeds/, rss.xsl) live in its
// working directory. Started from a desktop menu, the working directory is
// often the user's home; then the folder beside the executable is used
// when it holds the program's files.
void EnterProgramFolder() {
    if (QFileInfo(QStringLiteral("languages")).isDir()) return;
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (QFileInfo(programFolder + QStringLiteral("/languages")).isDir()) QDir::setCurrent(programFolder);
}

}  // namespace

int main(int argc, char* argv[]) {
    plat::TuneAllocator();
    // The embedded browser wants these set before the application exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TWebBrowser::RegisterSchemes();
    QApplication app(argc, argv);
    QApplication::setApplicationName(kTitle);
    QApplication::setApplicationDisplayName(kTitle);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/quillet.svg")));
    // The window may sit hidden in the tray while a dialog closes: only
    // closing the main window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    EnterProgramFolder();

    try {
        TFormMain form;
        QObject::connect(&form, &TFormMain::formClosed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        // SIGTERM or SIGINT closes the window as the user would, so the
        // geometry, the language and unread counts are saved.
        plat::InstallQuitOnSignals([&form] { form.close(); });
        form.ShowAtStartup();
        return app.exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QString::fromUtf8(kTitle),
                              QStringLiteral("Quillet cannot start.\n\n%1").arg(QString::fromUtf8(error.what())));
        return 1;
    }
}
