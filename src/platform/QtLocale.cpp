#include "QtLocale.h"

#include <QHash>
#include <QLocale>

#include "LocaleTable.h"

namespace plat {
namespace {

// Qt's locale data names some languages after their country ("American
// English", "español de España", "Vlaams"). A language menu wants the plain
// name, which is the one most locales of that language and script share.
QString PlainNativeLanguageName(const QLocale& locale) {
    const QList<QLocale> relatives =
        QLocale::matchingLocales(locale.language(), locale.script(), QLocale::AnyTerritory);
    QHash<QString, int> votes;
    for (const QLocale& relative : relatives) {
        const QString name = relative.nativeLanguageName();
        if (!name.isEmpty()) {
            ++votes[name];
        }
    }
    // On a tie the locale's own name stays: Persian has one locale in Iran
    // and one in Afghanistan, where the language is called Dari.
    QString best = locale.nativeLanguageName();
    int bestVotes = votes.value(best, 0);
    for (auto it = votes.cbegin(); it != votes.cend(); ++it) {
        if (it.value() > bestVotes) {
            best = it.key();
            bestVotes = it.value();
        }
    }
    return best;
}

// "français" becomes "Français" as a menu entry. Title case, not upper
// case: Georgian has capitals that never start a word, and its title case
// leaves the letter as it is. The first character may lie outside the
// Basic Multilingual Plane, so it is taken as a code point.
QString CapitalizeFirst(const QString& text) {
    if (text.isEmpty()) {
        return text;
    }
    const bool pair = text.size() > 1 && text.at(0).isHighSurrogate() && text.at(1).isLowSurrogate();
    const char32_t first =
        QChar::toTitleCase(pair ? QChar::surrogateToUcs4(text.at(0), text.at(1)) : char32_t(text.at(0).unicode()));
    return QString::fromUcs4(&first, 1) + text.mid(pair ? 2 : 1);
}

}  // namespace

QString NativeLanguageName(std::uint32_t lcid) {
    const std::string name = LocaleNameFromLCID(lcid);
    if (!name.empty()) {
        const QLocale locale(QString::fromStdString(name));
        if (locale.language() != QLocale::C) {
            const QString nativeName = PlainNativeLanguageName(locale);
            if (!nativeName.isEmpty()) {
                return CapitalizeFirst(nativeName);
            }
        }
        return QString::fromStdString(name);
    }
    // At least four upper-case hex digits, like the language folder names.
    return QStringLiteral("%1").arg(lcid, 4, 16, QLatin1Char('0')).toUpper();
}

}  // namespace plat
