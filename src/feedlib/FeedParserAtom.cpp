#include "FeedParserAtom.h"

#include "FeedUtils.h"

namespace feed {

void TFeedParserAtom::Parse() {
    const xml::Node feed = RSS.XMLFile().DocumentElement();
    const xml::Node head = Find(feed, "head");
    ReadHeader(head ? head : feed);
    // Entries stand beside the head when a feed has one, so the feed
    // element's children are always walked; a head is walked where it
    // stands for the channel-level elements it may hold.
    ReadBody(feed, true);
}

void TFeedParserAtom::ReadHeader(const xml::Node& feedNode) {
    for (xml::Node child = feedNode.FirstChild(); child; child = child.NextSibling()) {
        const std::string name = ElementName(child);
        if (name == "title") ChannelReq().SetTitle(PlainText(child));
        // Every link counts, whatever its rel: the last one with an href wins.
        else if (name == "link") {
            if (auto href = child.Attribute("href")) ChannelReq().SetLink(*href);
        } else if (name == "tagline")
            ChannelReq().SetDesc(BodyText(child));
        else if (name == "generator")
            ChannelOpt().SetGenerator(PlainText(child));
        else if (name == "modified")
            ChannelOpt().PubDate().ParseISO8601(PlainText(child));
    }
}

void TFeedParserAtom::ReadBody(const xml::Node& parent, bool isFeed) {
    for (xml::Node child = parent.FirstChild(); child; child = child.NextSibling()) {
        const std::string name = ElementName(child);
        if (name == "entry")
            ReadEntry(child);
        else if (name == "head" && isFeed)
            ReadBody(child, false);
        else
            ReadCommonChannelElement(name, child);
    }
}

void TFeedParserAtom::ReadEntry(const xml::Node& element) {
    TRSSItem& item = RSS.Items().Add();
    const TChildLookup children(element);
    if (auto n = children.Find("title")) item.SetTitle(PlainText(n));
    // The first link only: later ones are alternates or editing services.
    if (auto n = children.Find("link")) {
        if (auto href = n.Attribute("href")) item.SetLink(*href);
    }
    if (auto n = children.Find("content")) ReadContent(n, item);
    if (auto n = children.Find("author")) ReadAuthor(n, item);
    if (auto n = children.Find("comments")) item.SetComments(PlainText(n));
    if (auto n = children.Find("modified")) item.PubDate().ParseISO8601(PlainText(n));
    if (auto n = children.Find("enclosure")) ReadEnclosure(n, item);
    if (auto n = children.Find("id")) {
        item.GUID().SetInclude(true);
        item.GUID().SetGUID(PlainText(n));
    }
    if (auto n = children.Find("pubDate")) item.PubDate().ParseRFC822(PlainText(n));
    if (auto n = children.Find("source")) ReadSource(n, item);
    ReadItemCategories(children, item);
}

// Escaped HTML and CDATA give their text; inline markup gives that markup.
// Base64 content is decoded; the type is not consulted.
void TFeedParserAtom::ReadContent(const xml::Node& content, TRSSItem& item) {
    item.SetDescription(BodyText(content));
    const auto mode = content.Attribute("mode");
    if (mode && *mode == "base64") item.SetDescription(DecodeContent(false, item.Description()));
}

void TFeedParserAtom::ReadAuthor(const xml::Node& author, TRSSItem& item) {
    const TChildLookup children(author);
    if (auto n = children.Find("name")) SetAuthorName(item, PlainText(n));
    if (auto n = children.Find("email")) item.Author().EMail = PlainText(n);
    if (auto n = children.Find("url")) item.Author().URL = PlainText(n);
}

}  // namespace feed
