// The feed tree's context menu: a right click on a row selects it and opens
// the feed list's menu for it, one on empty space opens nothing, and the
// keyboard's opens it for the selection beside its row. Rows that take none
// of the list's actions (the Starred row) are only selected.
#pragma once

#include <QObject>
#include <QPoint>

#include <functional>

class QMenu;
class QTreeWidgetItem;
class TFeedTree;

class TTreeContextMenu : public QObject {
    Q_OBJECT
public:
    using TGuard = std::function<void(const std::function<void()>& handler)>;
    // Made a child of the tree, whose context-menu requests it takes.
    TTreeContextMenu(TFeedTree& tree, QMenu& menu, std::function<bool(const QTreeWidgetItem* row)> takesNoActions,
                     TGuard guarded);

    // Whether the menu opens for a request at `pos` of the tree's viewport
    // (x == -1: the keyboard's); a click on a row selects it first.
    bool Opens(const QPoint& pos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TFeedTree& FTree;
    QMenu& FMenu;
    std::function<bool(const QTreeWidgetItem* row)> FTakesNoActions;
    TGuard FGuarded;
};
