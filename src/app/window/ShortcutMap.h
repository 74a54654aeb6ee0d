// The keyboard shortcuts of the window's actions: each action's default
// keys, the reader's choices, the rule that no two actions share a key, and
// the choices' place in config.xml:
//   <config><shortcuts>
//     <shortcut action="ActionNextUnread" keys="J"/>
//   </shortcuts></config>
// Only actions whose keys differ from their default are written, keys in
// QKeySequence's portable text ("" for none). Entries for actions this
// version does not have are kept as they were, for the version that wrote
// them. No widgets: the options page and the window both work on it.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

#include "XmlDom.h"

class TShortcutMap {
public:
    using TKeys = QList<QKeySequence>;

    struct TEntry {
        QString Name;  // the action's object name, as the language files know it
        TKeys Defaults;
        TKeys Current;
        // Keys another part holds (the focus cycle's F6): they count for
        // conflicts but cannot be changed here.
        bool Fixed = false;
    };

    // Registers an action with its keys as made; the current keys start as
    // the defaults. A second entry of the same name replaces the first.
    void Add(const QString& name, const TKeys& defaults, bool fixed = false);

    const std::vector<TEntry>& Entries() const { return FEntries; }
    const TEntry* Find(const QString& name) const;
    TKeys Keys(const QString& name) const;
    bool IsDefault(const QString& name) const;

    // The action other than `except` whose keys collide with `keys` (equal,
    // or one the start of the other), or nothing.
    std::optional<QString> Holder(const TKeys& keys, const QString& except = {}) const;

    // Each of these either does what it says and gives nothing, or changes
    // nothing and gives the name of the action that holds the keys. Empty
    // keys clear an action's shortcut; an unknown or fixed action is left
    // alone.
    std::optional<QString> Set(const QString& name, const TKeys& keys);
    void Clear(const QString& name) { Set(name, {}); }
    std::optional<QString> Reset(const QString& name);
    void ResetAll();

    // Reads the choices from below `config` (config.xml's document element);
    // without the element every action has its defaults. A choice whose
    // keys another choice already holds loses those keys, the earlier one
    // in the file winning, and an action at its default loses a key a
    // choice holds (a newer version's default never takes a reader's key),
    // so a hand-edited file never makes a key ambiguous. Writes nothing.
    void Load(const xml::Node& config);
    // Writes the choices below `config`; a file without the element gets
    // none while every action has its defaults.
    void Save(xml::Node config) const;

    // Keys to and from config.xml's text.
    static QString ToText(const TKeys& keys);
    static TKeys FromText(const QString& text);

private:
    TEntry* FindEntry(const QString& name);

    std::vector<TEntry> FEntries;
    // (action, keys) of entries this version has no action for, as read.
    std::vector<std::pair<std::string, std::string>> FForeign;
};
