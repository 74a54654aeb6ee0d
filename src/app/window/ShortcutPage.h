// Options > Shortcuts: every action a reader can give keys to, by its
// menu name, with its keys; a field that takes the next key pressed, and
// Clear, Reset and Reset All. It edits a copy of the window's map: the
// dialog hands Map() to the window on OK or Apply.
#pragma once

#include <QLineEdit>
#include <QWidget>

#include <functional>

#include "ShortcutMap.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// A read-only field that takes one key with its modifiers as a shortcut.
// Tab, Shift+Tab, Escape and Enter keep their meaning in the dialog, so the
// field is left and the dialog closed from the keyboard as usual.
class TKeyCapture : public QLineEdit {
    Q_OBJECT
public:
    explicit TKeyCapture(QWidget* parent = nullptr);
    static bool Passes(int key, Qt::KeyboardModifiers modifiers);

signals:
    void captured(const QKeySequence& keys);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class TShortcutPage : public QWidget {
    Q_OBJECT
public:
    // `caption` names an action as its menu does.
    TShortcutPage(const TShortcutMap& map, std::function<QString(const QString&)> caption, QWidget* parent = nullptr);

    const TShortcutMap& Map() const { return FMap; }
    // For the keyboard and for tests: the action whose row is current.
    void SelectAction(const QString& name);
    // The message of the last refusal, "" after a change was taken.
    QString Message() const;

    QTreeWidget* List() const { return FList; }
    // An action's keys as the list shows them: each in the desktop's words,
    // joined by commas ("Ctrl++, Ctrl+=").
    static QString KeysText(const TShortcutMap::TKeys& keys);
    TKeyCapture* Keys() const { return FKeys; }

private:
    QString Current() const;
    void Take(const QKeySequence& keys);
    // Shows what `outcome` says: refused (the holder's name) or done.
    void Show(const std::optional<QString>& holder, const TShortcutMap::TKeys& keys);
    void Refresh();

    TShortcutMap FMap;
    std::function<QString(const QString&)> FCaption;
    QTreeWidget* FList = nullptr;
    TKeyCapture* FKeys = nullptr;
    QPushButton* FClear = nullptr;
    QPushButton* FReset = nullptr;
    QPushButton* FResetAll = nullptr;
    QLabel* FMessage = nullptr;
};
