#include "TreeContextMenu.h"

#include <QContextMenuEvent>
#include <QMenu>

#include "FeedTree.h"

TTreeContextMenu::TTreeContextMenu(TFeedTree& tree, QMenu& menu,
                                   std::function<bool(const QTreeWidgetItem* row)> takesNoActions, TGuard guarded)
    : QObject(&tree),
      FTree(tree),
      FMenu(menu),
      FTakesNoActions(std::move(takesNoActions)),
      FGuarded(std::move(guarded)) {
    tree.installEventFilter(this);
    tree.viewport()->installEventFilter(this);
}

bool TTreeContextMenu::Opens(const QPoint& pos) {
    if (pos.x() == -1) return true;  // from the keyboard: for the selection
    QTreeWidgetItem* row = FTree.itemAt(pos);
    if (!row) return false;
    FTree.setCurrentItem(row);
    return !(FTakesNoActions && FTakesNoActions(row));
}

bool TTreeContextMenu::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ContextMenu || (watched != &FTree && watched != FTree.viewport()))
        return QObject::eventFilter(watched, event);
    auto* request = static_cast<QContextMenuEvent*>(event);
    const bool fromKeyboard = request->reason() == QContextMenuEvent::Keyboard;
    QPoint pos(-1, -1);
    if (!fromKeyboard) pos = FTree.viewport()->mapFrom(static_cast<QWidget*>(watched), request->pos());
    bool open = false;
    FGuarded([&] { open = Opens(pos); });
    if (open) {
        QPoint at = request->globalPos();
        if (fromKeyboard && FTree.currentItem())
            at = FTree.viewport()->mapToGlobal(FTree.visualItemRect(FTree.currentItem()).center());
        FMenu.popup(at);
    }
    return true;
}
