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
        if (Is(child, "category")) ReadChannelCategory(child);
        else if (Is(child, "item")) ReadItem(child);
        else if (Is(child, "title")) ChannelReq().SetTitle(child.Text());
        else if (Is(child, "link")) ChannelReq().SetLink(child.Text());
        else if (Is(child, "description")) ChannelReq().SetDesc(child.Text());
        else if (Is(child, "language")) ReadLanguage(child);
        else if (Is(child, "copyright")) ChannelOpt().SetCopyright(child.Text());
        else if (Is(child, "managingEditor")) ChannelOpt().SetManagingEditor(child.Text());
        else if (Is(child, "webMaster")) ChannelOpt().SetWebMaster(child.Text());
        else if (Is(child, "pubDate")) ChannelOpt().PubDate().ParseRFC822(child.Text());
        else if (Is(child, "lastBuildDate")) ChannelOpt().LastBuildDate().ParseRFC822(child.Text());
        else if (Is(child, "generator")) ChannelOpt().SetGenerator(child.Text());
        else if (Is(child, "docs")) ChannelOpt().SetDocs(child.Text());
        else if (Is(child, "cloud")) ReadCloud(child);
        else if (Is(child, "ttl")) ChannelOpt().SetTTL(IntOf(child));
        else if (Is(child, "image")) ReadImage(child);
        else if (Is(child, "rating")) ChannelOpt().SetRating(child.Text());
        else if (Is(child, "textInput")) ReadTextInput(child);
        else if (Is(child, "skipHours")) ReadSkipHours(child);
        else if (Is(child, "skipDays")) ReadSkipDays(child);
    }
}

void TFeedParserRSS::ReadItem(const xml::Node& element) {
    TRSSItem& item = RSS.Items().Add();
    if (auto n = Find(element, "title")) item.SetTitle(n.Text());
    if (auto n = Find(element, "link")) item.SetLink(n.Text());
    // The description comes from description, else content:encoded, else content.
    if (auto n = Find(element, "content")) item.SetDescription(n.FirstChildText());
    if (auto n = Find(element, "content:encoded")) item.SetDescription(n.FirstChildText());
    if (auto n = Find(element, "description")) item.SetDescription(n.FirstChildText());
    if (auto n = Find(element, "author")) item.Author().Name = n.Text();
    if (auto n = Find(element, "comments")) item.SetComments(n.Text());
    const xml::Node dcDate = FindDCDate(element);
    if (dcDate) item.PubDate().ParseISO8601(dcDate.Text());
    if (auto n = Find(element, "enclosure")) ReadEnclosure(n, item);
    if (auto n = Find(element, "guid")) {
        item.GUID().SetInclude(true);
        item.GUID().SetGUID(n.Text());
        // RSS 2.0 makes a guid a permalink unless it says otherwise.
        const auto isPermaLink = n.Attribute("isPermaLink");
        item.GUID().SetIsPermaLink(!isPermaLink || *isPermaLink == "true");
    }
    if (auto n = Find(element, "pubDate")) item.PubDate().ParseRFC822(n.Text());
    // An undated item is dated by the time it was read. The stamp is not
    // the feed's data, so it is not stored; a date from Dublin Core is kept.
    else if (!dcDate) item.PubDate().StampNow();
    if (auto n = Find(element, "source")) ReadSource(n, item);
    ReadItemCategories(element, item);
}

}  // namespace feed
