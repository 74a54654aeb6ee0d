#include "BusyWidgets.h"

#include <QLabel>
#include <QProgressBar>

#include "SpokenStatus.h"

QProgressBar* NewBusyBar(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName("Progress");
    bar->setRange(0, 0);  // busy: the wait has no known length
    bar->setTextVisible(false);
    bar->setMaximumHeight(parent->fontMetrics().height() / 2 + 2);
    bar->hide();
    return bar;
}

QLabel* NewStatusText(QWidget* parent) {
    auto* text = new QLabel(parent);
    text->setObjectName("StatusText");
    text->setWordWrap(true);
    text->setTextFormat(Qt::PlainText);
    return text;
}

void SayOutcome(const QLabel* statusText) {
    if (TSpokenStatus* spoken = TSpokenStatus::Of(statusText)) spoken->Answer(statusText->text());
}
