// TFeedDocument: how the application handles one feed. It loads a feed from
// text or a file, recognises RSS 1.0/RDF, RSS 0.9x/2.0, Atom 0.3 or Atom
// 1.0 by the root element's name and namespace, fills its model through the matching parser, and saves the model
// as an RSS 2.0 file.
//
//   feed::TFeedDocument doc;
//   doc.LoadFromString(body);              // raises on bad XML or format
//   doc.SetXSLFileName("../rss.xsl");
//   std::string title = doc.Channel().Required().Title();
//   doc.SaveToFile("feeds/7.xml");         // atomic replace
//
// Errors travel to the caller: xml::XmlError for malformed XML, unreadable
// or unwritable files and "Element does not contain a single text node";
// plat::ConvertError for a number that is not one; TFeedException for an
// unknown format and a missing required field. All derive from
// std::runtime_error.
#pragma once

#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include "FeedTypes.h"
#include "XmlDom.h"

namespace feed {

class TFeedException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TXMLDocOption {
    doNodeAutoCreate,
    doNodeAutoIndent,
    doAttrNull,
    doAutoPrefix,
    doNamespaceDecl,
    doAutoSave,
};
enum TParseOption {
    poResolveExternals,
    poValidateOnParse,
    poPreserveWhiteSpace,
    poAsyncLoad,
};

// The settings every document object is created with. They record the
// intent of the library (lookups create missing children, output is
// indented, nothing external is resolved); the XML layer's behaviour is
// fixed and safe whatever they hold.
class TXMLFileOptions {
public:
    const std::string& DOMVendor() const { return FDOMVendor; }
    void SetDOMVendor(const std::string& value) { FDOMVendor = value; }
    const std::set<TXMLDocOption>& Options() const { return FOptions; }
    void SetOptions(const std::set<TXMLDocOption>& value) { FOptions = value; }
    const std::set<TParseOption>& ParseOptions() const { return FParseOptions; }
    void SetParseOptions(const std::set<TParseOption>& value) { FParseOptions = value; }

private:
    std::string FDOMVendor = "libxml2";
    std::set<TXMLDocOption> FOptions{doNodeAutoCreate, doNodeAutoIndent, doAutoPrefix, doNamespaceDecl};
    std::set<TParseOption> FParseOptions;
};

class TFeedDocument {
public:
    TFeedDocument();
    ~TFeedDocument();
    TFeedDocument(const TFeedDocument&) = delete;
    TFeedDocument& operator=(const TFeedDocument&) = delete;

    TXMLFileOptions& XMLFileOptions() { return FXMLFileOptions; }
    // Channel and Items are replaced by every parse: references taken
    // before a load must not be used after it.
    TRSSChannel& Channel() { return *FChannel; }
    const TRSSChannel& Channel() const { return *FChannel; }
    TRSSItems& Items() { return *FItems; }
    const TRSSItems& Items() const { return *FItems; }
    // The root's version attribute of the last parsed document that had
    // one ("2.0" before that); written as the version of saved files.
    const std::string& Version() const { return FVersion; }
    void SetVersion(const std::string& value) { FVersion = value; }
    TXMLType XMLType() const { return FXMLType; }
    void SetXMLType(TXMLType value) { FXMLType = value; }
    // The last loaded or generated document.
    xml::Document& XMLFile() { return *FXMLFile; }
    const xml::Document& XMLFile() const { return *FXMLFile; }
    // When not empty, saved files name it in an xml-stylesheet instruction.
    const std::string& XSLFileName() const { return FXSLFileName; }
    void SetXSLFileName(const std::string& value) { FXSLFileName = value; }

    // The address the feed was downloaded from: relative links in it are
    // resolved against it. Set it before loading; "" when unknown.
    const std::string& DocumentURL() const { return FDocumentURL; }
    void SetDocumentURL(const std::string& value) { FDocumentURL = value; }

    // XML, or a JSON Feed (text that opens with "{" after a byte order mark
    // and blanks), which leaves XMLFile() empty. Malformed text raises an
    // error and keeps the model; a document of no known format raises
    // TFeedException and leaves an empty model.
    void LoadFromString(const std::string& text);
    void LoadFromFile(const std::string& fileName);
    // GenerateXML, then an atomic save over fileName.
    void SaveToFile(const std::string& fileName);
    // Builds the RSS 2.0 document for the model in XMLFile(); changes
    // nothing in the model.
    void GenerateXML();

private:
    void ResetXMLFile();
    void ResetModel();
    void ParseXML();
    void ParseJSON(std::string_view text);

    TXMLFileOptions FXMLFileOptions;
    std::unique_ptr<TRSSChannel> FChannel;
    std::unique_ptr<TRSSItems> FItems;
    std::string FVersion = "2.0";
    TXMLType FXMLType = xtRDF;
    std::unique_ptr<xml::Document> FXMLFile;
    std::string FXSLFileName;
    std::string FDocumentURL;
};

}  // namespace feed
