// The option store: Quillet's only settings store.
//
// Two XML documents live side by side. The structure document (struct.xml,
// one per language) describes which options exist and how the options dialog
// shows them; it is never written back. The configuration document
// (config.xml) holds the values, mirroring the element names of the
// structure, plus an `internal` subtree with the program's own values
// (window geometry, language, the feed list).
//
// Everything else reads and writes a setting by looking up an element with a
// backslash path ("general\\UpdateInterval", "internal\\mainform\\Width") and
// reading or setting its text. Missing elements are created on the way, so a
// lookup never fails for want of an element and a missing setting reads as
// an empty text (Null for the value conversions of Convert.h).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "XmlDom.h"

class TOptions {
public:
    // Both documents start empty; nothing is loaded.
    TOptions();
    // Frees the structure document first, then the configuration document,
    // which writes itself to its file when it was modified since the last
    // load or save. Errors of that last write are swallowed (a destructor
    // cannot raise); call Save() first to see them.
    ~TOptions();

    TOptions(const TOptions&) = delete;
    TOptions& operator=(const TOptions&) = delete;

    // Loads the structure document from structFile, then the configuration
    // document from configFile. Each load replaces what the document held
    // and remembers the file name for later saves. A missing, unreadable or
    // malformed file raises xml::XmlError naming the file and the parser's
    // reason; if the structure file fails, the configuration is not touched.
    // A failed load never writes to the file.
    void Load(const std::string& structFile, const std::string& configFile);

    // FindNodeByPath from the document element of the configuration or
    // structure document. A document that holds nothing raises
    // xml::XmlError("No active document").
    xml::Node GetConfigNode(std::string_view path);
    xml::Node GetStructNode(std::string_view path);

    // Walks `path` (element names joined by '\\') down from `start`. Empty
    // pieces are dropped, so "" and "\\" name `start` itself and leading,
    // trailing or doubled separators change nothing. Each piece selects the
    // first child element of exactly that name; a missing one is appended
    // empty (which marks the document modified). Never fails for want of an
    // element.
    static xml::Node FindNodeByPath(xml::Node start, std::string_view path);

    // Writes the configuration document to the file it was loaded from and
    // clears its modified mark. Raises xml::XmlError when the file cannot be
    // written; the previous file is then left intact.
    void Save();

    // The main window reloads the structure document from another language
    // folder when the language changes; the option panel walks both.
    xml::Document& StructDocument() { return *FStructDocument; }
    xml::Document& ConfigDocument() { return *FConfigDocument; }

    // For start-up: when `configFile` does not exist, copies the delivered
    // default `defaultFile` to it and returns true. An existing file (even a
    // malformed one) is never touched. Raises xml::XmlError when the default
    // is missing or the copy cannot be written.
    static bool EnsureConfigFile(const std::string& configFile, const std::string& defaultFile);

private:
    // Held by pointer so the destructor can free them in the required order.
    std::unique_ptr<xml::Document> FStructDocument;
    std::unique_ptr<xml::Document> FConfigDocument;
};
