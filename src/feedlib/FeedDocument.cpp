#include "FeedDocument.h"

#include <cctype>
#include <fstream>
#include <optional>

#include "FeedParserAtom.h"
#include "FeedParserAtom10.h"
#include "FeedParserJSON.h"
#include "FeedParserRDF.h"
#include "FeedParserRSS.h"
#include "Format.h"
#include "Text.h"

namespace feed {

namespace {

constexpr const char* kRDFNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";

// The whole file when it holds JSON; nullopt for anything else, which the
// XML layer reads (and reports unreadable) itself. Only the first bytes
// are read to decide, so an XML file is not read twice.
std::optional<std::string> ReadIfJSON(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return std::nullopt;
    std::string head;
    std::size_t blanks = 0;  // how far the head is known to be blank: each block is looked at once
    char block[4096];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        head.append(block, static_cast<std::size_t>(in.gcount()));
        std::string_view unread = std::string_view(head).substr(blanks);
        unread = blanks == 0 ? plat::SkipByteOrderMarkAndBlanks(unread, plat::Blanks::Xml)
                             : plat::TrimLeft(unread, plat::Blanks::Xml);
        blanks = head.size() - unread.size();
        if (blanks < head.size() || head.size() > TFeedParserJSON::kMaxDocumentSize) break;
    }
    if (!TFeedParserJSON::LooksLikeJSON(head)) return std::nullopt;
    // Read at most one byte past the bound: the parser refuses what is larger.
    std::string text = std::move(head);
    while (text.size() <= TFeedParserJSON::kMaxDocumentSize && (in.read(block, sizeof block) || in.gcount() > 0))
        text.append(block, static_cast<std::size_t>(in.gcount()));
    return text;
}

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
    if (TFeedParserJSON::LooksLikeJSON(text)) return ParseJSON(text);
    FXMLFile->LoadFromString(text);
    ParseXML();
}

void TFeedDocument::LoadFromFile(const std::string& fileName) {
    ResetXMLFile();
    if (const auto json = ReadIfJSON(fileName)) return ParseJSON(*json);
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

void TFeedDocument::ResetModel() {
    FChannel = std::make_unique<TRSSChannel>();
    FItems = std::make_unique<TRSSItems>(this);
}

void TFeedDocument::ParseXML() {
    // The model is replaced before the format is checked: a document of
    // unknown format leaves nothing of the previous feed behind.
    ResetModel();

    const xml::Node root = FXMLFile->DocumentElement();
    const std::string rootName = root ? root.Name() : std::string();
    // The root is known by its local name and namespace, whatever prefix
    // it was written with: "atom10:feed" is an Atom feed like "feed".
    const std::string localName = root ? plat::AsciiLower(root.LocalName()) : std::string();
    const std::string rootNamespace = root ? root.NamespaceURI() : std::string();
    TXMLType type;
    bool atom10 = false;
    if (localName == "rdf" && (rootNamespace == kRDFNamespace || plat::AsciiLower(rootName) == "rdf:rdf"))
        type = xtRDF;
    else if (localName == "rss")
        type = xtRSS;
    else if (localName == "feed") {
        type = xtAtom;
        // Atom 0.3 has its own namespace or none, and always a version;
        // a feed in no namespace without one is read as today's Atom.
        atom10 = rootNamespace == kAtom10Namespace || (rootNamespace.empty() && !root.Attribute("version"));
    } else
        throw TFeedException(plat::Format("unkown format: %s", {rootName}));
    FXMLType = type;

    if (auto version = root.Attribute("version")) FVersion = *version;

    std::unique_ptr<TFeedParserBase> parser;
    switch (FXMLType) {
        case xtRDF:
            parser = std::make_unique<TFeedParserRDF>(*this);
            break;
        case xtRSS:
            parser = std::make_unique<TFeedParserRSS>(*this);
            break;
        case xtAtom:
            if (atom10)
                parser = std::make_unique<TFeedParserAtom10>(*this);
            else
                parser = std::make_unique<TFeedParserAtom>(*this);
            break;
        case xtJSON:  // never an XML root
            throw TFeedException(plat::Format("unkown format: %s", {rootName}));
    }
    parser->Parse();
}

// As for XML: malformed text keeps the previous model, JSON of another
// kind leaves an empty one. The version is the stored copy's, not JSON
// Feed's, and is kept.
void TFeedDocument::ParseJSON(std::string_view text) {
    TFeedParserJSON parser(*this, text);
    ResetModel();
    if (!parser.IsJSONFeed()) throw TFeedException("unkown format: JSON that is not a JSON Feed");
    FXMLType = xtJSON;
    parser.Parse();
}

}  // namespace feed
