#include "PaneProtocol.h"

#include <QRegularExpression>

#include <algorithm>

#include "PageBuild.h"

#include <QJsonDocument>
#include <QUrl>

namespace pane {

QByteArray Encode(const QString& op, QJsonObject fields) {
    fields.insert(QStringLiteral("op"), op);
    // Compact JSON escapes control characters, so the line has no newline
    // but its last byte.
    return QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n';
}

namespace {

// Appends `keys` as one line, or as halves where escaping made the line pass
// the bound; a single key too long for any line is left out.
void AppendKeyLines(const QJsonArray& keys, std::vector<QByteArray>& lines) {
    QByteArray line = Encode(QStringLiteral("unread"), {{"keys", keys}});
    if (line.size() <= kMaxLineBytes) {
        lines.push_back(std::move(line));
        return;
    }
    if (keys.size() < 2) return;
    const qsizetype half = keys.size() / 2;
    AppendKeyLines(QJsonArray::fromVariantList(keys.toVariantList().mid(0, half)), lines);
    AppendKeyLines(QJsonArray::fromVariantList(keys.toVariantList().mid(half)), lines);
}

}  // namespace

std::vector<QByteArray> EncodeUnreadKeys(const QJsonArray& keys, qsizetype budget) {
    std::vector<QByteArray> lines;
    QJsonArray chunk;
    qsizetype bytes = 0;
    for (const QJsonValue& key : keys) {
        const qsizetype size = key.toString().toUtf8().size() + 4;  // quotes and a comma
        if (bytes + size > budget && !chunk.isEmpty()) {
            AppendKeyLines(chunk, lines);
            chunk = {};
            bytes = 0;
        }
        chunk.append(key);
        bytes += size;
    }
    if (!chunk.isEmpty()) AppendKeyLines(chunk, lines);
    return lines;
}

std::vector<QByteArray> EncodeArticles(const QJsonObject& articles) {
    std::vector<QByteArray> lines;
    for (auto it = articles.begin(); it != articles.end(); ++it) {
        QJsonObject fields = it.value().toObject();
        fields.insert(QStringLiteral("key"), it.key());
        QByteArray line = Encode(QStringLiteral("article"), fields);
        if (line.size() <= kMaxLineBytes) lines.push_back(std::move(line));
    }
    return lines;
}

QString ArticleRequestAddress(const QString& feedId, const QString& key) {
    // Every byte of the key is escaped: it may hold anything a feed wrote.
    return QString::fromLatin1(kArticleRequestScheme) + QLatin1Char(':') +
           QString::fromLatin1(QUrl::toPercentEncoding(feedId)) + QStringLiteral("?key=") +
           QString::fromLatin1(QUrl::toPercentEncoding(key));
}

bool ParseArticleRequest(const QString& address, QString& feedId, QString& key) {
    const QString prefix = QString::fromLatin1(kArticleRequestScheme) + QLatin1Char(':');
    if (!address.startsWith(prefix, Qt::CaseInsensitive)) return false;
    const QString rest = address.mid(prefix.size());
    const qsizetype query = rest.indexOf(QStringLiteral("?key="));
    if (query <= 0) return false;
    feedId = QUrl::fromPercentEncoding(rest.left(query).toLatin1());
    key = QUrl::fromPercentEncoding(rest.mid(query + 5).toLatin1());
    return !feedId.isEmpty() && !key.isEmpty();
}

QString StarRequestAddress(const QString& feedId, const QString& key, bool star) {
    return QString::fromLatin1(kStarRequestScheme) + QLatin1Char(':') +
           QString::fromLatin1(QUrl::toPercentEncoding(feedId)) +
           (star ? QStringLiteral("?on=1&key=") : QStringLiteral("?on=0&key=")) +
           QString::fromLatin1(QUrl::toPercentEncoding(key));
}

bool ParseStarRequest(const QString& address, QString& feedId, QString& key, bool& star) {
    const QString prefix = QString::fromLatin1(kStarRequestScheme) + QLatin1Char(':');
    if (!address.startsWith(prefix, Qt::CaseInsensitive)) return false;
    const QString rest = address.mid(prefix.size());
    thread_local const QRegularExpression form(QStringLiteral("^([0-9]{1,18})\\?on=([01])&key=([^?&=#]+)$"));
    const QRegularExpressionMatch match = form.match(rest);
    if (!match.hasMatch()) return false;
    feedId = match.captured(1);
    star = match.captured(2) == QLatin1String("1");
    key = QUrl::fromPercentEncoding(match.captured(3).toLatin1());
    return !key.isEmpty();
}

QString StarredPageAddress(int page) {
    return QString::fromLatin1(kStarRequestScheme) + QStringLiteral(":page/") + QString::number(page);
}

bool ParseStarredPage(const QString& address, int& page) {
    const QString prefix = QString::fromLatin1(kStarRequestScheme) + QStringLiteral(":page/");
    if (!address.startsWith(prefix, Qt::CaseInsensitive)) return false;
    bool ok = false;
    page = address.mid(prefix.size()).toInt(&ok);
    return ok && page >= 0;
}

QString StatusText(const QString& hovered) {
    if (hovered.size() <= kMaxStatusChars) return hovered;
    qsizetype head = kMaxStatusChars / 2, tail = kMaxStatusChars / 2;
    if (hovered.at(head - 1).isHighSurrogate()) --head;
    if (hovered.at(hovered.size() - tail).isLowSurrogate()) --tail;
    return hovered.left(head) + QChar(0x2026) + hovered.right(tail);
}

std::vector<QJsonObject> TLineReader::Feed(const QByteArray& bytes) {
    std::vector<QJsonObject> messages;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', start);
        const qsizetype stop = end < 0 ? bytes.size() : end;
        if (!FSkipping) {
            if (FPartial.size() + (stop - start) > kMaxLineBytes) {
                FPartial.clear();
                FSkipping = true;
            } else
                FPartial.append(bytes.constData() + start, stop - start);
        }
        if (end < 0) break;
        if (!FSkipping) {
            const QJsonDocument document = QJsonDocument::fromJson(FPartial);
            if (document.isObject() && document.object().value(QStringLiteral("op")).isString())
                messages.push_back(document.object());
        }
        FPartial.clear();
        FSkipping = false;
        start = end + 1;
    }
    return messages;
}

