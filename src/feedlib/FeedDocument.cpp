#include "FeedDocument.h"

#include <cctype>

#include "FeedParserAtom.h"
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

}  // namespace

TFeedDocument::TFeedDocument()
    : FChannel(std::make_unique<TRSSChannel>()),
      FItems(std::make_unique<TRSSItems>(this)),
      FXMLFile(std::make_unique<xml::Document>()) {}

TFeedDocument::~TFeedDocument() = default;

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
    // Only the name counts, in any letter case; namespaces are not examined.
    const std::string name = ToLower(rootName);
    TXMLType type;
    if (name == "rdf:rdf") type = xtRDF;
    else if (name == "rss") type = xtRSS;
    else if (name == "feed") type = xtAtom;
    else throw TFeedException(plat::Format("unkown format: %s", {rootName}));
    FXMLType = type;

    if (auto version = root.Attribute("version")) FVersion = *version;

    std::unique_ptr<TFeedParserBase> parser;
    switch (FXMLType) {
        case xtRDF: parser = std::make_unique<TFeedParserRDF>(*this); break;
        case xtRSS: parser = std::make_unique<TFeedParserRSS>(*this); break;
        case xtAtom: parser = std::make_unique<TFeedParserAtom>(*this); break;
    }
    parser->Parse();
}

}  // namespace feed
