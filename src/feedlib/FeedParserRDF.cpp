#include "FeedParserRDF.h"

namespace feed {

namespace {

// The namespace RSS 1.0 (or 0.90) elements are written in, taken from the
// channel: feeds give it as the default namespace or with a prefix of
// their choice ("rss:channel"), and some leave it out.
std::string VocabularyOf(const xml::Node& root) {
    for (xml::Node child = root.FirstChild(); child; child = child.NextSibling()) {
        if (child.Type() == xml::NodeType::Element && xml::LocalNameView(child) == "channel")
            return child.NamespaceURI();
    }
    return {};
}

}  // namespace

void TFeedParserRDF::Parse() {
    const xml::Node root = RSS.XMLFile().DocumentElement();
    FVocabulary = VocabularyOf(root);
    for (xml::Node child = root.FirstChild(); child; child = child.NextSibling()) {
        const std::string name = ElementName(child, FVocabulary);
        if (name == "channel")
            ReadChannel(child);
        else if (name == "category")
            ReadChannelCategory(child);
        else if (name == "item")
            ReadItem(child);
        // RSS 0.90 and some generators put the channel's elements beside
        // the channel; the later of the two places wins.
        else
            ReadRssChannelElement(name, child);
    }
}

// The channel element itself holds only the three required texts; its item
// sequence and image references point at elements beside it.
void TFeedParserRDF::ReadChannel(const xml::Node& channel) {
    for (xml::Node child = channel.FirstChild(); child; child = child.NextSibling()) {
        const std::string name = ElementName(child, FVocabulary);
        if (name == "title")
            ChannelReq().SetTitle(PlainText(child));
        else if (name == "link")
            ChannelReq().SetLink(PlainText(child));
        else if (name == "description")
            ChannelReq().SetDesc(BodyText(child));
    }
}

void TFeedParserRDF::ReadItem(const xml::Node& element) {
    TRSSItem& item = RSS.Items().Add();
    const TChildLookup children(element);
    if (auto n = children.Find("title")) item.SetTitle(PlainText(n));
    if (auto n = ItemLink(children)) item.SetLink(ResolveLink(n, LinkText(n)));
    if (auto n = children.Find("description")) item.SetDescription(BodyText(n));
    if (auto n = children.Find("author")) SetAuthorName(item, PlainText(n));
    if (auto n = children.Find("comments")) item.SetComments(PlainText(n));
    if (auto n = children.DCDate()) item.PubDate().ParseISO8601(PlainText(n));
    if (auto n = children.Find("enclosure")) ReadEnclosure(n, item);
    if (auto n = children.Find("guid")) {
        item.GUID().SetInclude(true);
        item.GUID().SetGUID(PlainText(n));
        if (auto isPermaLink = n.Attribute("isPermaLink")) item.GUID().SetIsPermaLink(*isPermaLink == "true");
    }
    if (auto n = children.Find("pubDate")) item.PubDate().ParseRFC822(PlainText(n));
    // A source names the feed it came from by its address; without one it
    // says nothing and is left out.
    if (auto n = children.Find("source"); n && n.Attribute("url")) ReadSource(n, item);
    ReadItemCategories(children, item);
    ReadItemModules(children, item);
}

}  // namespace feed
