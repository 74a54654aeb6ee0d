#include "uvxLanguage.h"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMetaProperty>
#include <QWidget>

#include <algorithm>
#include <cctype>
#include <deque>
#include <filesystem>
#include <system_error>

#include "LocaleTable.h"
#include "Text.h"

namespace {

// A separate window (a dialog the main window happens to own) has its own
// entry under <form>; its components are not the owner's. Menus are
// windows to Qt too, but they belong to the window whose menu bar shows
// them.
bool IsSeparateWindow(const QObject* object) {
    const auto* widget = qobject_cast<const QWidget*>(object);
    return widget != nullptr && widget->isWindow() && qobject_cast<const QMenu*>(object) == nullptr;
}

// The object owned by `owner` whose objectName is `name`. Qt nests what a
// window owns in layouts, containers and menu bars, so the search goes
// breadth first through the whole tree below `owner` (the nearest match
// wins) but stops at separate windows.
QObject* FindOwnedComponent(QObject* owner, const QString& name) {
    if (name.isEmpty()) return nullptr;
    std::deque<QObject*> pending(owner->children().begin(), owner->children().end());
    while (!pending.empty()) {
        QObject* object = pending.front();
        pending.pop_front();
        if (object->objectName() == name) return object;
        if (!IsSeparateWindow(object))
            pending.insert(pending.end(), object->children().begin(), object->children().end());
    }
    return nullptr;
}

// A writable QString property of `object` named `name` (letter case
// ignored, as component property names are). The object name is not a
// text: a language file that renamed a component would break every later
// lookup of it.
std::optional<QMetaProperty> StringProperty(const QObject* object, std::string_view name) {
    if (plat::EqualsNoCase(name, "objectName")) return std::nullopt;
    const QMetaObject* meta = object->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (plat::EqualsNoCase(property.name(), name)) {
            if (property.isWritable() && property.metaType().id() == QMetaType::QString) return property;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// The Qt properties a language attribute stands for. Language files name
// component properties: "Caption" is the visible title or text, whichever
// property holds it for the class at hand, and "Hint" the help text shown
// both as tool tip and in the status bar. Any other name is taken as a Qt
// property name.
std::vector<QMetaProperty> TargetProperties(const QObject* object, std::string_view attribute) {
    std::vector<const char*> names;
    if (plat::EqualsNoCase(attribute, "Caption")) {
        const auto* widget = qobject_cast<const QWidget*>(object);
        if (qobject_cast<const QAction*>(object) || qobject_cast<const QAbstractButton*>(object) ||
            qobject_cast<const QLabel*>(object))
            names = {"text"};
        else if (qobject_cast<const QMenu*>(object) || qobject_cast<const QGroupBox*>(object))
            names = {"title"};
        else if (widget != nullptr && widget->isWindow())
            names = {"windowTitle"};
        else
            names = {"text", "title"};
    } else if (plat::EqualsNoCase(attribute, "Hint")) {
        names = {"toolTip", "statusTip"};
    } else {
        if (auto property = StringProperty(object, attribute)) return {*property};
        return {};
    }

    std::vector<QMetaProperty> properties;
    const bool firstFitOnly = plat::EqualsNoCase(attribute, "Caption");
    for (const char* name : names) {
        if (auto property = StringProperty(object, name)) {
            properties.push_back(*property);
            if (firstFitOnly) break;
        }
    }
    return properties;
}

std::string LoadErrorText(const std::string& fileName, const xml::XmlError& error) {
    const std::string reason = error.what();
    if (reason.find(fileName) != std::string::npos) return reason;
    return "Could not load \"" + fileName + "\": " + reason;
}

}  // namespace

TvxLanguage::TvxLanguage(QObject* parent) : QObject(parent) {}

TvxLanguage::~TvxLanguage() {
    // The entries call back into this object; they must not outlive it.
    delete FMenuGroup.data();
}

void TvxLanguage::Scan(const std::string& folder) {
    std::string scanned = folder;
    if (!scanned.empty() && scanned.back() != '/' && scanned.back() != '\\') scanned += '/';

    std::vector<std::string> names;
    std::error_code error;
    const std::filesystem::path path = scanned.empty() ? std::filesystem::path(".") : std::filesystem::path(scanned);
    std::filesystem::directory_iterator entries(path, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        std::error_code typeError;
        // Only folders can hold a language; Template.xml, notes and archives
        // lying beside them are not languages, whatever their names.
        if (!entries->is_directory(typeError)) continue;
        const std::string name = entries->path().filename().string();
        if (TvxLanguageInfo::TryParseFolderName(name)) names.push_back(name);
    }
    if (error) names.clear();
    // Directory order differs between file systems; name order keeps the
    // menu and the "first language" fallback the same everywhere.
    std::sort(names.begin(), names.end());

    const std::uint32_t currentLCID = GetLCID();
    std::vector<std::unique_ptr<TvxLanguageInfo>> items;
    for (const std::string& name : names) {
        auto info = std::make_unique<TvxLanguageInfo>(*this, static_cast<int>(items.size()));
        info->ParseFolderName(name);
        items.push_back(std::move(info));
    }
    {
        std::lock_guard lock(FMutex);
        FFolder = std::move(scanned);
        FItems = std::move(items);
        FCurrent = nullptr;
        for (auto& item : FItems) {
            if (currentLCID != 0 && item->LCID() == currentLCID) {
                FCurrent = item.get();
                break;
            }
        }
    }
    if (FMenu) BuildMenu(FMenu, FMenuKind);
}

void TvxLanguage::BuildMenu(QMenu* menu, int kind) {
    delete FMenuGroup.data();
    FMenu = menu;
    FMenuKind = kind;
    if (menu == nullptr) return;

    // The group is owned by the menu and owns the entries, so the entries go
    // with the menu and Translate never renames them: they keep the names
    // the languages give themselves.
    auto* group = new QActionGroup(menu);
    group->setExclusive(true);
    FMenuGroup = group;
    for (const auto& item : FItems) {
        auto* action = new QAction(item->GetLocaleText(kind), group);
        action->setCheckable(true);
        action->setData(item->Index());
        connect(action, &QAction::triggered, this, [this, action] {
            try {
                MenuItemClick(action);
            } catch (const std::exception& error) {
                // A menu is a popup window of its own; the message belongs
                // to the window whose menu bar holds it.
                QWidget* owner = FMenu && FMenu->parentWidget() ? FMenu->parentWidget()->window() : nullptr;
                QMessageBox::warning(owner, owner ? owner->windowTitle() : QString(),
                                     QString::fromStdString(error.what()));
            }
        });
        menu->addAction(action);
    }
    if (FCurrent != nullptr) CheckMenuEntry(FCurrent->Index());
}

void TvxLanguage::MenuItemClick(QObject* sender) {
    auto* action = qobject_cast<QAction*>(sender);
    if (action == nullptr || FMenuGroup == nullptr || action->actionGroup() != FMenuGroup) return;
    bool ok = false;
    const int index = action->data().toInt(&ok);
    if (!ok || index < 0 || index >= Count()) return;
    try {
        Select(Item(index));
    } catch (...) {
        // The radio group has already moved the mark to the clicked entry;
        // put it back on the language still in use.
        if (FCurrent != nullptr) CheckMenuEntry(FCurrent->Index());
        throw;
    }
}

void TvxLanguage::Select(TvxLanguageInfo& info) {
    // The new file is loaded before the old one is let go: a language whose
    // file is unreadable must not leave the program without any texts.
    auto document = std::make_unique<xml::Document>();
    const std::string fileName = info.GetLanguageFile();
    try {
        document->LoadFromFile(fileName);
    } catch (const xml::XmlError& error) {
        throw xml::XmlError(LoadErrorText(fileName, error));
    }
    std::unique_ptr<xml::Document> previous;
    {
        std::lock_guard lock(FMutex);
        previous = std::move(FDocument);
        FDocument = std::move(document);
        FCurrent = &info;
    }
    if (FMenu) CheckMenuEntry(info.Index());
    if (FOnChange) FOnChange(*this);
}

TvxLanguageInfo* TvxLanguage::FindLCID(std::uint32_t lcid) {
    for (auto& item : FItems) {
        if (item->LCID() == lcid) return item.get();
    }
    return nullptr;
}

void TvxLanguage::SetLCID(std::uint32_t lcid) {
    const bool isDefault = lcid == plat::kLcidUserDefault || lcid == plat::kLcidSystemDefault;
    if (lcid == plat::kLcidUserDefault)
        lcid = plat::UserDefaultLCID();
    else if (lcid == plat::kLcidSystemDefault)
        lcid = plat::SystemDefaultLCID();

    TvxLanguageInfo* info = FindLCID(lcid);
    if (info == nullptr && isDefault) {
        // An Austrian user (0C07) is better served by the German of Germany
        // (0407) than by English: the low ten bits of an identifier name the
        // language, the bits above them the region.
        for (auto& item : FItems) {
            if ((item->LCID() & 0x3FF) == (lcid & 0x3FF)) {
                info = item.get();
                break;
            }
        }
    }
    if (info == nullptr) info = FindLCID(plat::kLcidEnglishUS);
    if (info == nullptr && !FItems.empty()) info = FItems.front().get();
    if (info == nullptr) {
        throw TLanguageError("No language is installed in \"" + (FFolder.empty() ? std::string("./") : FFolder) +
                             "\": Quillet needs at least one language folder such as \"0409\".");
    }
    Select(*info);
}

std::uint32_t TvxLanguage::GetLCID() const {
    std::lock_guard lock(FMutex);
    return FCurrent != nullptr ? FCurrent->LCID() : 0;
}

std::string TvxLanguage::GetFileName(std::string_view name) const {
    std::lock_guard lock(FMutex);
    if (FCurrent == nullptr) throw TLanguageError("No language is selected yet.");
    return FCurrent->GetFolder() + std::string(name);
}

std::string TvxLanguage::GetMsg(std::string_view name) const {
    std::lock_guard lock(FMutex);
    return MessageText(name);
}

std::string TvxLanguage::FormatMsg(std::string_view name, const std::vector<plat::FormatArg>& args) const {
    const std::string templ = GetMsg(name);
    // A missing message reads as the empty text, arguments or not.
    if (templ.empty()) return {};
    return plat::Format(templ, args);
}

std::string TvxLanguage::MessageText(std::string_view name) const {
    // Lookups here never create elements: the polling thread reads messages
    // while the user-interface thread may translate a window.
    if (!FDocument) return {};
    try {
        const xml::Node root = FDocument->DocumentElement();
        if (root.IsNull()) return {};
        const xml::Node messages = root.ChildByName("message");
        if (messages.IsNull()) return {};
        const xml::Node message = messages.ChildByName(name);
        if (message.IsNull()) return {};
        return message.Text();
    } catch (const xml::XmlError&) {
        // A message with markup inside is a translator's slip; it reads as
        // missing rather than breaking the status line that shows it.
        return {};
    }
}

void TvxLanguage::Translate(QObject* component, xml::Node element) {
    if (component == nullptr) return;
    if (element.IsNull()) {
        const std::string name = component->objectName().toStdString();
        if (name.empty()) return;
        std::lock_guard lock(FMutex);
        if (!FDocument) return;
        const xml::Node root = FDocument->DocumentElement();
        const xml::Node forms = root.IsNull() ? xml::Node() : root.ChildByName("form");
        if (!forms.IsNull()) element = forms.ChildByName(name);
    }
    // A window without an entry keeps its built-in texts.
    if (element.IsNull()) return;
    TranslateComponent(component, element);
}

void TvxLanguage::TranslateComponent(QObject* component, xml::Node element) {
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<xml::Node> children;
    {
        std::lock_guard lock(FMutex);
        attributes = element.Attributes();
        children = element.ChildElements();
    }

    for (auto& [name, value] : attributes) {
        const std::vector<QMetaProperty> properties = TargetProperties(component, name);
        if (properties.empty()) continue;
        if (!value.empty() && value.front() == '@') {
            // The reference is replaced in the loaded document, so the next
            // translation of this window reads the text directly.
            std::lock_guard lock(FMutex);
            value = MessageText(std::string_view(value).substr(1));
            element.SetAttribute(name, value);
        }
        const QString text = QString::fromStdString(value);
        for (const QMetaProperty& property : properties) property.write(component, text);
    }

    for (const xml::Node& child : children) {
        std::string childName;
        {
            std::lock_guard lock(FMutex);
            childName = child.Name();
        }
        if (QObject* owned = FindOwnedComponent(component, QString::fromStdString(childName)))
            TranslateComponent(owned, child);
    }
}

void TvxLanguage::CheckMenuEntry(int index) {
    if (!FMenuGroup) return;
    for (QAction* action : FMenuGroup->actions()) {
        if (action->data().toInt() == index) action->setChecked(true);
    }
}

TvxLanguage& GlobalLanguage() {
    static TvxLanguage language;
    return language;
}

std::string LangMsg(std::string_view name) { return GlobalLanguage().GetMsg(name); }

std::string LangFmt(std::string_view name, const std::vector<plat::FormatArg>& args) {
    return GlobalLanguage().FormatMsg(name, args);
}

std::string LangFile(std::string_view name) { return GlobalLanguage().GetFileName(name); }

QString LangMsgQ(std::string_view name) { return QString::fromStdString(LangMsg(name)); }

QString LangFmtQ(std::string_view name, const std::vector<plat::FormatArg>& args) {
    return QString::fromStdString(LangFmt(name, args));
}

QString LangTextQ(std::string_view name, const std::vector<plat::FormatArg>& args, const QString& fallback) {
    try {
        QString text = args.empty() ? LangMsgQ(name) : LangFmtQ(name, args);
        if (!text.isEmpty()) return text;
    } catch (const std::exception&) {
        // a template whose arguments do not fit it reads as missing
    }
    return fallback;
}
