#include "StatusLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

TStatusLabel::TStatusLabel(QWidget* parent) : QLabel(parent)
{
    // Feed titles and server messages are shown as they are, never as markup.
    setTextFormat(Qt::PlainText);
}

QString TStatusLabel::ShownText() const
{
    QString line = text();
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return fontMetrics().elidedText(line, Qt::ElideMiddle, contentsRect().width());
}

QSize TStatusLabel::minimumSizeHint() const
{
    return {0, fontMetrics().height()};
}

QSize TStatusLabel::sizeHint() const
{
    return {fontMetrics().averageCharWidth() * 10, fontMetrics().height()};
}

void TStatusLabel::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                          ShownText(), foregroundRole());
}
