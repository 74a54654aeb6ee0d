// A status-bar panel that shows a text too long for it with its middle left
// out ("Could not update Daily - Co…to server"), so both the feed's name at
// the start and the reason at the end stay readable. text() keeps the whole
// text; line breaks are shown as spaces, since the panel is one line high.
#pragma once

#include <QLabel>
#include <QString>

class TStatusLabel : public QLabel {
    Q_OBJECT
public:
    explicit TStatusLabel(QWidget* parent = nullptr);

    // What the panel shows for its current text and width.
    QString ShownText() const;

    // The panel's size comes from the status bar, never from its text: a
    // long text must not widen the window.
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
