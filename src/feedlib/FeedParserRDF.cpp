#include "FeedParserRDF.h"

namespace feed {

void TFeedParserRDF::Parse() {
    const xml::Node root = RSS.XMLFile().DocumentElement();
    for (xml::Node child = root.FirstChild(); child; child = child.NextSibling()) {
        const std::string name = ElementName(child);
        if (name == "channel") ReadChannel(child);
        else if (name == "category") ReadChannelCategory(child);
        else if (name == "item") ReadItem(child);
        // RSS 0.90 and some generators put the channel's elements beside
        // the channel; the later of the two places wins.
        else ReadRssChannelElement(name, child);
    }
}

// The channel element itself holds only the three required texts; its item
// sequence and image references point at elements beside it.
void TFeedParserRDF::ReadChannel(const xml::Node& channel) {
    for (xml::Node child = channel.FirstChild(); child; child = child.NextSibling()) {
        const std::string name = ElementName(child);
        if (name == "title") ChannelReq().SetTitle(child.Text());
        else if (name == "link") ChannelReq().SetLink(child.Text());
        else if (name == "description") ChannelReq().SetDesc(child.Text());
    }
}

void TFeedParserRDF::ReadItem(const xml::Node& element) {
    TRSSItem& item = RSS.Items().Add();
    const TChildLookup children(element);
    if (auto n = children.Find("title")) item.SetTitle(n.Text());
    if (auto n = children.Find("link")) item.SetLink(n.Text());
    if (auto n = children.Find("description")) item.SetDescription(n.Text());
    if (auto n = children.Find("author")) item.Author().Name = n.Text();
    if (auto n = children.Find("comments")) item.SetComments(n.Text());
    if (auto n = children.DCDate()) item.PubDate().ParseISO8601(n.Text());
    if (auto n = children.Find("enclosure")) ReadEnclosure(n, item);
    if (auto n = children.Find("guid")) {
        item.GUID().SetInclude(true);
        item.GUID().SetGUID(n.Text());
        if (auto isPermaLink = n.Attribute("isPermaLink")) item.GUID().SetIsPermaLink(*isPermaLink == "true");
    }
    if (auto n = children.Find("pubDate")) item.PubDate().ParseRFC822(n.Text());
    if (auto n = children.Find("source")) {
        if (!n.Attribute("url")) throw TFeedException(RequiredFieldMissing("source", "url"));
        ReadSource(n, item);
    }
    ReadItemCategories(children, item);
}

}  // namespace feed
