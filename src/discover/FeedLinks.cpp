#include "FeedLinks.h"

#include <libxml/HTMLparser.h>
#include <libxml/encoding.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <memory>
#include <optional>
#include <set>

#include "Address.h"
#include "FeedUtils.h"
#include "Text.h"

namespace discover {

namespace {

// Pages are HTML: their blanks are HTML's, where a VT is text.
bool IsHtmlBlank(char c) { return plat::IsBlank(c, plat::Blanks::Html); }
std::string_view Trim(std::string_view text) { return plat::Trim(text, plat::Blanks::Html); }
// Titles span lines in real pages; a title is one line.
std::string CollapseBlanks(std::string_view text) { return plat::CollapseBlanks(text, plat::Blanks::Html); }
using plat::AsciiLower;

// ---- Encoding ------------------------------------------------------------

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 4;
        if (extra == 4 || (extra == 1 && c < 0xC2) || (extra > 0 && i + extra >= text.size())) return false;
        for (std::size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

// The value after "charset" in text ("text/html; charset=UTF-8",
// `<meta charset="utf-8">`), "" when there is none.
std::string CharsetIn(std::string_view text) {
    const std::string lower = AsciiLower(text);
    for (std::size_t at = lower.find("charset"); at != std::string::npos; at = lower.find("charset", at + 7)) {
        std::size_t i = at + 7;
        while (i < lower.size() && IsHtmlBlank(lower[i])) ++i;
        if (i >= lower.size() || lower[i] != '=') continue;
        ++i;
        while (i < lower.size() && (IsHtmlBlank(lower[i]) || lower[i] == '"' || lower[i] == '\'')) ++i;
        std::size_t end = i;
        while (end < lower.size() && (std::isalnum(static_cast<unsigned char>(lower[end])) || lower[end] == '-' ||
                                      lower[end] == '_' || lower[end] == '.' || lower[end] == ':'))
            ++end;
        if (end > i) return lower.substr(i, end - i);
    }
    return {};
}

bool IsKnownEncoding(const std::string& name) {
    xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(name.c_str());
    if (handler == nullptr) return false;
    xmlCharEncCloseFunc(handler);
    return true;
}

// ---- What the page says ----------------------------------------------------

struct RawLink {
    std::string rel, type, href, title;
};

struct PageFacts {
    std::string title;
    std::optional<std::string> base;
    std::vector<RawLink> links;
    std::string siteName;                // og:site_name
    std::string metaChannel;             // <meta itemprop="channelId">
    std::vector<std::string> addresses;  // canonical link and og:url
    // While the first <title> is being read.
    bool inTitle = false;
    bool titleDone = false;
};

bool HasRelToken(std::string_view rel, std::string_view token) {
    const std::string lower = AsciiLower(rel);
    std::size_t i = 0;
    while (i < lower.size()) {
        while (i < lower.size() && IsHtmlBlank(lower[i])) ++i;
        std::size_t end = i;
        while (end < lower.size() && !IsHtmlBlank(lower[end])) ++end;
        if (end > i && std::string_view(lower).substr(i, end - i) == token) return true;
        i = end;
    }
    return false;
}

bool NameIs(const xmlChar* name, const char* wanted) {
    return xmlStrcasecmp(name, reinterpret_cast<const xmlChar*>(wanted)) == 0;
}

// The attribute's value; nullopt when absent. The parser gives names in
// lower case and character references decoded.
std::optional<std::string> Attribute(const xmlChar** attributes, const char* name) {
    for (const xmlChar** a = attributes; a != nullptr && a[0] != nullptr; a += 2)
        if (NameIs(a[0], name))
            return a[1] != nullptr ? std::string(reinterpret_cast<const char*>(a[1])) : std::string();
    return std::nullopt;
}

std::string AttributeText(const xmlChar** attributes, const char* name) {
    return Attribute(attributes, name).value_or(std::string());
}

// The parser's events, not a tree: a large page is read without building
// a node for each of its elements. Links anywhere count, not only in
// <head>: the parser closes the head early on markup that does not belong
// there, and pages are sloppy.
void OnStartElement(void* context, const xmlChar* name, const xmlChar** attributes) {
    PageFacts& facts = *static_cast<PageFacts*>(static_cast<htmlParserCtxtPtr>(context)->_private);
    if (NameIs(name, "link")) {
        RawLink link{AttributeText(attributes, "rel"), AttributeText(attributes, "type"),
                     AttributeText(attributes, "href"), AttributeText(attributes, "title")};
        if (HasRelToken(link.rel, "canonical")) facts.addresses.push_back(link.href);
        facts.links.push_back(std::move(link));
    } else if (NameIs(name, "base")) {
        if (!facts.base)
            if (auto href = Attribute(attributes, "href")) facts.base = std::string(Trim(*href));
    } else if (NameIs(name, "title")) {
        facts.inTitle = !facts.titleDone;
    } else if (NameIs(name, "meta")) {
        const std::string property = AsciiLower(AttributeText(attributes, "property"));
        const std::string itemprop = AsciiLower(AttributeText(attributes, "itemprop"));
        if (property == "og:site_name")
            facts.siteName = std::string(Trim(AttributeText(attributes, "content")));
        else if (property == "og:url")
            facts.addresses.push_back(AttributeText(attributes, "content"));
        else if (itemprop == "channelid" && facts.metaChannel.empty())
            facts.metaChannel = std::string(Trim(AttributeText(attributes, "content")));
    }
}

void OnEndElement(void* context, const xmlChar* name) {
    PageFacts& facts = *static_cast<PageFacts*>(static_cast<htmlParserCtxtPtr>(context)->_private);
    if (facts.inTitle && NameIs(name, "title")) {
        facts.inTitle = false;
        facts.titleDone = true;
        facts.title = CollapseBlanks(facts.title);
    }
}

void OnCharacters(void* context, const xmlChar* text, int length) {
    PageFacts& facts = *static_cast<PageFacts*>(static_cast<htmlParserCtxtPtr>(context)->_private);
    if (facts.inTitle) facts.title.append(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
}

struct ParserDeleter {
    void operator()(htmlParserCtxtPtr parser) const {
        if (parser->myDoc != nullptr) xmlFreeDoc(parser->myDoc);
        htmlFreeParserCtxt(parser);
    }
};

PageFacts ReadFacts(std::string_view html, std::string_view contentType) {
    PageFacts facts;
    const int size = static_cast<int>(std::min<std::size_t>(html.size(), INT_MAX));
    if (size == 0) return facts;
    std::unique_ptr<htmlParserCtxt, ParserDeleter> parser(htmlCreateMemoryParserCtxt(html.data(), size));
    if (!parser) return facts;
    htmlSAXHandler events{};
    events.startElement = OnStartElement;
    events.endElement = OnEndElement;
    events.characters = OnCharacters;
    *parser->sax = events;
    parser->userData = parser.get();
    parser->_private = &facts;
    htmlCtxtUseOptions(parser.get(), HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_RECOVER |
                                         HTML_PARSE_NODEFDTD);
    // libxml2's own detection is weaker than a browser's: the name is settled
    // here and handed to the parser.
    if (xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(PageEncoding(html, contentType).c_str()))
        xmlSwitchToEncoding(parser.get(), handler);
    htmlParseDocument(parser.get());
    if (facts.inTitle) facts.title = CollapseBlanks(facts.title);
    return facts;
}

// ---- Step: the page's feed links -------------------------------------------

bool IsFeedType(const std::string& type, const std::string& url) {
    static const std::set<std::string> kFeedTypes = {"application/rss+xml", "application/atom+xml",
                                                     "application/rdf+xml", "application/feed+json", "text/xml"};
    if (kFeedTypes.count(type)) return true;
    // WordPress announces its REST documents as alternates typed JSON.
    return type == "application/json" && url.find("/wp-json/") == std::string::npos &&
           url.find("rest_route=") == std::string::npos;
}

bool IsWebAddress(std::string_view url) {
    const std::string lower = AsciiLower(url.substr(0, 8));
    return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}

std::vector<TFeedCandidate> LinkedFeeds(const PageFacts& facts, const std::string& pageUrl) {
    const std::string base = facts.base ? feed::ResolveURL(pageUrl, *facts.base) : pageUrl;
    std::vector<TFeedCandidate> feeds;
    std::set<std::string> seen;
    for (const RawLink& link : facts.links) {
        const bool feedRel = HasRelToken(link.rel, "feed");
        if (!feedRel && !HasRelToken(link.rel, "alternate")) continue;
        const std::string_view href = Trim(link.href);
        if (href.empty()) continue;
        std::string type = AsciiLower(Trim(link.type));
        type = std::string(Trim(type.substr(0, type.find(';'))));
        const std::string url = feed::ResolveURL(base, href);
        // rel="feed" says by itself that the target is a feed.
        if (!(feedRel && type.empty()) && !IsFeedType(type, url)) continue;
        if (!IsWebAddress(url) || !seen.insert(ComparableUrl(url)).second) continue;
        std::string title = CollapseBlanks(link.title);
        feeds.push_back({url, title.empty() ? facts.title : title, type});
    }
    return feeds;
}

// ---- Ranking ---------------------------------------------------------------

enum class FeedRank { Site, Comments, PostComments };

struct UrlPieces {
    std::vector<std::string> segments;
    std::string query;
};

UrlPieces Pieces(const std::string& url) {
    UrlPieces pieces;
    std::string_view rest = std::string_view(url).substr(0, url.find('#'));
    if (const auto q = rest.find('?'); q != std::string_view::npos) {
        pieces.query = AsciiLower(rest.substr(q + 1));
        rest = rest.substr(0, q);
    }
    if (const auto marker = rest.find("//"); marker != std::string_view::npos) {
        rest.remove_prefix(marker + 2);
        const auto slash = rest.find('/');
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        pieces.segments.push_back(AsciiLower(rest.substr(0, slash)));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    return pieces;
}

bool IsCommentsSegment(const std::string& segment) {
    return segment == "comments" || segment == "comment" || segment.rfind("comments.", 0) == 0;
}

bool IsDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// "Comments Feed", "Kommentare", "commentaires", "Comentarios", "reacties".
bool TitleSaysComments(const std::string& title) {
    const std::string lower = AsciiLower(title);
    for (const char* word : {"comment", "coment", "komment", "koment", "reacties"})
        if (lower.find(word) != std::string::npos) return true;
    return false;
}

FeedRank RankOf(const TFeedCandidate& feed) {
    const UrlPieces pieces = Pieces(feed.Url);
    const auto comments = std::find_if(pieces.segments.begin(), pieces.segments.end(), IsCommentsSegment);
    const bool addressSaysComments =
        comments != pieces.segments.end() || pieces.query.find("comments") != std::string::npos;
    if (!addressSaysComments && !TitleSaysComments(feed.Title)) return FeedRank::Site;
    // One post's comments: a comments title on an address with no comments
    // part (WordPress "/2024/05/post/feed/"), or comments under a numeric
    // post id (Blogger "/feeds/8123/comments/default").
    if (!addressSaysComments) return FeedRank::PostComments;
    if (comments != pieces.segments.begin() && comments != pieces.segments.end() && IsDigits(*(comments - 1)))
        return FeedRank::PostComments;
    return FeedRank::Comments;
}

void Rank(std::vector<TFeedCandidate>& feeds) {
    std::stable_sort(feeds.begin(), feeds.end(),
                     [](const TFeedCandidate& a, const TFeedCandidate& b) { return RankOf(a) < RankOf(b); });
}

// ---- Step: YouTube ---------------------------------------------------------

constexpr const char* kYouTubeFeeds = "https://www.youtube.com/feeds/videos.xml";

bool IsIdChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'; }

std::string IdAt(std::string_view text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && IsIdChar(text[end])) ++end;
    return std::string(text.substr(at, end - at));
}

// "UC" and 22 more characters of the URL-safe base64 alphabet.
bool IsChannelId(const std::string& id) { return id.size() == 24 && id.rfind("UC", 0) == 0; }

std::string ChannelIdAfter(std::string_view text, std::string_view marker) {
    for (std::size_t at = text.find(marker); at != std::string_view::npos; at = text.find(marker, at + 1)) {
        const std::string id = IdAt(text, at + marker.size());
        if (IsChannelId(id)) return id;
    }
    return {};
}

bool IsYouTube(const PageFacts& facts, const std::string& pageUrl) {
    const std::string host = AsciiLower(HostOf(pageUrl));
    return host == "youtube.com" || (host.size() > 12 && host.compare(host.size() - 12, 12, ".youtube.com") == 0) ||
           AsciiLower(facts.siteName) == "youtube";
}

// The channel a YouTube page belongs to, from the surest source down: its
// own address, the channel's meta data and canonical address, then the ids
// in the page's script data (the first "channelId" of a video page is the
// uploader's).
std::string YouTubeChannel(const PageFacts& facts, std::string_view html, const std::string& pageUrl) {
    std::string id = ChannelIdAfter(pageUrl, "/channel/");
    if (id.empty() && IsChannelId(facts.metaChannel)) id = facts.metaChannel;
    for (const std::string& address : facts.addresses)
        if (id.empty()) id = ChannelIdAfter(address, "/channel/");
    if (id.empty()) id = ChannelIdAfter(html, "\"externalId\":\"");
    if (id.empty()) id = ChannelIdAfter(html, "\"channelId\":\"");
    return id;
}

std::string YouTubePlaylist(const std::string& pageUrl) {
    const std::string_view url(pageUrl);
    const auto query = url.find('?');
    if (query == std::string_view::npos) return {};
    for (std::size_t at = url.find("list=", query); at != std::string_view::npos; at = url.find("list=", at + 1))
        if (url[at - 1] == '?' || url[at - 1] == '&') return IdAt(url, at + 5);
    return {};
}

// "Channel name - YouTube" names the channel.
std::string YouTubeTitle(const PageFacts& facts) {
    std::string title = facts.title;
    if (const auto suffix = title.rfind(" - YouTube"); suffix != std::string::npos && suffix + 10 == title.size())
        title.resize(suffix);
    return title;
}

std::vector<TFeedCandidate> YouTubeFeeds(const PageFacts& facts, std::string_view html, const std::string& pageUrl) {
    const std::string title = YouTubeTitle(facts);
    std::vector<TFeedCandidate> feeds;
    if (const std::string playlist = YouTubePlaylist(pageUrl); !playlist.empty())
        feeds.push_back({std::string(kYouTubeFeeds) + "?playlist_id=" + playlist, title, "application/atom+xml"});
    if (const std::string channel = YouTubeChannel(facts, html, pageUrl); !channel.empty())
        feeds.push_back({std::string(kYouTubeFeeds) + "?channel_id=" + channel, title, "application/atom+xml"});
    return feeds;
}

}  // namespace

std::string PageEncoding(std::string_view html, std::string_view contentType) {
    if (html.substr(0, 3) == "\xEF\xBB\xBF") return "UTF-8";
    if (html.substr(0, 2) == "\xFF\xFE") return "UTF-16LE";
    if (html.substr(0, 2) == "\xFE\xFF") return "UTF-16BE";
    if (std::string name = CharsetIn(contentType); !name.empty() && IsKnownEncoding(name)) return name;
    // A declaration read from the bytes cannot be UTF-16: the bytes would not
    // have spelled it in ASCII. Browsers read such pages as UTF-8.
    if (std::string name = CharsetIn(html.substr(0, 1024)); !name.empty() && IsKnownEncoding(name))
        return name.rfind("utf-16", 0) == 0 ? "UTF-8" : name;
    return IsValidUtf8(html) ? "UTF-8" : "windows-1252";
}

TPageFeeds ReadPageFeeds(std::string_view html, const std::string& pageUrl, std::string_view contentType) {
    TPageFeeds result;
    const PageFacts facts = ReadFacts(html, contentType);
    result.YouTube = IsYouTube(facts, pageUrl);
    result.Feeds = LinkedFeeds(facts, pageUrl);
    Rank(result.Feeds);
    if (result.YouTube) {
        // Its feed link says only "RSS"; the channel's name says more.
        for (TFeedCandidate& feed : result.Feeds)
            if (AsciiLower(feed.Title) == "rss" && !facts.title.empty()) feed.Title = YouTubeTitle(facts);
        if (result.Feeds.empty()) result.Feeds = YouTubeFeeds(facts, html, pageUrl);
    }
    return result;
}

}  // namespace discover
