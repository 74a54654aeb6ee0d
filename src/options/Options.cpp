#include "Options.h"

#include <filesystem>
#include <system_error>

namespace {

// Load errors must say which file failed: the user sees the message when
// config.xml or a struct.xml cannot be read.
[[noreturn]] void RaiseLoadError(const std::string& fileName, const xml::XmlError& error) {
    const std::string reason = error.what();
    if (reason.find(fileName) != std::string::npos) throw error;
    throw xml::XmlError("Could not load \"" + fileName + "\": " + reason);
}

xml::Node RootOf(const xml::Document& document) {
    xml::Node root = document.DocumentElement();
    if (root.IsNull()) throw xml::XmlError("No active document");
    return root;
}

}  // namespace

TOptions::TOptions()
    : FStructDocument(std::make_unique<xml::Document>()), FConfigDocument(std::make_unique<xml::Document>()) {
    // The configuration reaches its file at the latest when the store goes:
    // window geometry, unread counts and the language are set without an
    // explicit Save.
    FConfigDocument->SetAutoSave(true);
}

TOptions::~TOptions() {
    FStructDocument.reset();
    FConfigDocument.reset();
}

void TOptions::Load(const std::string& structFile, const std::string& configFile) {
    try {
        FStructDocument->LoadFromFile(structFile);
    } catch (const xml::XmlError& error) {
        RaiseLoadError(structFile, error);
    }
    try {
        FConfigDocument->LoadFromFile(configFile);
    } catch (const xml::XmlError& error) {
        // Whatever the document held before is gone; make sure the automatic
        // save can never write an empty document over the file the user may
        // still repair by hand.
        FConfigDocument->SetModified(false);
        RaiseLoadError(configFile, error);
    }
}

xml::Node TOptions::GetConfigNode(std::string_view path) { return FindNodeByPath(RootOf(*FConfigDocument), path); }

xml::Node TOptions::GetStructNode(std::string_view path) { return FindNodeByPath(RootOf(*FStructDocument), path); }

xml::Node TOptions::FindNodeByPath(xml::Node start, std::string_view path) {
    xml::Node result = start;
    while (!path.empty()) {
        const std::size_t separator = path.find('\\');
        const std::string_view piece = path.substr(0, separator);
        if (!piece.empty()) result = result.ChildByNameOrCreate(piece);
        if (separator == std::string_view::npos) break;
        path.remove_prefix(separator + 1);
    }
    return result;
}

void TOptions::Save() { FConfigDocument->Save(); }

bool TOptions::EnsureConfigFile(const std::string& configFile, const std::string& defaultFile) {
    std::error_code error;
    if (std::filesystem::exists(configFile, error) || error) return false;
    xml::Document delivered;
    try {
        delivered.LoadFromFile(defaultFile);
    } catch (const xml::XmlError& loadError) {
        RaiseLoadError(defaultFile, loadError);
    }
    // Written through the XML layer, so the copy is atomic and the default
    // is known to parse before the program relies on it.
    delivered.SaveToFile(configFile);
    return true;
}
