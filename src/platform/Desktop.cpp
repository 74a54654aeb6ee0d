#include "Desktop.h"

#include <QDesktopServices>
#include <QDir>

namespace plat {
namespace {

// A scheme is a letter followed by letters, digits, '+', '-' or '.', then a
// colon. A single letter is a drive ("C:\help.chm"), not a scheme.
bool HasScheme(const QString& text) {
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 2) {
        return false;
    }
    for (qsizetype i = 0; i < colon; ++i) {
        const QChar c = text.at(i);
        const bool letter =
            (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
        const bool other = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
                           c == QLatin1Char('-') || c == QLatin1Char('.');
        if (!letter && (i == 0 || !other)) {
            return false;
        }
    }
    return true;
}

}  // namespace

QUrl DesktopUrlFor(const QString& addressOrPath) {
    const QString text = addressOrPath.trimmed();
    if (text.isEmpty()) {
        return {};
    }
    if (HasScheme(text)) {
        // Tolerant, because links in feeds often carry blanks and other
        // characters a browser quietly escapes.
        return QUrl(text, QUrl::TolerantMode);
    }
    return QUrl::fromLocalFile(QDir::current().absoluteFilePath(text));
}

bool OpenWithDesktop(const QString& addressOrPath) {
    const QUrl url = DesktopUrlFor(addressOrPath);
    if (url.isEmpty()) {
        return false;
    }
    return QDesktopServices::openUrl(url);
}

}  // namespace plat
