#include "FeedDocument.h"

#include <cctype>

#include "FeedParserAtom.h"
#include "FeedParserAtom10.h"
#include "FeedParserRDF.h"
#include "FeedParserRSS.h"
#include "Format.h"

namespace feed {

namespace {

std::string ToLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

constexpr const char* kRDFNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";

}  // namespace

TFeedDocument::TFeedDocument()
    : FChannel(std::make_unique<TRSSChannel>()),
      FItems(std::make_unique<TRSSItems>(this)),
      FXMLFile(std::make_unique<xml::Document>()) {}

// The model goes before the document it was read from: freed in that order
// the allocator merges the freed memory once instead of twice, which on a
// large feed is a good part of the cost of a load.
TFeedDocument::~TFeedDocument() {
    FItems.reset();
    FChannel.reset();
}

void TFeedDocument::LoadFromString(const std::string& text) {
    ResetXMLFile();
    FXMLFile->LoadFromString(text);
    ParseXML();
}

void TFeedDocument::LoadFromFile(const std::string& fileName) {
    ResetXMLFile();
    FXMLFile->LoadFromFile(fileName);
    ParseXML();
}

void TFeedDocument::SaveToFile(const std::string& fileName) {
    GenerateXML();
    FXMLFile->SaveToFile(fileName);
}

// A fresh document object for every load and every generation, so the
// object always holds exactly the last loaded or generated document.
void TFeedDocument::ResetXMLFile() { FXMLFile = std::make_unique<xml::Document>(); }

void TFeedDocument::ParseXML() {
    // The model is replaced before the format is checked: a document of
    // unknown format leaves nothing of the previous feed behind.
    FChannel = std::make_unique<TRSSChannel>();
    FItems = std::make_unique<TRSSItems>(this);

    const xml::Node root = FXMLFile->DocumentElement();
    const std::string rootName = root ? root.Name() : std::string();
    // The root is known by its local name and namespace, whatever prefix
    // it was written with: "atom10:feed" is an Atom feed like "feed".
    const std::string localName = root ? ToLower(root.LocalName()) : std::string();
    const std::string rootNamespace = root ? root.NamespaceURI() : std::string();
    TXMLType type;
    bool atom10 = false;
    if (localName == "rdf" && (rootNamespace == kRDFNamespace || ToLower(rootName) == "rdf:rdf")) type = xtRDF;
    else if (localName == "rss") type = xtRSS;
    else if (localName == "feed") {
        type = xtAtom;
        // Atom 0.3 has its own namespace or none, and always a version;
        // a feed in no namespace without one is read as today's Atom.
        atom10 = rootNamespace == kAtom10Namespace || (rootNamespace.empty() && !root.Attribute("version"));
    }
    else throw TFeedException(plat::Format("unkown format: %s", {rootName}));
    FXMLType = type;

    if (auto version = root.Attribute("version")) FVersion = *version;

    std::unique_ptr<TFeedParserBase> parser;
    switch (FXMLType) {
        case xtRDF: parser = std::make_unique<TFeedParserRDF>(*this); break;
        case xtRSS: parser = std::make_unique<TFeedParserRSS>(*this); break;
        case xtAtom:
            if (atom10) parser = std::make_unique<TFeedParserAtom10>(*this);
            else parser = std::make_unique<TFeedParserAtom>(*this);
            break;
    }
    parser->Parse();
}

}  // namespace feed
