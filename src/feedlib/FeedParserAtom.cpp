#include "FeedParserAtom.h"

#include "FeedUtils.h"

namespace feed {

void TFeedParserAtom::Parse() {
    const xml::Node feed = RSS.XMLFile().DocumentElement();
    const xml::Node head = Find(feed, "head");
    ReadHeader(head ? head : feed);
    // Entries stand beside the head when a feed has one, so the feed
    // element's children are always walked; a head's own children are
    // walked in its place for the channel-level elements it may hold.
    ReadBody(feed);
}

void TFeedParserAtom::ReadHeader(const xml::Node& feedNode) {
    for (xml::Node child = feedNode.FirstChild(); child; child = child.NextSibling()) {
        if (Is(child, "title")) ChannelReq().SetTitle(child.Text());
        // Every link counts, whatever its rel: the last one with an href wins.
        else if (Is(child, "link")) {
            if (auto href = child.Attribute("href")) ChannelReq().SetLink(*href);
        }
        else if (Is(child, "tagline")) ChannelReq().SetDesc(child.Text());
        else if (Is(child, "generator")) ChannelOpt().SetGenerator(child.Text());
        else if (Is(child, "modified")) ChannelOpt().PubDate().ParseISO8601(child.Text());
    }
}

void TFeedParserAtom::ReadBody(const xml::Node& parent) {
    for (xml::Node child = parent.FirstChild(); child; child = child.NextSibling()) {
        if (Is(child, "entry")) ReadEntry(child);
        else if (Is(child, "language")) ReadLanguage(child);
        else if (Is(child, "ttl")) ChannelOpt().SetTTL(IntOf(child));
        else if (Is(child, "image")) ReadImage(child);
        else if (Is(child, "rating")) ChannelOpt().SetRating(child.Text());
        else if (Is(child, "textInput")) ReadTextInput(child);
        else if (Is(child, "skipHours")) ReadSkipHours(child);
        else if (Is(child, "skipDays")) ReadSkipDays(child);
        else if (Is(child, "head") && parent == RSS.XMLFile().DocumentElement()) ReadBody(child);
    }
}

void TFeedParserAtom::ReadEntry(const xml::Node& element) {
    TRSSItem& item = RSS.Items().Add();
    if (auto n = Find(element, "title")) item.SetTitle(n.Text());
    // The first link only: later ones are alternates or editing services.
    if (auto n = Find(element, "link")) {
        if (auto href = n.Attribute("href")) item.SetLink(*href);
    }
    if (auto n = Find(element, "content")) ReadContent(n, item);
    if (auto n = Find(element, "author")) ReadAuthor(n, item);
    if (auto n = Find(element, "comments")) item.SetComments(n.Text());
    if (auto n = Find(element, "modified")) item.PubDate().ParseISO8601(n.Text());
    if (auto n = Find(element, "enclosure")) ReadEnclosure(n, item);
    if (auto n = Find(element, "id")) {
        item.GUID().SetInclude(true);
        item.GUID().SetGUID(n.Text());
    }
    if (auto n = Find(element, "pubDate")) item.PubDate().ParseRFC822(n.Text());
    if (auto n = Find(element, "source")) ReadSource(n, item);
    ReadItemCategories(element, item);
}

// Escaped HTML and CDATA give their text; inline markup gives the text of
// its first element. Base64 content is decoded; the type is not consulted.
void TFeedParserAtom::ReadContent(const xml::Node& content, TRSSItem& item) {
    item.SetDescription(content.FirstChildText());
    const auto mode = content.Attribute("mode");
    if (mode && *mode == "base64") item.SetDescription(DecodeContent(false, item.Description()));
}

void TFeedParserAtom::ReadAuthor(const xml::Node& author, TRSSItem& item) {
    if (auto n = Find(author, "name")) item.Author().Name = n.Text();
    if (auto n = Find(author, "email")) item.Author().EMail = n.Text();
    if (auto n = Find(author, "url")) item.Author().URL = n.Text();
}

}  // namespace feed
