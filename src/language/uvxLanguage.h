// The language catalogue: the installed languages, the Language menu, the
// loaded language file, translation of windows and message lookup.
//
// A language is a folder languages/<LCID in hex>/ holding language.xml (the
// window texts under <form>, the messages under <message>) and struct.xml,
// the option structure in that language. One catalogue exists per process:
// GlobalLanguage().
//
// Messages are read from the polling thread as well as the user-interface
// thread, so the loaded document is guarded by a lock; everything that
// touches Qt objects (BuildMenu, MenuItemClick, Translate, the change
// callback) belongs to the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QString>

#include "Format.h"
#include "XmlDom.h"
#include "uvxLanguageInfo.h"

class QAction;
class QActionGroup;
class QMenu;

// Raised when no language can be selected at all or a language-dependent
// path is asked for before any language was selected.
class TLanguageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TvxLanguage : public QObject {
    Q_OBJECT
public:
    explicit TvxLanguage(QObject* parent = nullptr);
    ~TvxLanguage() override;

    // Lists the installed languages: one item per sub-folder of `folder`
    // whose name is a hexadecimal number, in name order. Entries with other
    // names (Template.xml, notes, backups) are skipped. A folder that cannot
    // be read leaves the catalogue empty. "/" is appended to a non-empty
    // folder that lacks it. Scanning again replaces the list.
    void Scan(const std::string& folder);
    const std::string& Folder() const { return FFolder; }

    int Count() const { return static_cast<int>(FItems.size()); }
    TvxLanguageInfo& Item(int index) { return *FItems.at(static_cast<std::size_t>(index)); }
    const TvxLanguageInfo& Item(int index) const { return *FItems.at(static_cast<std::size_t>(index)); }

    // Appends one checkable, mutually exclusive entry per language to `menu`,
    // captioned with the locale text of `kind` (4: the native name); the
    // entry's data is the item index. Building again replaces the entries
    // made before.
    void BuildMenu(QMenu* menu, int kind);
    // Handler of those entries: selects the language whose index the entry
    // carries. Ignores anything that is not an entry of ours.
    void MenuItemClick(QObject* sender);

    // Loads `info`'s language.xml and makes it current, then calls the
    // change callback and checks the language's menu entry. When the file
    // cannot be loaded, raises xml::XmlError and keeps the previous language
    // and its texts.
    void Select(TvxLanguageInfo& info);
    // The first language with that identifier, or nullptr.
    TvxLanguageInfo* FindLCID(std::uint32_t lcid);
    // Selects by identifier: 1024 and 2048 stand for the user's and the
    // system's default; a language that is not installed falls back to
    // English (1033), then to the first language found. Raises
    // TLanguageError when no language is installed.
    void SetLCID(std::uint32_t lcid);
    // The current language's identifier; 0 before the first selection.
    std::uint32_t GetLCID() const;
    TvxLanguageInfo* Current() { return FCurrent; }

    // A file in the current language's folder ("languages/0409/struct.xml").
    // Raises TLanguageError before the first selection.
    std::string GetFileName(std::string_view name) const;

    // The text of message `name`; "" when the message (or any language) is
    // missing.
    std::string GetMsg(std::string_view name) const;
    // GetMsg(name) used as a format template. A template that does not
    // match its arguments raises plat::FormatError.
    std::string FormatMsg(std::string_view name, const std::vector<plat::FormatArg>& args) const;

    // Sets the texts of `component` and the objects it owns from `element`,
    // or, when `element` is null, from form/<component's objectName>.
    // Attributes name properties: "Caption" and "Hint" map onto the Qt
    // property holding that text for the class at hand (window title,
    // action, button or label text, group or menu title; tool tip and
    // status tip), other names onto a string property of the same name.
    // Only string properties are set; unknown names are ignored. A value
    // "@Name" stands for the message Name. Child elements name objects
    // owned by the component, found by objectName.
    void Translate(QObject* component, xml::Node element = {});

    // Called after every successful selection.
    void SetOnChange(std::function<void(TvxLanguage&)> onChange) { FOnChange = std::move(onChange); }

private:
    void TranslateComponent(QObject* component, xml::Node element);
    std::string MessageText(std::string_view name) const;  // caller holds FMutex
    void CheckMenuEntry(int index);

    std::vector<std::unique_ptr<TvxLanguageInfo>> FItems;
    TvxLanguageInfo* FCurrent = nullptr;
    std::string FFolder;
    std::unique_ptr<xml::Document> FDocument;
    std::function<void(TvxLanguage&)> FOnChange;
    QPointer<QMenu> FMenu;
    QPointer<QActionGroup> FMenuGroup;
    int FMenuKind = TvxLanguageInfo::kLocaleNativeLanguageName;
    mutable std::mutex FMutex;  // guards FDocument and FCurrent
};

// The process-wide catalogue.
TvxLanguage& GlobalLanguage();

// Shortcuts on GlobalLanguage(): GetMsg, FormatMsg and GetFileName.
std::string LangMsg(std::string_view name);
std::string LangFmt(std::string_view name, const std::vector<plat::FormatArg>& args);
std::string LangFile(std::string_view name);

// The same for user-interface code that wants a QString.
QString LangMsgQ(std::string_view name);
QString LangFmtQ(std::string_view name, const std::vector<plat::FormatArg>& args);
// The message with its arguments, or `fallback` where the language lacks it
// or none is loaded: a missing text must never leave a blank where a cause
// or a choice belongs.
QString LangTextQ(std::string_view name, const std::vector<plat::FormatArg>& args, const QString& fallback);
