#include "Autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

#include "AppInfo.h"
#include "AtomicFile.h"
#include "Convert.h"
#include "Options.h"

namespace autostart {

namespace {

// One argument of an Exec line: quoted, with the characters the desktop
// entry format reserves inside quotes escaped, then escaped again as a
// string value (backslashes doubled) and with "%" doubled, which Exec
// would otherwise read as a field code.
QString ExecArgument(const QString& text) {
    if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
        throw std::invalid_argument("a path with a line break cannot be started from a desktop entry");
    QString quoted;
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    quoted.replace(QLatin1String("%"), QLatin1String("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

QString HomeLine(const QString& home) {
    return QStringLiteral("X-Quillet-Home=") + QDir::cleanPath(QFileInfo(home).absoluteFilePath()) + QLatin1Char('\n');
}

}  // namespace

QString EntryPath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/") + QString::fromLatin1(kAppId) + QStringLiteral(".desktop");
}

QString EntryText(const QString& Program, const QString& Home) {
    const QString home = QDir::cleanPath(QFileInfo(Home).absoluteFilePath());
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Quillet\n"
               "Comment=Feed monitor, started with the session\n"
               "Icon=%1\n"
               "Exec=%2 --home %3\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n")
               .arg(QString::fromLatin1(kAppId), ExecArgument(Program), ExecArgument(home)) +
           HomeLine(home);
}

bool StartsHome(const QString& Home) { return ReadAll(EntryPath()).contains(HomeLine(Home)); }

void Apply(bool Enabled, const QString& Program, const QString& Home) {
    const QString path = EntryPath();
    if (!Enabled) {
        if (QFileInfo::exists(path) && StartsHome(Home) && !QFile::remove(path))
            throw std::runtime_error(QStringLiteral("Cannot remove %1.").arg(path).toStdString());
        return;
    }
    const QString text = EntryText(Program, Home);
    if (ReadAll(path) == text) return;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        throw std::runtime_error(QStringLiteral("Cannot create the folder of %1.").arg(path).toStdString());
    plat::WriteFileAtomically(QFile::encodeName(path).toStdString(), text.toUtf8().toStdString());
}

void ApplyOption(TOptions& Options) {
    const bool enabled = plat::TryStrToBool(Options.GetConfigNode(kOptionPath).Text()).value_or(false);
    Apply(enabled, QCoreApplication::applicationFilePath(), QDir::currentPath());
}

}  // namespace autostart
