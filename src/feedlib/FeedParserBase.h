// The reading rules the RSS, RDF and Atom parsers share, written once so
// that each parser reads like its element table.
//
//  * Names: a child matches when its qualified name, as written, equals the
//    expected name (a prefixed or differently cased name does not).
//  * Find: the first child whose qualified or local name matches, within
//    the parent's namespace when it has one; "get" reads a missing child or
//    attribute as the empty text.
//  * Text: an element's single text or CDATA child; anything else raises
//    "Element does not contain a single text node".
//  * Numbers: plain decimal integers; an empty or non-numeric value fails
//    the parse with a conversion error.
#pragma once

#include <string>
#include <string_view>

#include "FeedDocument.h"
#include "XmlDom.h"

namespace feed {

// The Dublin Core vocabulary, where RSS 1.0 feeds keep their dates.
inline constexpr const char* kDublinCoreNamespace = "http://purl.org/dc/elements/1.1/";

class TFeedParserBase {
public:
    explicit TFeedParserBase(TFeedDocument& rss) : RSS(rss) {}
    virtual ~TFeedParserBase() = default;
    TFeedParserBase(const TFeedParserBase&) = delete;
    TFeedParserBase& operator=(const TFeedParserBase&) = delete;

    // Reads RSS.XMLFile() into RSS.Channel() and RSS.Items().
    virtual void Parse() = 0;

protected:
    TFeedDocument& RSS;

    TRSSChannelReq& ChannelReq() { return RSS.Channel().Required(); }
    TRSSChannelOpt& ChannelOpt() { return RSS.Channel().Optional(); }

    // An element child whose qualified name is exactly `name`.
    static bool Is(const xml::Node& child, std::string_view name);
    static xml::Node Find(const xml::Node& parent, std::string_view name) { return parent.FindChild(name); }
    // The text of child `name`, "" when there is none ("get").
    static std::string GetText(const xml::Node& parent, std::string_view name);
    // The text of attribute `name`, "" when absent ("get").
    static std::string GetAttribute(const xml::Node& element, std::string_view name);
    // An element's text as an integer.
    static int IntOf(const xml::Node& element);
    // Attribute `name` as an integer; a missing one fails like an empty one.
    static int IntAttribute(const xml::Node& element, std::string_view name);
    // Child `name` of a structure that cannot do without it; raises
    // TFeedException "Required Field Missing. Field: <owner> -> <name>".
    static xml::Node Require(const xml::Node& parent, std::string_view owner, std::string_view name);
    static std::string RequiredFieldMissing(std::string_view owner, std::string_view name);
    // The item's date in Dublin Core. Items in a namespace (RSS 1.0) are
    // matched by the Dublin Core URI and local name "date", since their
    // dates are never in the items' own namespace; items in no namespace
    // keep the plain "dc:date" lookup.
    static xml::Node FindDCDate(const xml::Node& item);

    // Channel-level structures read alike by all three parsers.
    void ReadLanguage(const xml::Node& element);
    void ReadChannelCategory(const xml::Node& element);
    void ReadCloud(const xml::Node& element);
    void ReadImage(const xml::Node& element);
    void ReadTextInput(const xml::Node& element);
    void ReadSkipHours(const xml::Node& element);
    void ReadSkipDays(const xml::Node& element);

    // Item-level structures.
    static void ReadEnclosure(const xml::Node& element, TRSSItem& item);
    static void ReadSource(const xml::Node& element, TRSSItem& item);
    // Every child whose local name is "category", whatever its prefix.
    static void ReadItemCategories(const xml::Node& itemElement, TRSSItem& item);
};

}  // namespace feed
