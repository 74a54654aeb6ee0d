#include "QtLocale.h"

#include <QHash>
#include <QLocale>

#include "LocaleTable.h"

namespace plat {
namespace {

// Qt's locale data names some languages after their country ("American
// English", "español de España", "Vlaams"). A language menu wants the plain
// name, which is the one most locales of that language and script share.
QString PlainNativeLanguageName(const QLocale& locale)
{
    const QList<QLocale> relatives =
        QLocale::matchingLocales(locale.language(), locale.script(), QLocale::AnyTerritory);
    QHash<QString, int> votes;
    for (const QLocale& relative : relatives) {
        const QString name = relative.nativeLanguageName();
        if (!name.isEmpty()) {
            ++votes[name];
        }
    }
    QString best = locale.nativeLanguageName();
    int bestVotes = votes.value(best, 0);
    for (auto it = votes.cbegin(); it != votes.cend(); ++it) {
        const bool moreVotes = it.value() > bestVotes;
        const bool shorterOnTie = it.value() == bestVotes && it.key().size() < best.size();
        if (moreVotes || shorterOnTie) {
            best = it.key();
            bestVotes = it.value();
        }
    }
    return best;
}

// "français" becomes "Français" as a menu entry; the first character may be
// outside the Basic Multilingual Plane, so it is taken as a code point.
QString CapitalizeFirst(const QString& text, const QLocale& locale)
{
    if (text.isEmpty()) {
        return text;
    }
    const qsizetype firstLength = text.at(0).isHighSurrogate() && text.size() > 1 ? 2 : 1;
    return locale.toUpper(text.left(firstLength)) + text.mid(firstLength);
}

}  // namespace

QString NativeLanguageName(std::uint32_t lcid)
{
    const std::string name = LocaleNameFromLCID(lcid);
    if (!name.empty()) {
        const QLocale locale(QString::fromStdString(name));
        if (locale.language() != QLocale::C) {
            const QString nativeName = PlainNativeLanguageName(locale);
            if (!nativeName.isEmpty()) {
                return CapitalizeFirst(nativeName, locale);
            }
        }
        return QString::fromStdString(name);
    }
    // At least four upper-case hex digits, like the language folder names.
    return QStringLiteral("%1").arg(lcid, 4, 16, QLatin1Char('0')).toUpper();
}

}  // namespace plat
