#include "ShortcutMap.h"

#include <algorithm>
#include <set>

namespace {

constexpr char kElement[] = "shortcuts";
constexpr char kChild[] = "shortcut";

bool Collide(const QKeySequence& a, const QKeySequence& b) {
    // A sequence that starts another makes the longer one unreachable.
    return a.matches(b) != QKeySequence::NoMatch || b.matches(a) != QKeySequence::NoMatch;
}

bool Collide(const TShortcutMap::TKeys& a, const TShortcutMap::TKeys& b) {
    for (const QKeySequence& one : a)
        for (const QKeySequence& other : b)
            if (Collide(one, other)) return true;
    return false;
}

QString Attribute(const xml::Node& node, const char* name) {
    return QString::fromStdString(node.Attribute(name).value_or(std::string()));
}

}  // namespace

void TShortcutMap::Add(const QString& name, const TKeys& defaults, bool fixed) {
    if (TEntry* entry = FindEntry(name)) {
        *entry = {name, defaults, defaults, fixed};
        return;
    }
    FEntries.push_back({name, defaults, defaults, fixed});
}

const TShortcutMap::TEntry* TShortcutMap::Find(const QString& name) const {
    const auto found = std::find_if(FEntries.begin(), FEntries.end(), [&](const TEntry& e) { return e.Name == name; });
    return found == FEntries.end() ? nullptr : &*found;
}

TShortcutMap::TEntry* TShortcutMap::FindEntry(const QString& name) {
    return const_cast<TEntry*>(std::as_const(*this).Find(name));
}

TShortcutMap::TKeys TShortcutMap::Keys(const QString& name) const {
    const TEntry* entry = Find(name);
    return entry ? entry->Current : TKeys();
}

bool TShortcutMap::IsDefault(const QString& name) const {
    const TEntry* entry = Find(name);
    return !entry || entry->Current == entry->Defaults;
}

std::optional<QString> TShortcutMap::Holder(const TKeys& keys, const QString& except) const {
    for (const TEntry& entry : FEntries)
        if (entry.Name != except && Collide(keys, entry.Current)) return entry.Name;
    return std::nullopt;
}

std::optional<QString> TShortcutMap::Set(const QString& name, const TKeys& keys) {
    TEntry* entry = FindEntry(name);
    if (!entry || entry->Fixed) return std::nullopt;
    if (auto holder = Holder(keys, name)) return holder;
    entry->Current = keys;
    return std::nullopt;
}

std::optional<QString> TShortcutMap::Reset(const QString& name) {
    const TEntry* entry = Find(name);
    return entry ? Set(name, entry->Defaults) : std::nullopt;
}

void TShortcutMap::ResetAll() {
    for (TEntry& entry : FEntries) entry.Current = entry.Defaults;
}

QString TShortcutMap::ToText(const TKeys& keys) { return QKeySequence::listToString(keys, QKeySequence::PortableText); }

TShortcutMap::TKeys TShortcutMap::FromText(const QString& text) {
    TKeys keys;
    for (const QKeySequence& sequence : QKeySequence::listFromString(text, QKeySequence::PortableText)) {
        bool known = !sequence.isEmpty();
        for (int i = 0; i < sequence.count(); ++i) known = known && sequence[i].key() != Qt::Key_unknown;
        if (known) keys << sequence;
    }
    return keys;
}

void TShortcutMap::Load(const xml::Node& config) {
    ResetAll();
    FForeign.clear();
    const xml::Node element = config.IsNull() ? xml::Node() : config.ChildByName(kElement);
    if (element.IsNull()) return;

    std::vector<std::pair<TEntry*, TKeys>> chosen;
    for (const xml::Node& node : element.ChildElements()) {
        if (node.Name() != kChild) continue;
        const QString name = Attribute(node, "action"), text = Attribute(node, "keys");
        TEntry* entry = FindEntry(name);
        if (!entry) {
            FForeign.emplace_back(name.toStdString(), text.toStdString());
            continue;
        }
        const TKeys keys = FromText(text);
        // Keys this version cannot name leave the action as it was.
        if (entry->Fixed || (keys.isEmpty() && !text.trimmed().isEmpty())) continue;
        chosen.emplace_back(entry, keys);
        entry->Current = keys;
    }
    // Against the fixed keys and the choices before it. An action at its
    // default gives way to a choice: a key the reader chose in an earlier
    // version stays theirs when this one gives a new action that key.
    std::set<const TEntry*> settled;
    for (const TEntry& entry : FEntries)
        if (entry.Fixed) settled.insert(&entry);
    for (auto& [entry, keys] : chosen) {
        TKeys kept;
        for (const QKeySequence& sequence : entry->Current) {
            const bool taken = std::any_of(settled.begin(), settled.end(), [&](const TEntry* other) {
                return other != entry && Collide(TKeys{sequence}, other->Current);
            });
            if (!taken) kept << sequence;
        }
        entry->Current = kept;
        settled.insert(entry);
    }
    for (TEntry& entry : FEntries) {
        if (settled.count(&entry)) continue;
        TKeys kept;
        for (const QKeySequence& sequence : entry.Current)
            if (!std::any_of(chosen.begin(), chosen.end(),
                             [&](const auto& choice) { return Collide(TKeys{sequence}, choice.first->Current); }))
                kept << sequence;
        entry.Current = kept;
    }
}

void TShortcutMap::Save(xml::Node config) const {
    std::vector<std::pair<std::string, std::string>> rows;
    for (const TEntry& entry : FEntries)
        if (!entry.Fixed && entry.Current != entry.Defaults)
            rows.emplace_back(entry.Name.toStdString(), ToText(entry.Current).toStdString());
    for (const auto& foreign : FForeign)
        if (!Find(QString::fromStdString(foreign.first))) rows.push_back(foreign);

    xml::Node element = config.ChildByName(kElement);
    if (element.IsNull()) {
        if (rows.empty()) return;
        element = config.AppendElement(kElement);
    }
    for (xml::Node child : element.Children()) child.Remove();
    for (const auto& [action, keys] : rows) {
        xml::Node node = element.AppendElement(kChild);
        node.SetAttribute("action", action);
        node.SetAttribute("keys", keys);
    }
}
