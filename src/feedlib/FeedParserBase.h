// The reading rules the RSS, RDF and Atom parsers share, written once so
// that each parser reads like its element table.
//
//  * Names: a child matches when its qualified name, as written, equals the
//    expected name (a prefixed or differently cased name does not).
//  * Find: the first child whose qualified or local name matches, within
//    the parent's namespace when it has one; "get" reads a missing child or
//    attribute as the empty text.
//  * Text: an element's single text or CDATA child. An element that holds
//    markup or mixes text with CDATA gives its text content (plain text
//    for names and titles, markup for bodies): one odd element never costs
//    the whole feed.
//  * Numbers: plain decimal integers; a value that is none leaves the
//    field as it was (an enclosure's length reads as 0, unknown).
//  * Modules: content:encoded, dc:creator, dc:date and media:* are found
//    by their namespace, whatever prefix a feed gives them, in one place
//    for every parser.
#pragma once

#include <string>
#include <string_view>
#include <optional>
#include <utility>
#include <vector>

#include "FeedDocument.h"
#include "XmlDom.h"

namespace feed {

// The Dublin Core vocabulary, where RSS 1.0 feeds keep their dates.
inline constexpr const char* kDublinCoreNamespace = "http://purl.org/dc/elements/1.1/";
// Where RSS feeds keep a post's whole body (content:encoded).
inline constexpr const char* kContentNamespace = "http://purl.org/rss/1.0/modules/content/";
// Media RSS: pictures and videos of Mastodon, YouTube and podcasts.
inline constexpr const char* kMediaNamespace = "http://search.yahoo.com/mrss/";

// The module elements an item may carry beside its own vocabulary.
enum class TModuleElement {
    ContentEncoded,
    DCCreator,
    DCDate,
    MediaContent,
    MediaThumbnail,
    MediaGroup,
    MediaDescription,
    Count
};

// "Find" for every name an item table asks about, answered from one pass
// over the element's children instead of one scan per name: a large feed
// has thousands of items with a dozen lookups each. Gives exactly what
// xml::Node::FindChild gives.
class TChildLookup {
public:
    explicit TChildLookup(const xml::Node& parent);
    xml::Node Find(std::string_view name) const;
    // The first child written without a prefix under that name: an
    // item's own link, not an atom:link before it.
    xml::Node FindPlain(std::string_view name) const;
    // The first child of a module element, found by its namespace (any
    // prefix) or by its usual prefixed name.
    xml::Node Module(TModuleElement element) const { return FModules[static_cast<std::size_t>(element)]; }
    // Every child whose local name is "category", whatever its prefix or
    // namespace, in document order.
    const std::vector<xml::Node>& Categories() const { return FCategories; }
    // Every child named "link" in the parent's namespace, in document
    // order: Atom gives each entry several, told apart by their rel.
    const std::vector<xml::Node>& Links() const { return FLinks; }
    // The item's date in Dublin Core. Items in a namespace (RSS 1.0) are
    // matched by the Dublin Core URI and local name "date", since their
    // dates are never in the items' own namespace; items in no namespace
    // keep the plain "dc:date" lookup.
    xml::Node DCDate() const;

private:
    struct TChild {
        std::string_view prefix, local;
        xml::Node node;
    };
    void RememberModule(std::string_view prefix, std::string_view localName, std::string_view childNamespace,
                        const xml::Node& child);

    // The element children in the parent's namespace, in document order.
    // The names are views into the document, which outlives the lookup.
    std::vector<TChild> FChildren;
    std::vector<xml::Node> FCategories;
    std::vector<xml::Node> FLinks;
    xml::Node FModules[static_cast<std::size_t>(TModuleElement::Count)];
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
    // The same for a structure written in a namespace of its own (RSS in
    // the userland namespace, RSS 1.0): a child in `vocabulary` is named by
    // its local name, whatever prefix it was given, so "x:title" is the
    // title; children of other namespaces ("dc:title") keep their qualified
    // name. An empty vocabulary is the plain rule above.
    static std::string ElementName(const xml::Node& child, std::string_view vocabulary);
    static xml::Node Find(const xml::Node& parent, std::string_view name) { return parent.FindChild(name); }
    // An element's text; for one that holds markup or mixes text and CDATA,
    // the text of it all, as a name or title is plain text.
    static std::string PlainText(const xml::Node& element);
    // A body's text: its text or CDATA (HTML, as feeds write bodies), or
    // for one holding markup, that markup.
    static std::string BodyText(const xml::Node& element);
    // The text of child `name`, "" when there is none ("get").
    static std::string GetText(const xml::Node& parent, std::string_view name);
    // The text of attribute `name`, "" when absent ("get").
    static std::string GetAttribute(const xml::Node& element, std::string_view name);
    // A text as an integer; nullopt for anything but a plain decimal
    // integer (blanks around it allowed) that fits.
    static std::optional<int> IntOf(std::string_view text);
    static std::optional<int> IntOf(const xml::Node& element);
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
    void ReadLanguageCode(const std::string& code);
    void ReadChannelCategory(const xml::Node& element);
    void ReadCloud(const xml::Node& element);
    void ReadImage(const xml::Node& element);
    void ReadTextInput(const xml::Node& element);
    void ReadSkipHours(const xml::Node& element);
    void ReadSkipDays(const xml::Node& element);

    // Item-level structures.
    static void ReadEnclosure(const xml::Node& element, TRSSItem& item);
    // The enclosure of a media:content or media:thumbnail element.
    static void ReadMediaEnclosure(const xml::Node& element, TRSSItem& item);
    // The modules every item format may carry, read after the format's own
    // elements so that they only fill what those left empty: the full
    // body from content:encoded, the author from dc:creator, and an
    // enclosure from media:content or media:thumbnail.
    static void ReadItemModules(const TChildLookup& children, TRSSItem& item);
    // An item's link element: its own unprefixed link first, so that an
    // atom:link written before it does not stand in for it.
    static xml::Node ItemLink(const TChildLookup& children);
    // A link element's address: its text, or the href of one without text
    // (an atom:link).
    static std::string LinkText(const xml::Node& link);
    // `reference` resolved against the xml:base attributes around `element`
    // and the address the document was downloaded from; an absolute
    // reference, or one with nothing to resolve against, is kept as written.
    std::string ResolveLink(const xml::Node& element, const std::string& reference) const;
    // The author's name, raising the flag that stores it.
    static void SetAuthorName(TRSSItem& item, const std::string& name);
    static void ReadSource(const xml::Node& element, TRSSItem& item);
    static void ReadItemCategories(const TChildLookup& children, TRSSItem& item);
};

}  // namespace feed
