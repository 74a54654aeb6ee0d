#include "FeedParserRSS.h"

#include "Convert.h"

namespace feed {

void TFeedParserRSS::Parse() {
    const xml::Node channel = Find(RSS.XMLFile().DocumentElement(), "channel");
    // A channel without items is still a feed (a new blog, a stored copy of
    // an emptied feed): its title, link and description are read as usual.
    if (channel) ReadChannel(channel);
}

void TFeedParserRSS::ReadChannel(const xml::Node& channel) {
    for (xml::Node child = channel.FirstChild(); child; child = child.NextSibling()) {
        const std::string name = ElementName(child);
        if (name == "category") ReadChannelCategory(child);
        else if (name == "item") ReadItem(child);
        else if (name == "title") ChannelReq().SetTitle(child.Text());
        else if (name == "link") ChannelReq().SetLink(child.Text());
        else if (name == "description") ChannelReq().SetDesc(child.Text());
        else if (name == "language") ReadLanguage(child);
        else if (name == "copyright") ChannelOpt().SetCopyright(child.Text());
        else if (name == "managingEditor") ChannelOpt().SetManagingEditor(child.Text());
        else if (name == "webMaster") ChannelOpt().SetWebMaster(child.Text());
        else if (name == "pubDate") ChannelOpt().PubDate().ParseRFC822(child.Text());
        else if (name == "lastBuildDate") ChannelOpt().LastBuildDate().ParseRFC822(child.Text());
        else if (name == "generator") ChannelOpt().SetGenerator(child.Text());
        else if (name == "docs") ChannelOpt().SetDocs(child.Text());
        else if (name == "cloud") ReadCloud(child);
        else if (name == "ttl") ChannelOpt().SetTTL(IntOf(child));
        else if (name == "image") ReadImage(child);
        else if (name == "rating") ChannelOpt().SetRating(child.Text());
        else if (name == "textInput") ReadTextInput(child);
        else if (name == "skipHours") ReadSkipHours(child);
        else if (name == "skipDays") ReadSkipDays(child);
    }
}

void TFeedParserRSS::ReadItem(const xml::Node& element) {
    TRSSItem& item = RSS.Items().Add();
    const TChildLookup children(element);
    if (auto n = children.Find("title")) item.SetTitle(n.Text());
    if (auto n = children.Find("link")) item.SetLink(n.Text());
    // The description comes from description, else content:encoded, else content.
    if (auto n = children.Find("content")) item.SetDescription(n.FirstChildText());
    if (auto n = children.Find("content:encoded")) item.SetDescription(n.FirstChildText());
    if (auto n = children.Find("description")) item.SetDescription(n.FirstChildText());
    if (auto n = children.Find("author")) item.Author().Name = n.Text();
    if (auto n = children.Find("comments")) item.SetComments(n.Text());
    const xml::Node dcDate = children.DCDate();
    if (dcDate) item.PubDate().ParseISO8601(dcDate.Text());
    if (auto n = children.Find("enclosure")) ReadEnclosure(n, item);
    if (auto n = children.Find("guid")) {
        item.GUID().SetInclude(true);
        item.GUID().SetGUID(n.Text());
        // RSS 2.0 makes a guid a permalink unless it says otherwise.
        const auto isPermaLink = n.Attribute("isPermaLink");
        item.GUID().SetIsPermaLink(!isPermaLink || *isPermaLink == "true");
    }
    if (auto n = children.Find("pubDate")) item.PubDate().ParseRFC822(n.Text());
    // An undated item is dated by the time it was read. The stamp is not
    // the feed's data, so it is not stored; a date from Dublin Core is kept.
    else if (!dcDate) item.PubDate().StampNow();
    if (auto n = children.Find("source")) ReadSource(n, item);
    ReadItemCategories(children, item);
}

}  // namespace feed
