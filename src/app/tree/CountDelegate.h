// How a row of the feed tree is drawn: the name and, while it has unread
// items, its count right-aligned. A narrow tree cuts the name, never the
// count. The row's text stays "Name (4)" for the label editor, the filter,
// accessibility and the tests; only the drawing splits it.
#pragma once

#include <QFontMetrics>
#include <QString>
#include <QStyledItemDelegate>

class TFeedTree;

class TCountDelegate : public QStyledItemDelegate {
public:
    explicit TCountDelegate(TFeedTree* tree);

    // What a row `width` pixels wide shows of `text` with `count` unread
    // (0: none): the name, elided when it must be, and the count, whole.
    // A text that does not end in the count is shown as it is.
    struct TShown {
        QString Name;
        QString Count;
    };
    static TShown Fit(const QFontMetrics& metrics, const QString& text, long long count, int width);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    TFeedTree* FTree;
};