QJsonObject PageStyleJson(const quillet::TPageStyle& style) {
    return {{"fontFamily", style.FontFamily},
            {"fontSize", style.FontPointSize},
            {"lineChars", style.MaxLineChars},
            {"userCss", style.UserCss},
            {"zoom", style.Zoom}};
}

quillet::TPageStyle PageStyleFromJson(const QJsonObject& fields) {
    quillet::TPageStyle style;
    style.FontFamily = fields.value("fontFamily").toString();
    style.FontPointSize = std::clamp(fields.value("fontSize").toInt(), 0, 96);
    style.MaxLineChars = std::clamp(fields.value("lineChars").toInt(), 0, 1000);
    style.UserCss = fields.value("userCss").toString();
    style.Zoom = std::clamp(fields.value("zoom").toInt(), quillet::TPageStyle::kMinZoom, quillet::TPageStyle::kMaxZoom);
    return style;
}

}  // namespace pane

namespace pane {

bool KeyBelongsToWindow(int key, Qt::KeyboardModifiers modifiers) {
    modifiers &= ~Qt::KeypadModifier;
    switch (key) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_Space:
            // Scrolling, and with Shift selecting; Alt+Left and Alt+Right
            // would be the engine's history, which the pane does not keep.
            return modifiers & Qt::AltModifier;
        case Qt::Key_C:
        case Qt::Key_A:
        case Qt::Key_Insert:
            return modifiers != Qt::ControlModifier;
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Meta:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
            return false;  // a modifier alone is nothing yet
        default:
            return true;
    }
}

}  // namespace pane
