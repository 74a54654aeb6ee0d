#include "CountDelegate.h"

#include <QApplication>
#include <QPainter>

#include "FeedTree.h"

namespace {

// Between the name and the count.
constexpr int kGap = 6;

QString CountSuffix(long long count) { return QStringLiteral(" (%1)").arg(count); }

}  // namespace

TCountDelegate::TCountDelegate(TFeedTree* tree) : QStyledItemDelegate(tree), FTree(tree) {}

TCountDelegate::TShown TCountDelegate::Fit(const QFontMetrics& metrics, const QString& text, long long count,
                                           int width) {
    const QString suffix = CountSuffix(count);
    if (count == 0 || !text.endsWith(suffix)) return {metrics.elidedText(text, Qt::ElideRight, width), QString()};
    const QString countText = suffix.trimmed();
    const int countWidth = metrics.horizontalAdvance(countText);
    const QString name = text.left(text.size() - suffix.size());
    return {metrics.elidedText(name, Qt::ElideRight, std::max(0, width - countWidth - kGap)), countText};
}

void TCountDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QTreeWidgetItem* row = FTree->itemFromIndex(index);
    long long count = 0;
    if (const feedlist::TFeedEntry* feed = TFeedTree::FeedOf(row))
        count = feed->Unread;
    else if (TFeedTree::IsFolderNode(row))
        count = TFeedTree::UnreadUnder(row);
    if (count == 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    const QString text = item.text;
    // The row without its text (background, selection, icon, focus), then
    // the name and the count in the place the style gives the text.
    item.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
    item.text = text;
    const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget).adjusted(3, 0, -3, 0);
    const TShown shown = Fit(QFontMetrics(item.font), text, count, area.width());

    painter->save();
    painter->setFont(item.font);
    const bool selected = item.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = item.state & QStyle::State_Enabled
                                           ? (item.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive)
                                           : QPalette::Disabled;
    painter->setPen(item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown.Name);
    painter->drawText(area, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, shown.Count);
    painter->restore();
}
