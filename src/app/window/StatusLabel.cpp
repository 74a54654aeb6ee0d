#include "StatusLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

TStatusLabel::TStatusLabel(QWidget* parent) : QLabel(parent) {
    // Feed titles and server messages are shown as they are, never as markup.
    setTextFormat(Qt::PlainText);
}

namespace {

// Laying out a text takes time in its length, and a hovered address may be
// a megabyte long; a panel shows a few hundred characters at most. Only the
// start and the end are laid out, as eliding in the middle shows just those.
constexpr qsizetype kMaxLaidOut = 4000;

QString StartAndEnd(const QString& text) {
    if (text.size() <= kMaxLaidOut) return text;
    qsizetype head = kMaxLaidOut / 2, tail = kMaxLaidOut / 2;
    if (text.at(head - 1).isHighSurrogate()) --head;
    if (text.at(text.size() - tail).isLowSurrogate()) --tail;
    return text.left(head) + QChar(0x2026) + text.right(tail);
}

}  // namespace

QString TStatusLabel::ShownText() const {
    QString line = StartAndEnd(text());
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return fontMetrics().elidedText(line, Qt::ElideMiddle, contentsRect().width());
}

QSize TStatusLabel::minimumSizeHint() const { return {0, fontMetrics().height()}; }

QSize TStatusLabel::sizeHint() const { return {fontMetrics().averageCharWidth() * 10, fontMetrics().height()}; }

void TStatusLabel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                          ShownText(), foregroundRole());
}
