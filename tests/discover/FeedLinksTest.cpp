#include "FeedLinks.h"
#include "FixtureFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using discover::FindFeedLinks;
using discover::TFeedCandidate;

namespace {

std::string Page(const std::string& name) {
    return testsupport::ReadFixtureFile(std::string(DISCOVER_TEST_DATA) + "/" + name);
}

constexpr const char* kRss = "application/rss+xml";
constexpr const char* kAtom = "application/atom+xml";

}  // namespace

// Each shape of page, with the feeds it must give, best first.
TEST(FindFeedLinks, GivesTheFeedsEachPageNamesBestFirst) {
    const struct {
        const char* name;
        std::string html;
        std::string pageUrl;
        std::string contentType;
        std::vector<TFeedCandidate> feeds;
    } cases[] = {
        {"WordPress home: posts, then comments; REST and oEmbed links are not feeds",
         Page("wordpress_home.html"),
         "https://harbour.example/",
         "",
         {{"https://harbour.example/feed/", "Quiet Harbour \xC2\xBB Feed", kRss},
          {"https://harbour.example/comments/feed/", "Quiet Harbour \xC2\xBB Comments Feed", kRss}}},
        {"WordPress post: the post's comments come last whatever the page's order",
         Page("wordpress_post.html"),
         "https://harbour.example/2024/05/low-tide/",
         "",
         {{"https://harbour.example/feed/", "Quiet Harbour \xC2\xBB Feed", kRss},
          {"https://harbour.example/comments/feed/", "Quiet Harbour \xC2\xBB Comments Feed", kRss},
          {"https://harbour.example/2024/05/low-tide/feed/", "Quiet Harbour \xC2\xBB Low tide Comments Feed", kRss}}},
        {"Blogger: Atom and RSS of the posts; service.post is no feed; a post's comments last",
         Page("blogger.html"),
         "https://fernmoss.blogspot.example/",
         "",
         {{"https://fernmoss.blogspot.example/feeds/posts/default", "Fern & Moss - Atom", kAtom},
          {"https://fernmoss.blogspot.example/feeds/posts/default?alt=rss", "Fern & Moss - RSS", kRss},
          {"https://fernmoss.blogspot.example/feeds/8123/comments/default", "Fern & Moss - Atom", kAtom}}},
        {"relative addresses under <base>, attributes in any case and spacing",
         Page("base_relative.html"),
         "http://origin.example/index.html",
         "",
         {{"https://cdn.example/site/news/atom.xml", "News in Atom", kAtom},
          {"https://cdn.example/site/pages/rss.xml?a=1&b=2", "News in RSS", kRss}}},
        {"one address listed once, however spelt; rel=feed; a link after the head",
         Page("duplicate_feed.html"),
         "http://twice.example/",
         "",
         {{"http://twice.example/feed.xml", "Posts", kRss},
          {"http://twice.example/feed.json", "Posts as JSON", ""},
          {"http://twice.example/atom.xml", "Late link", kAtom}}},
        {"scheme and host in any case, the default port and a fragment name the same feed",
         "<link rel=alternate type=application/rss+xml href=/f><link rel=alternate type=application/rss+xml "
         "href='HTTP://Twice.Example:80/f#top'>",
         "http://twice.example/",
         "",
         {{"http://twice.example/f", "", kRss}}},
        {"UTF-16 page with a byte order mark",
         Page("utf16le.html"),
         "http://cafe.example/a/",
         "",
         {{"http://cafe.example/flux.xml", "Caf\xC3\xA9 \xE2\x80\x93 Flux RSS", kRss}}},
        {"Latin-1 named in a meta element",
         Page("latin1_meta.html"),
         "http://cafe.example/",
         "",
         {{"http://cafe.example/rss", "Caf\xC3\xA9 RSS", kRss}}},
        {"Latin-1 named only in the Content-Type header",
         "<link rel=alternate type=application/rss+xml title='Caf\xE9' href=/r>",
         "http://cafe.example/",
         "text/html; charset=ISO-8859-1",
         {{"http://cafe.example/r", "Caf\xC3\xA9", kRss}}},
        {"a link without a title takes the page's",
         "<title>Home</title><link rel=alternate type=application/json href=/feed>",
         "http://h.example/x",
         "",
         {{"http://h.example/feed", "Home", "application/json"}}},
        {"YouTube channel without a feed link: its channel id",
         Page("youtube_channel.html"),
         "http://127.0.0.1:1/@tidalworkshop",
         "",
         {{"https://www.youtube.com/feeds/videos.xml?channel_id=UCabcdefghijklmnopqrstuv", "Tidal Workshop", kAtom}}},
        {"YouTube channel address carries the id",
         "<title>X - YouTube</title>",
         "https://www.youtube.com/channel/UC0123456789abcdefghijkl/videos",
         "",
         {{"https://www.youtube.com/feeds/videos.xml?channel_id=UC0123456789abcdefghijkl", "X", kAtom}}},
        {"YouTube channel id in a meta element",
         "<meta itemprop=channelId content=UCzyxwvutsrqponmlkjihgfe><title>Y - YouTube</title>",
         "https://m.youtube.com/user/y",
         "",
         {{"https://www.youtube.com/feeds/videos.xml?channel_id=UCzyxwvutsrqponmlkjihgfe", "Y", kAtom}}},
        {"YouTube playlist",
         "<title>Mix - YouTube</title>",
         "https://www.youtube.com/playlist?list=PLq_9-AbC",
         "",
         {{"https://www.youtube.com/feeds/videos.xml?playlist_id=PLq_9-AbC", "Mix", kAtom}}},
        {"YouTube's own feed link is kept and named after the channel",
         "<title>Z - YouTube</title><link rel=alternate type=application/rss+xml title=RSS "
         "href='https://www.youtube.com/feeds/videos.xml?channel_id=UCaaaaaaaaaaaaaaaaaaaaaa'>",
         "https://www.youtube.com/@z",
         "",
         {{"https://www.youtube.com/feeds/videos.xml?channel_id=UCaaaaaaaaaaaaaaaaaaaaaa", "Z", kRss}}},
        {"a channel id elsewhere than YouTube means nothing",
         "<script>{\"channelId\":\"UCabcdefghijklmnopqrstuv\"}</script>",
         "http://other.example/",
         "",
         {}},
        {"no links at all", Page("no_links.html"), "http://plain.example/", "", {}},
        {"not HTML at all", std::string("\x00\x01\x02garbage", 10), "http://plain.example/", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FindFeedLinks(c.html, c.pageUrl, c.contentType), c.feeds);
    }
}

TEST(PageEncoding, PrefersTheByteOrderMarkThenTheHeaderThenThePage) {
    const struct {
        std::string html;
        const char* contentType;
        const char* encoding;
    } cases[] = {
        {"\xFF\xFE<\0h\0", "text/html; charset=iso-8859-1", "UTF-16LE"},
        {"\xFE\xFF\0<\0h", "", "UTF-16BE"},
        {"\xEF\xBB\xBF<p>", "text/html; charset=iso-8859-1", "UTF-8"},
        {"<meta charset=utf-8>", "text/html;charset=\"windows-1252\"", "windows-1252"},
        {"<meta charset='koi8-r'>", "text/html", "koi8-r"},
        {"<meta charset=utf-16>", "", "UTF-8"},
        {"<meta charset=no-such-thing><p>caf\xE9", "text/html; charset=bogus", "windows-1252"},
        {"<p>caf\xC3\xA9", "", "UTF-8"},
        {"<p>caf\xE9", "", "windows-1252"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.html);
        EXPECT_EQ(discover::PageEncoding(c.html, c.contentType), c.encoding);
    }
}
