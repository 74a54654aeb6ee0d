#include "PaneProtocol.h"

#include <QJsonDocument>

namespace pane {

QByteArray Encode(const QString& op, QJsonObject fields)
{
    fields.insert(QStringLiteral("op"), op);
    // Compact JSON escapes control characters, so the line has no newline
    // but its last byte.
    return QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n';
}

QString StatusText(const QString& hovered)
{
    if (hovered.size() <= kMaxStatusChars)
        return hovered;
    qsizetype head = kMaxStatusChars / 2, tail = kMaxStatusChars / 2;
    if (hovered.at(head - 1).isHighSurrogate())
        --head;
    if (hovered.at(hovered.size() - tail).isLowSurrogate())
        --tail;
    return hovered.left(head) + QChar(0x2026) + hovered.right(tail);
}

std::vector<QJsonObject> TLineReader::Feed(const QByteArray& bytes)
{
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
        if (end < 0)
            break;
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

}  // namespace pane
