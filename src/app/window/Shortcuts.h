// The window's side of the keyboard shortcuts: the actions a reader can
// give keys to (those of the menus, the toolbar, the tree's menu and the
// page's View menu), their map read from config.xml at start-up, and the
// options page's choices set on the actions and kept.
#pragma once

#include <QObject>
#include <QString>

#include <vector>

#include "ShortcutMap.h"
#include "XmlDom.h"

class QAction;
class QWidget;

class TShortcutController : public QObject {
    Q_OBJECT
public:
    // Takes the actions `window` holds now: every one named "Action…" but
    // the standard editing keys'; the focus cycle's keys are held, fixed.
    explicit TShortcutController(QWidget* window);

    // The choices below config.xml's document element, set on the actions.
    void Load(const xml::Node& config);
    // The options page's map: kept, written below `config` and set on the
    // actions (the menus show the keys at once).
    void Apply(const TShortcutMap& map, xml::Node config);

    const TShortcutMap& Map() const { return FMap; }
    // The action's name as its menu shows it in the current language.
    QString Caption(const QString& name) const;

protected:
    // An open menu of the window takes a plain key as the letter of one of
    // its entries, before a single-key shortcut (N, S) of the window does.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetOnActions();
    QAction* Action(const QString& name) const;

    std::vector<QAction*> FActions;
    TShortcutMap FMap;
};
