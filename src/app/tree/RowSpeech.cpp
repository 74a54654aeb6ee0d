#include "RowSpeech.h"

#include <QStringList>

#include <algorithm>
#include <climits>

#include "uvxLanguage.h"

namespace rowspeech {

namespace {

// A count with its word, one message for one and another for the rest:
// languages differ in more than an "s".
QString Counted(long long count, const char* one, const char* many, const char* fallbackOne, const char* fallbackMany) {
    if (count == 1) return LangTextQ(one, {}, QString::fromUtf8(fallbackOne));
    const int shown = static_cast<int>(std::min<long long>(count, INT_MAX));
    return LangTextQ(many, {shown}, QString::fromUtf8(fallbackMany).arg(shown));
}

}  // namespace

QString SpokenName(const TRowFacts& row) {
    QStringList parts{row.Name};
    using TKind = TRowFacts::TKind;
    if (row.Kind == TKind::Folder) parts << LangTextQ("RowSpokenFolder", {}, QStringLiteral("folder"));
    if (row.Kind == TKind::Folder || row.Kind == TKind::Root)
        parts << Counted(row.Feeds, "RowSpokenOneFeed", "RowSpokenFeeds", "1 feed", "%1 feeds");
    if (row.Kind == TKind::Starred) {
        parts << Counted(row.Items, "RowSpokenOneItem", "RowSpokenItems", "1 item", "%1 items");
    } else if (row.Unread > 0) {
        const int shown = static_cast<int>(std::min<long long>(row.Unread, INT_MAX));
        parts << LangTextQ("RowSpokenUnread", {shown}, QStringLiteral("%1 unread").arg(shown));
    }
    // A reason may run over lines (a tooltip's); it is read as one.
    const auto oneLine = [](const QString& text) { return text.simplified(); };
    if (!row.Failure.isEmpty())
        parts << LangTextQ("RowSpokenFailing", {oneLine(row.Failure).toStdString()},
                           QStringLiteral("failing: %1").arg(oneLine(row.Failure)));
    else if (!row.Attention.isEmpty())
        parts << LangTextQ("RowSpokenAttention", {oneLine(row.Attention).toStdString()},
                           QStringLiteral("needs attention: %1").arg(oneLine(row.Attention)));
    return parts.join(QStringLiteral(", "));
}

}  // namespace rowspeech
