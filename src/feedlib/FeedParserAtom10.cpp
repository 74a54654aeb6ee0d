#include "FeedParserAtom10.h"

#include "FeedUtils.h"
#include "Text.h"

namespace feed {

namespace {

using plat::AsciiLower;
using plat::EqualsNoCase;

// A link's relation; a link without rel is the alternate one. Relations
// may be written as their registry address.
std::string RelationOf(const xml::Node& link) {
    auto rel = link.Attribute("rel");
    if (!rel || rel->empty() || EqualsNoCase(*rel, "alternate")) return "alternate";
    std::string lowered = AsciiLower(*rel);
    constexpr std::string_view kRegistry = "http://www.iana.org/assignments/relation/";
    if (lowered.rfind(kRegistry, 0) == 0) lowered.erase(0, kRegistry.size());
    return lowered.empty() ? "alternate" : lowered;
}

enum class TTextType { Text, Html, Xhtml };

// Atom's three types, and the MIME types some feeds write instead.
TTextType TextTypeOf(const xml::Node& element) {
    const auto type = element.Attribute("type");
    if (!type) return TTextType::Text;
    if (EqualsNoCase(*type, "xhtml") || EqualsNoCase(*type, "application/xhtml+xml")) return TTextType::Xhtml;
    if (EqualsNoCase(*type, "html") || EqualsNoCase(*type, "text/html")) return TTextType::Html;
    return TTextType::Text;
}

// Inline XHTML comes wrapped in one div that is not part of the content.
xml::Node XhtmlContainer(const xml::Node& element) {
    xml::Node only;
    for (xml::Node child = element.FirstChild(); child; child = child.NextSibling()) {
        if (child.Type() != xml::NodeType::Element) continue;
        if (only) return element;
        only = child;
    }
    return only && only.LocalName() == "div" ? only : element;
}

}  // namespace

std::string TFeedParserAtom10::PlainTextOf(const xml::Node& element) {
    switch (TextTypeOf(element)) {
        case TTextType::Text:
            return PlainText(element);
        case TTextType::Html:
            return HtmlToText(PlainText(element));
        case TTextType::Xhtml:
            // As a browser shows it: every run of blanks (the line breaks
            // and indentation of the markup among them) one space.
            return plat::CollapseBlanks(TextContent(XhtmlContainer(element)), plat::Blanks::Xml);
    }
    return {};
}

std::string TFeedParserAtom10::BodyOf(const xml::Node& element) {
    switch (TextTypeOf(element)) {
        case TTextType::Xhtml:
            return xml::ChildrenMarkup(XhtmlContainer(element));
        case TTextType::Html:
            return BodyText(element);
        case TTextType::Text:
            break;
    }
    // Only a body of no known type may be base64, as Atom 0.3 wrote it.
    std::string body = BodyText(element);
    const auto mode = element.Attribute("mode");
    if (mode && *mode == "base64") body = DecodeContent(false, body);
    return body;
}

void TFeedParserAtom10::Parse() {
    const xml::Node feed = RSS.XMLFile().DocumentElement();
    FFeedNamespace = feed.NamespaceURI();
    if (auto lang = feed.Attribute("xml:lang"); lang && !lang->empty()) ReadLanguageCode(*lang);
    // Entries are read once the feed's own elements are known, so that an
    // entry without an author takes the feed's, as Atom says it should.
    std::vector<xml::Node> entries;
    for (xml::Node child = feed.FirstChild(); child; child = child.NextSibling()) {
        if (child.Type() != xml::NodeType::Element) continue;
        if (xml::NamespaceView(child) != FFeedNamespace) continue;
        const std::string_view name = xml::LocalNameView(child);
        if (name == "entry")
            entries.push_back(child);
        else
            ReadFeedElement(std::string(name), child);
    }
    ReadChannelImage();
    for (const xml::Node& entry : entries) ReadEntry(entry);
}

void TFeedParserAtom10::ReadFeedElement(const std::string& name, const xml::Node& element) {
    if (name == "title")
        ChannelReq().SetTitle(PlainTextOf(element));
    else if (name == "subtitle" || name == "tagline")
        ChannelReq().SetDesc(BodyOf(element));
    else if (name == "link") {
        // The site, never the feed itself (self), its hub or its next page.
        if (FHasAlternateLink || RelationOf(element) != "alternate") return;
        if (auto href = element.Attribute("href")) {
            ChannelReq().SetLink(ResolveLink(element, *href));
            FHasAlternateLink = true;
        }
    } else if (name == "updated" || name == "modified")
        ChannelOpt().PubDate().ParseISO8601(PlainText(element));
    else if (name == "rights" || name == "copyright")
        ChannelOpt().SetCopyright(PlainTextOf(element));
    else if (name == "generator")
        ChannelOpt().SetGenerator(PlainText(element));
    else if (name == "icon")
        FIcon = ResolveLink(element, PlainText(element));
    else if (name == "logo")
        FLogo = ResolveLink(element, PlainText(element));
    else if (name == "author") {
        if (FFeedAuthor.name.empty()) FFeedAuthor = ReadAuthor(element);
    } else
        ReadCommonChannelElement(name, element);
}

// The logo is the feed's picture; the icon, a small square, stands in
// when there is no logo.
void TFeedParserAtom10::ReadChannelImage() {
    const std::string& url = FLogo.empty() ? FIcon : FLogo;
    if (url.empty() || ChannelOpt().Image().Include()) return;
    TRSSImage& image = ChannelOpt().Image();
    image.SetInclude(true);
    image.Required().SetURL(url);
    image.Required().SetTitle(ChannelReq().Title());
    image.Required().SetLink(ChannelReq().Link());
}

TFeedParserAtom10::TAuthor TFeedParserAtom10::ReadAuthor(const xml::Node& author) {
    TAuthor result;
    bool hasElements = false;
    for (xml::Node child = author.FirstChild(); child; child = child.NextSibling()) {
        if (child.Type() != xml::NodeType::Element) continue;
        hasElements = true;
        const std::string_view name = xml::LocalNameView(child);
        if (name == "name" && result.name.empty())
            result.name = PlainText(child);
        else if (name == "email" && result.email.empty())
            result.email = PlainText(child);
        else if (name == "uri" && result.uri.empty())
            result.uri = PlainText(child);
    }
    // Some feeds write the name as the author's text.
    if (!hasElements) result.name = PlainText(author);
    return result;
}

void TFeedParserAtom10::ReadEntry(const xml::Node& element) {
    TRSSItem& item = RSS.Items().Add();
    const TChildLookup children(element);
    if (auto n = children.Find("title")) item.SetTitle(PlainTextOf(n));
    ReadLinks(children, item);
    ReadBodies(children, item);
    TAuthor own;
    const TAuthor* author = &FFeedAuthor;
    if (auto n = children.Find("author")) {
        own = ReadAuthor(n);
        author = &own;
    }
    SetAuthorName(item, author->name);
    item.Author().EMail = author->email;
    item.Author().URL = author->uri;
    // The first publication is the date a reader knows an entry by; an
    // entry that only says when it was last changed is dated by that.
    for (const char* name : {"published", "updated", "issued", "modified"}) {
        if (item.PubDate().Modified()) break;
        // An unreadable date is skipped for the next one.
        if (auto n = children.Find(name)) item.PubDate().ParseISO8601(PlainText(n));
    }
    if (auto n = children.Find("id")) {
        item.GUID().SetInclude(true);
        item.GUID().SetGUID(PlainText(n));
    }
    if (auto n = children.Find("source")) ReadEntrySource(n, item);
    ReadEntryCategories(children, item);
    ReadItemModules(children, item);
}

void TFeedParserAtom10::ReadLinks(const TChildLookup& children, TRSSItem& item) {
    bool hasAlternate = false;
    bool alternateIsPage = false;
    for (const xml::Node& link : children.Links()) {
        const auto href = link.Attribute("href");
        if (!href) continue;
        const std::string rel = RelationOf(link);
        const std::string type =
            rel == "alternate" || rel == "replies" ? AsciiLower(link.Attribute("type").value_or("")) : std::string();
        if (rel == "alternate") {
            // Of several alternates, the web page is the one to open.
            const bool isPage = type.empty() || type == "text/html" || type == "application/xhtml+xml";
            if (hasAlternate && (alternateIsPage || !isPage)) continue;
            item.SetLink(ResolveLink(link, *href));
            hasAlternate = true;
            alternateIsPage = isPage;
        } else if (rel == "enclosure" && !item.Enclosure().Include()) {
            TRSSItemEnclosure& enclosure = item.Enclosure();
            enclosure.SetURL(ResolveLink(link, *href));
            enclosure.SetEnclosureType(link.Attribute("type").value_or(""));
            const auto length = IntOf(link.Attribute("length").value_or(""));
            enclosure.SetLength(length && *length > 0 ? *length : 0);
            enclosure.SetInclude(true);
        } else if (rel == "replies" && (type.empty() || type == "text/html") && !item.CommentsModified()) {
            item.SetComments(ResolveLink(link, *href));
        }
    }
}

// The summary is the description; the content is the full body, kept
// beside it. With only one of them, that one is the description.
void TFeedParserAtom10::ReadBodies(const TChildLookup& children, TRSSItem& item) {
    const xml::Node summary = children.Find("summary");
    const xml::Node content = children.Find("content");
    std::string body;
    if (content) {
        // Content held elsewhere: the entry points at it.
        if (auto src = content.Attribute("src")) {
            if (!item.LinkModified()) item.SetLink(ResolveLink(content, *src));
        } else {
            body = BodyOf(content);
            const TTextType type = TextTypeOf(content);
            item.SetContentType(type == TTextType::Xhtml ? ctXHTML : type == TTextType::Html ? ctHTML : ctText);
        }
    }
    if (summary) {
        item.SetDescription(BodyOf(summary));
        if (!body.empty() && body != item.Description()) item.SetContent(std::move(body));
    } else if (content && !content.Attribute("src")) {
        item.SetDescription(std::move(body));
    }
}

void TFeedParserAtom10::ReadEntrySource(const xml::Node& source, TRSSItem& item) {
    const TChildLookup children(source);
    std::string url;
    for (const xml::Node& link : children.Links()) {
        if (RelationOf(link) == "self" || (url.empty() && RelationOf(link) == "alternate"))
            url = ResolveLink(link, link.Attribute("href").value_or(""));
    }
    if (url.empty()) return;
    item.Source().SetInclude(true);
    item.Source().SetURL(url);
    if (auto title = children.Find("title")) item.Source().SetTitle(PlainTextOf(title));
}

// An Atom category names itself by its term (and a label for people);
// its scheme is the vocabulary, which RSS calls the domain.
void TFeedParserAtom10::ReadEntryCategories(const TChildLookup& children, TRSSItem& item) {
    for (const xml::Node& child : children.Categories()) {
        std::string title = child.Attribute("term").value_or("");
        if (title.empty()) title = child.Attribute("label").value_or("");
        if (title.empty()) title = PlainText(child);
        TRSSItemCategory& category = item.Categories().Add();
        category.SetTitle(title);
        if (auto scheme = child.Attribute("scheme"))
            category.SetDomain(*scheme);
        else if (auto domain = child.Attribute("domain"))
            category.SetDomain(*domain);
    }
}

}  // namespace feed
