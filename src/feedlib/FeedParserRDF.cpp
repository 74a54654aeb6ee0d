#include "FeedParserRDF.h"

namespace feed {

void TFeedParserRDF::Parse() {
    const xml::Node root = RSS.XMLFile().DocumentElement();
    for (xml::Node child = root.FirstChild(); child; child = child.NextSibling()) {
        if (Is(child, "channel")) ReadChannel(child);
        else if (Is(child, "category")) ReadChannelCategory(child);
        else if (Is(child, "item")) ReadItem(child);
        // RSS 0.90 and some generators put these beside the channel; the
        // later of the two places wins.
        else if (Is(child, "title")) ChannelReq().SetTitle(child.Text());
        else if (Is(child, "link")) ChannelReq().SetLink(child.Text());
        else if (Is(child, "description")) ChannelReq().SetDesc(child.Text());
        else if (Is(child, "language")) ReadLanguage(child);
        else if (Is(child, "copyright")) ChannelOpt().SetCopyright(child.Text());
        else if (Is(child, "managingEditor")) ChannelOpt().SetManagingEditor(child.Text());
        else if (Is(child, "webMaster")) ChannelOpt().SetWebMaster(child.Text());
        else if (Is(child, "generator")) ChannelOpt().SetGenerator(child.Text());
        else if (Is(child, "docs")) ChannelOpt().SetDocs(child.Text());
        else if (Is(child, "rating")) ChannelOpt().SetRating(child.Text());
        else if (Is(child, "pubDate")) ChannelOpt().PubDate().ParseRFC822(child.Text());
        else if (Is(child, "lastBuildDate")) ChannelOpt().LastBuildDate().ParseRFC822(child.Text());
        else if (Is(child, "cloud")) ReadCloud(child);
        else if (Is(child, "ttl")) ChannelOpt().SetTTL(IntOf(child));
        else if (Is(child, "image")) ReadImage(child);
        else if (Is(child, "textInput")) ReadTextInput(child);
        else if (Is(child, "skipHours")) ReadSkipHours(child);
        else if (Is(child, "skipDays")) ReadSkipDays(child);
    }
}

// The channel element itself holds only the three required texts; its item
// sequence and image references point at elements beside it.
void TFeedParserRDF::ReadChannel(const xml::Node& channel) {
    for (xml::Node child = channel.FirstChild(); child; child = child.NextSibling()) {
        if (Is(child, "title")) ChannelReq().SetTitle(child.Text());
        else if (Is(child, "link")) ChannelReq().SetLink(child.Text());
        else if (Is(child, "description")) ChannelReq().SetDesc(child.Text());
    }
}

void TFeedParserRDF::ReadItem(const xml::Node& element) {
    TRSSItem& item = RSS.Items().Add();
    if (auto n = Find(element, "title")) item.SetTitle(n.Text());
    if (auto n = Find(element, "link")) item.SetLink(n.Text());
    if (auto n = Find(element, "description")) item.SetDescription(n.Text());
    if (auto n = Find(element, "author")) item.Author().Name = n.Text();
    if (auto n = Find(element, "comments")) item.SetComments(n.Text());
    if (auto n = FindDCDate(element)) item.PubDate().ParseISO8601(n.Text());
    if (auto n = Find(element, "enclosure")) ReadEnclosure(n, item);
    if (auto n = Find(element, "guid")) {
        item.GUID().SetInclude(true);
        item.GUID().SetGUID(n.Text());
        if (auto isPermaLink = n.Attribute("isPermaLink")) item.GUID().SetIsPermaLink(*isPermaLink == "true");
    }
    if (auto n = Find(element, "pubDate")) item.PubDate().ParseRFC822(n.Text());
    if (auto n = Find(element, "source")) {
        if (!n.Attribute("url")) throw TFeedException(RequiredFieldMissing("source", "url"));
        ReadSource(n, item);
    }
    ReadItemCategories(element, item);
}

}  // namespace feed
