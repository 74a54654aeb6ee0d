#include "Shortcuts.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QWidget>

#include "uvxLanguage.h"

namespace {

// Paste on the feed list is the standard editing key, not a choice.
constexpr char kPasteAction[] = "ActionPasteAddress";
// The focus cycle's keys move between the panes from anywhere.
const QStringList kFixedActions = {"ActionNextPane", "ActionPreviousPane"};

}  // namespace

TShortcutController::TShortcutController(QWidget* window) : QObject(window) {
    setObjectName("Shortcuts");
    for (QAction* action : window->findChildren<QAction*>()) {
        const QString name = action->objectName();
        if (!name.startsWith(QLatin1String("Action")) || name == QLatin1String(kPasteAction)) continue;
        if (FMap.Find(name)) continue;  // one action per name
        FActions.push_back(action);
        FMap.Add(name, action->shortcuts(), kFixedActions.contains(name));
    }
    for (QMenu* menu : window->findChildren<QMenu*>()) menu->installEventFilter(this);
}

bool TShortcutController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
        if (modifiers == Qt::NoModifier && key->text().size() == 1 && key->text().front().isPrint()) {
            event->accept();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

QAction* TShortcutController::Action(const QString& name) const {
    for (QAction* action : FActions)
        if (action->objectName() == name) return action;
    return nullptr;
}

void TShortcutController::Load(const xml::Node& config) {
    FMap.Load(config);
    SetOnActions();
}

void TShortcutController::Apply(const TShortcutMap& map, xml::Node config) {
    FMap = map;
    FMap.Save(config);
    SetOnActions();
}

void TShortcutController::SetOnActions() {
    for (const TShortcutMap::TEntry& entry : FMap.Entries())
        if (QAction* action = Action(entry.Name); action && !entry.Fixed && action->shortcuts() != entry.Current)
            action->setShortcuts(entry.Current);
}

QString TShortcutController::Caption(const QString& name) const {
    if (kFixedActions.contains(name))
        return LangTextQ("ShortcutPaneKeys", {}, QStringLiteral("Move between the feed list and the page"));
    // The text without the menu's letter mark and the dots of a dialog.
    const QAction* action = Action(name);
    return action ? action->iconText() : name;
}
