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
#include <utility>
#include <vector>

#include "FeedDocument.h"
#include "XmlDom.h"

namespace feed {

// The Dublin Core vocabulary, where RSS 1.0 feeds keep their dates.
inline constexpr const char* kDublinCoreNamespace = "http://purl.org/dc/elements/1.1/";

// "Find" for every name an item table asks about, answered from one pass
// over the element's children instead of one scan per name: a large feed
// has thousands of items with a dozen lookups each. Gives exactly what
// xml::Node::FindChild gives.
class TChildLookup {
public:
    explicit TChildLookup(const xml::Node& parent);
    xml::Node Find(std::string_view name) const;
    // Every child whose local name is "category", whatever its prefix or
    // namespace, in document order.
    const std::vector<xml::Node>& Categories() const { return FCategories; }
    // The item's date in Dublin Core. Items in a namespace (RSS 1.0) are
    // matched by the Dublin Core URI and local name "date", since their
    // dates are never in the items' own namespace; items in no namespace
    // keep the plain "dc:date" lookup.
    xml::Node DCDate() const;

private:
    void Remember(std::string name, const xml::Node& child);

    bool FParentHasNamespace = false;
    // The first child for each qualified and local name, in scope.
    std::vector<std::pair<std::string, xml::Node>> FFirst;
    std::vector<xml::Node> FCategories;
    xml::Node FDublinCoreDate;
};

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

    // The qualified name of an element as written, "" for other nodes:
    // table rows match it exactly, so a prefixed or differently cased
    // name is not the element the row means.
    static std::string ElementName(const xml::Node& child);
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
    // The channel elements every format may carry (language, ttl, image,
    // rating, textInput, skipHours, skipDays); false when `name` is none of
    // them.
    bool ReadCommonChannelElement(const std::string& name, const xml::Node& element);
    // The RSS channel elements RSS 0.9x/2.0 and RDF share: the common ones
    // plus title, link, description, copyright, managingEditor, webMaster,
    // generator, docs, pubDate, lastBuildDate and cloud.
    bool ReadRssChannelElement(const std::string& name, const xml::Node& element);
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
    static void ReadItemCategories(const TChildLookup& children, TRSSItem& item);
};

}  // namespace feed
