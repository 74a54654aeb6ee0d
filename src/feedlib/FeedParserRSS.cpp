#include "FeedParserRSS.h"

namespace feed {

void TFeedParserRSS::Parse() {
    const xml::Node channel = Find(RSS.XMLFile().DocumentElement(), "channel");
    // A channel without items is still a feed (a new blog, a stored copy of
    // an emptied feed): its title, link and description are read as usual.
    if (channel) ReadChannel(channel);
}

// A channel in a namespace (the userland one, or any other the root is
// written in) has its elements in that namespace, whatever their prefix.
void TFeedParserRSS::ReadChannel(const xml::Node& channel) {
    const std::string vocabulary = channel.NamespaceURI();
    for (xml::Node child = channel.FirstChild(); child; child = child.NextSibling()) {
        const std::string name = ElementName(child, vocabulary);
        if (name == "category")
            ReadChannelCategory(child);
        else if (name == "item")
            ReadItem(child);
        else
            ReadRssChannelElement(name, child);
    }
}

void TFeedParserRSS::ReadItem(const xml::Node& element) {
    TRSSItem& item = RSS.Items().Add();
    const TChildLookup children(element);
    if (auto n = children.Find("title")) item.SetTitle(PlainText(n));
    if (auto n = ItemLink(children)) item.SetLink(ResolveLink(n, LinkText(n)));
    // The description comes from description, else content:encoded, else content.
    if (auto n = children.Find("content")) item.SetDescription(BodyText(n));
    if (auto n = children.Find("content:encoded")) item.SetDescription(BodyText(n));
    if (auto n = children.Find("description")) item.SetDescription(BodyText(n));
    if (auto n = children.Find("author")) SetAuthorName(item, PlainText(n));
    if (auto n = children.Find("comments")) item.SetComments(PlainText(n));
    const xml::Node dcDate = children.DCDate();
    if (dcDate) item.PubDate().ParseISO8601(PlainText(dcDate));
    if (auto n = children.Find("enclosure")) ReadEnclosure(n, item);
    if (auto n = children.Find("guid")) {
        item.GUID().SetInclude(true);
        item.GUID().SetGUID(PlainText(n));
        // RSS 2.0 makes a guid a permalink unless it says otherwise.
        const auto isPermaLink = n.Attribute("isPermaLink");
        item.GUID().SetIsPermaLink(!isPermaLink || *isPermaLink == "true");
    }
    if (auto n = children.Find("pubDate")) item.PubDate().ParseRFC822(PlainText(n));
    // An undated item is dated by the time it was read. The stamp is not
    // the feed's data, so it is not stored; a date from Dublin Core is kept.
    else if (!dcDate)
        item.PubDate().StampNow();
    if (auto n = children.Find("source")) ReadSource(n, item);
    ReadItemCategories(children, item);
    ReadItemModules(children, item);
}

}  // namespace feed
