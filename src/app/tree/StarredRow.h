// The Starred row at the top of the feed tree: the way to the Starred view.
// It is no row of the feed list, so nothing that acts on feeds and folders
// reaches it (it cannot be renamed, moved, deleted, dropped into, exported
// or updated, and config.xml never hears of it), and the filter, which
// looks only under the root, leaves it standing. The tree makes its rows
// anew when the list is read again; the row is placed again then.
#pragma once

#include <QIcon>
#include <QString>
#include <QTreeWidgetItem>

class QTreeWidget;

class TStarredRow : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 4;

    static bool Is(const QTreeWidgetItem* node) { return node && node->type() == kType; }
    // The tree's Starred row, placed first when it is missing.
    static TStarredRow* In(QTreeWidget& tree, const QIcon& icon = {});
    // Shows the count as feeds show theirs: "Starred (N)" in bold while N
    // is not 0.
    void ShowCount(int count);
    int Count() const { return FCount; }
    // A screen reader hears "Starred, 5 items".
    QVariant data(int column, int role) const override;

private:
    TStarredRow();
    int FCount = -1;
};
