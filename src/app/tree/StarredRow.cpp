#include "StarredRow.h"

#include <QTreeWidget>

#include <algorithm>

#include "RowSpeech.h"
#include "uvxLanguage.h"

TStarredRow::TStarredRow() : QTreeWidgetItem(kType) {
    // Selectable only: no editing, dragging or dropping.
    setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
}

TStarredRow* TStarredRow::In(QTreeWidget& tree, const QIcon& icon) {
    if (tree.topLevelItemCount() > 0 && Is(tree.topLevelItem(0)))
        return static_cast<TStarredRow*>(tree.topLevelItem(0));
    auto* row = new TStarredRow;
    row->setIcon(0, icon);
    tree.insertTopLevelItem(0, row);
    row->ShowCount(0);
    return row;
}

namespace {

QString Caption() { return LangTextQ("StarredRowCaption", {}, QStringLiteral("Starred")); }

}  // namespace

QVariant TStarredRow::data(int column, int role) const {
    if (column != 0 || role != Qt::AccessibleTextRole) return QTreeWidgetItem::data(column, role);
    rowspeech::TRowFacts facts;
    facts.Kind = rowspeech::TRowFacts::TKind::Starred;
    facts.Name = Caption();
    facts.Items = std::max(FCount, 0);
    return rowspeech::SpokenName(facts);
}

void TStarredRow::ShowCount(int count) {
    const QString caption = Caption();
    const QString text = count > 0 ? QStringLiteral("%1 (%2)").arg(caption).arg(count) : caption;
    if (text != this->text(0)) setText(0, text);
    if (count == FCount) return;
    FCount = count;
    QFont font = this->font(0);
    if (font.bold() != (count > 0)) {
        font.setBold(count > 0);
        setFont(0, font);
    }
}
