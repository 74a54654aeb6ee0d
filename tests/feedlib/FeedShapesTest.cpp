// The shapes feeds take today, one fixture each: what the reader makes of
// each, and that its stored copy reads back to the same model.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FeedDocument.h"
#include "FeedTestSupport.h"

using namespace feed;
using feedtest::At;
using feedtest::Fixture;

namespace {

// The instant of an item's date as "2026-12-08T14:30:00Z", "" when the
// feed gave none.
std::string InstantOf(const TRFC822DateTime& date) {
    return date.Modified() ? plat::FormatISO8601(date.UTC()) + "Z" : "";
}

struct Shape {
    const char* fixture;
    TXMLType type;
    const char* channelTitle;
    const char* channelLink;
    int items;
    // The first item.
    const char* title;
    const char* link;
    const char* date;  // its instant, "" for none
    const char* body;  // a piece of the body a reader is shown
    const char* author;
    const char* enclosure;  // "url type length", "" for none
};

const Shape kShapes[] = {
    {"rss_wordpress_content_encoded.xml", xtRSS, "A WordPress Blog", "https://blog.example.org", 2,
     "Long post \xE2\x80\x93 part one", "https://blog.example.org/2026/12/long-post/", "2026-12-07T14:30:00Z",
     "Paragraph two, with <a href", "Jane Writer", ""},
    {"atom10_links_xhtml_and_base.xml", xtAtom, "Example & Co Blog", "http://example.org/blog/", 3, "An xhtml title",
     "http://example.org/blog/posts/1.html", "2026-12-07T08:00:00Z", "<p>First <strong>post</strong>, in full.</p>",
     "Alice", "http://example.org/blog/audio/episode1.mp3 audio/mpeg 1234567"},
    {"rss_podcast_enclosure_without_length.xml", xtRSS, "The Example Podcast", "https://podcast.example.org/", 3,
     "Episode 2: No length", "", "2026-12-08T10:00:00Z", "", "", "https://cdn.example.org/ep2.mp3 audio/mpeg 0"},
    {"atom10_prefixed_root.xml", xtAtom, "Prefixed Atom", "http://prefixed.example.org/", 1, "Prefixed entry",
     "http://prefixed.example.org/1", "2026-11-30T23:00:00Z", "<p>Hello</p>", "", ""},
    {"rss_newline_before_xml_declaration.xml", xtRSS, "Newline first", "http://newline.example.org/", 1, "Still read",
     "", "2026-12-08T10:00:00Z", "", "", ""},
    {"rss_byte_order_mark_and_newline.xml", xtRSS, "Byte order mark", "http://bom.example.org/", 1, "Read too", "", "",
     "", "", ""},
    {"rss_dates_in_each_zone_form.xml", xtRSS, "Dates", "http://dates.example.org/", 12, "GMT", "",
     "2026-12-08T14:30:00Z", "", "", ""},
    {"rss_image_missing_url.xml", xtRSS, "Image without url", "http://image.example.org/", 1,
     "The items are still read", "http://image.example.org/1", "", "", "", ""},
    {"rss_mastodon_media_content.xml", xtRSS, "Alice (@alice@social.example)", "https://social.example/@alice", 1, "",
     "https://social.example/@alice/1", "2026-12-08T11:11:11Z", "<p>A post with a picture</p>", "",
     "https://files.social.example/1.png image/png 34567"},
    {"atom10_youtube_media_group.xml", xtAtom, "Example Channel", "https://www.youtube.com/channel/UCexample", 1,
     "A video & its title", "https://www.youtube.com/watch?v=abc123", "2026-12-07T18:00:05Z",
     "What the video is about.", "Example Channel",
     "https://www.youtube.com/v/abc123?version=3 application/x-shockwave-flash 0"},
    {"rdf_netscape_rss09.xml", xtRDF, "Mozilla Dot Org", "http://www.mozilla.org", 2, "New Status Updates",
     "http://www.mozilla.org/status/", "", "", "", ""},
    {"rdf_arxiv_dublin_core.xml", xtRDF, "cs updates on arXiv", "http://arxiv.example.org/", 1,
     "A Paper on Feeds. (arXiv:2612.00001v1 [cs.IR])", "http://arxiv.example.org/abs/2612.00001",
     "2026-12-08T00:00:00Z", "<p>We study feeds.</p>", " <a href=\"http://arxiv.example.org/a/one\">A. One</a>, B. Two",
     ""},
    {"rss_default_namespace.xml", xtRSS, "Namespaced RSS", "http://ns.example.org/", 1, "In the namespace",
     "http://ns.example.org/1", "2026-12-08T13:30:00Z", "", "", ""},
    {"rss_prefixed_userland_namespace.xml", xtRSS, "Prefixed RSS", "http://prefixed-rss.example.org/", 2,
     "First prefixed item", "http://prefixed-rss.example.org/1", "2026-12-08T08:15:00Z", "<p>The whole first post</p>",
     "Petra Prefix", "http://prefixed-rss.example.org/1.jpg image/jpeg 2048"},
    {"rdf_prefixed_rss10_namespace.xml", xtRDF, "Prefixed RDF", "http://prefixed-rdf.example.org/", 1,
     "Prefixed RDF item", "http://prefixed-rdf.example.org/1", "2026-12-08T05:00:00Z", "<p>Read in full</p>",
     "Rita RDF", ""},
    {"json10_microblog.json", xtJSON, "Mia Micro", "https://mia.micro.example/", 2, "",
     "https://mia.micro.example/2026/12/08/coffee.html", "2026-12-08T14:41:23Z", "Coffee &amp; a <a href", "Mia Micro",
     ""},
    {"json11_microblog.json", xtJSON, "Mia Micro", "https://mia.micro.example/", 1, "",
     "https://mia.micro.example/2026/12/08/photo.html", "2026-12-08T07:05:00Z", "<p>Snow on the hills.</p> <img",
     "Mia Micro", "https://mia.micro.example/uploads/2026/snow.jpg image/* 0"},
    {"json11_wordpress_plugin.json", xtJSON, "A WordPress Blog", "https://blog.example.org", 2,
     "Long post \xE2\x80\x93 part one", "https://blog.example.org/2026/12/long-post/", "2026-12-07T14:30:00Z",
     "Paragraph two, with <a href", "Jane Writer",
     "https://blog.example.org/wp-content/uploads/2026/12/header.jpg image/* 0"},
    {"json11_hugo_text_only.json", xtJSON, "Notes from the Garden", "https://garden.example.net/", 2,
     "Tomatoes <& peppers>", "https://garden.example.net/notes/tomatoes/", "2026-04-12T17:00:00Z",
     "compost &lt; 1 part sand &amp; grit", "Sam Gardener", ""},
    {"json10_podcast_attachments.json", xtJSON, "The Example Podcast", "https://podcast.example.org/", 2,
     "Episode 42: Everything", "https://podcast.example.org/42", "2026-12-08T22:04:00Z", "<em>everything</em>",
     "Pat Host", "https://cdn.podcast.example.org/ep42.m4a audio/x-m4a 89970236"},
    {"atom10_reddit_html_content.xml", xtAtom, "Example", "https://www.reddit.example/r/example/", 1,
     "A post with & in its title", "https://www.reddit.example/r/example/comments/abc/a_post/", "2026-12-08T11:58:00Z",
     "<p>Text of the post</p>", "/u/someone", "https://b.thumbs.example/abc.jpg image/* 0"},
    {"atom10_xhtml_spaces_between_words.xml", xtAtom, "Words apart", "http://words.example.org/", 1, "Bold italic",
     "http://words.example.org/1", "2026-12-08T12:00:00Z", "<p><b>a</b> <i>b</i></p>", "", ""},
};

std::string EnclosureOf(const TRSSItem& item) {
    if (!item.Enclosure().Include()) return "";
    return item.Enclosure().URL() + " " + item.Enclosure().EnclosureType() + " " +
           std::to_string(item.Enclosure().Length());
}

// Everything the model holds for a reader, as one comparable text.
std::string Describe(const TFeedDocument& doc) {
    const TRSSChannel& channel = doc.Channel();
    std::string out = channel.Required().Title() + "\n" + channel.Required().Link() + "\n" + channel.Required().Desc() +
                      "\n" + InstantOf(channel.Optional().PubDate()) + " " + channel.Optional().PubDate().TimeZone() +
                      "\nimage " +
                      (channel.Optional().Image().Include() ? channel.Optional().Image().Required().URL() : "-") + "\n";
    for (int i = 0; i < doc.Items().Count(); ++i) {
        const TRSSItem& item = doc.Items()[i];
        if (!item.TitleModified() && !item.DescriptionModified()) continue;  // not stored
        out += "item " + item.Title() + "\n  link " + item.Link() + "\n  description " + item.Description() +
               "\n  content " + item.Content() + "\n  author " + item.Author().Name + "\n  date " +
               InstantOf(item.PubDate()) + " " + (item.PubDate().Modified() ? item.PubDate().TimeZone() : "") +
               "\n  enclosure " + EnclosureOf(item) + "\n  guid " + item.GUID().GUID() + "\n  comments " +
               item.Comments() + "\n";
        for (int c = 0; c < item.Categories().Count(); ++c)
            out += "  category " + item.Categories()[c].Title() + " " + item.Categories()[c].Domain() + "\n";
    }
    return out;
}

}  // namespace

TEST(FeedShapes, EachShapeReadsAsAReaderExpects) {
    for (const Shape& s : kShapes) {
        SCOPED_TRACE(s.fixture);
        TFeedDocument doc;
        ASSERT_EQ(feedtest::LoadError(doc, Fixture(s.fixture)), "");
        EXPECT_EQ(doc.XMLType(), s.type);
        EXPECT_EQ(doc.Channel().Required().Title(), s.channelTitle);
        EXPECT_EQ(doc.Channel().Required().Link(), s.channelLink);
        ASSERT_EQ(doc.Items().Count(), s.items);
        const TRSSItem& first = doc.Items()[0];
        EXPECT_EQ(first.Title(), s.title);
        EXPECT_EQ(first.Link(), s.link);
        EXPECT_EQ(InstantOf(first.PubDate()), s.date);
        EXPECT_NE(first.Body().find(s.body), std::string::npos) << first.Body();
        EXPECT_EQ(first.Author().Name, s.author);
        EXPECT_EQ(EnclosureOf(first), s.enclosure);
    }
}

// The stored copy is what the next update compares with and what the page
// shows: it must read back to the same model, whatever the source was.
TEST(FeedShapes, StoredCopiesReloadToTheSameModel) {
    feedtest::TempDir dir;
    for (const Shape& s : kShapes) {
        SCOPED_TRACE(s.fixture);
        TFeedDocument original;
        original.LoadFromString(Fixture(s.fixture));
        original.SetXSLFileName("../rss.xsl");
        original.SaveToFile(dir.File("copy.xml"));
        TFeedDocument copy;
        ASSERT_EQ(feedtest::LoadError(copy, feedtest::ReadFile(dir.File("copy.xml"))), "");
        EXPECT_EQ(Describe(copy), Describe(original)) << feedtest::ReadFile(dir.File("copy.xml"));
    }
}

TEST(FeedShapes, WordPressBodyAndExcerptAreBothKept) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss_wordpress_content_encoded.xml"));
    const TRSSItem& post = doc.Items()[0];
    EXPECT_EQ(post.Description(), "The short excerpt of the post [&#8230;]");
    EXPECT_EQ(post.Content().rfind("<p>The whole post", 0), 0u);
    EXPECT_EQ(post.Body(), post.Content());
    // Without a description the body is the description, stored once.
    const TRSSItem& bodyOnly = doc.Items()[1];
    EXPECT_EQ(bodyOnly.Description(), "<p>Body without a description.</p>");
    EXPECT_EQ(bodyOnly.Content(), "");
    // RSS's own author comes first; dc:creator only fills a gap.
    EXPECT_EQ(bodyOnly.Author().Name, "sam@example.org (Sam)");
    EXPECT_EQ(bodyOnly.PubDate().TimeZone(), "PST");
    EXPECT_EQ(InstantOf(bodyOnly.PubDate()), "2026-12-06T16:00:00Z");

    doc.GenerateXML();
    const std::string stored = doc.XMLFile().SaveToString();
    EXPECT_NE(stored.find("xmlns:content=\"http://purl.org/rss/1.0/modules/content/\""), std::string::npos);
    EXPECT_NE(stored.find("<content:encoded>&lt;p&gt;The whole post"), std::string::npos) << stored;
    EXPECT_NE(stored.find("<author>Jane Writer</author>"), std::string::npos);
    EXPECT_NE(stored.find("<pubDate>Sun, 06 Dec 2026 08:00:00 PST</pubDate>"), std::string::npos);
}

TEST(FeedShapes, Atom10FeedAndEntries) {
    TFeedDocument doc;
    doc.SetDocumentURL("http://ignored.example.com/feed");  // xml:base wins over the download address
    doc.LoadFromString(Fixture("atom10_links_xhtml_and_base.xml"));
    const TRSSChannel& channel = doc.Channel();
    EXPECT_EQ(channel.Required().Desc(), "Notes on everything");
    EXPECT_EQ(channel.Optional().Copyright(), "\xC2\xA9 2026 Example");
    EXPECT_EQ(channel.Optional().Generator(), "Hugo");
    EXPECT_EQ(channel.Optional().Language(), langEN);
    EXPECT_EQ(InstantOf(channel.Optional().PubDate()), "2026-12-07T09:20:30Z");
    EXPECT_TRUE(channel.Optional().Image().Include());
    EXPECT_EQ(channel.Optional().Image().Required().URL(), "http://example.org/images/logo.png");

    const TRSSItem& first = doc.Items()[0];
    EXPECT_EQ(first.Description(), "The summary of the first post.");
    EXPECT_EQ(first.Content(),
              "<p>First <strong>post</strong>, in full.</p><p><img src=\"pic.png\" alt=\"a picture\" /><br />Last "
              "line &amp; more.</p>");
    EXPECT_EQ(first.ContentType(), ctXHTML);
    EXPECT_EQ(first.Comments(), "http://example.org/blog/posts/1.html#comments");
    EXPECT_EQ(first.Author().EMail, "alice@example.org");
    EXPECT_EQ(first.Author().URL, "http://example.org/alice");
    EXPECT_EQ(first.GUID().GUID(), "tag:example.org,2026:1");
    EXPECT_FALSE(first.GUID().IsPermaLink());
    ASSERT_EQ(first.Categories().Count(), 2);
    EXPECT_EQ(first.Categories()[0].Title(), "notes");
    EXPECT_EQ(first.Categories()[0].Domain(), "http://example.org/tags");

    const TRSSItem& summaryOnly = doc.Items()[1];
    EXPECT_EQ(summaryOnly.Link(), "http://other.example.net/b/two");
    EXPECT_EQ(summaryOnly.Description(), "<p>Only a <em>summary</em>.</p>");
    EXPECT_EQ(InstantOf(summaryOnly.PubDate()), "2026-12-06T23:59:59Z");
    EXPECT_EQ(summaryOnly.Author().Name, "Feed Author");  // inherited from the feed

    const TRSSItem& elsewhere = doc.Items()[2];
    EXPECT_EQ(elsewhere.Link(), "http://example.org/elsewhere/3");
    EXPECT_FALSE(elsewhere.DescriptionModified());
    EXPECT_EQ(elsewhere.PubDate().TimeZone(), "-0500");
}

// Inline XHTML is markup a browser lays out: the blank between two
// elements is the space between two words and must survive the load.
TEST(FeedShapes, XhtmlKeepsTheSpacesBetweenWords) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("atom10_xhtml_spaces_between_words.xml"));
    EXPECT_EQ(doc.Channel().Required().Title(), "Words apart");
    const TRSSItem& entry = doc.Items()[0];
    EXPECT_EQ(entry.Title(), "Bold italic") << "an indented xhtml title reads as one line";
    EXPECT_EQ(entry.Description(), "<a href=\"/a\">one</a> <a href=\"/b\">two</a>");
    EXPECT_EQ(entry.Content(), "<p><b>a</b> <i>b</i></p><p>Text <code>x</code> <em>z</em></p>");
}

TEST(FeedShapes, RelativeLinksResolveAgainstTheDownloadAddress) {
    const std::string text =
        "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>t</title><link href=\"/home\"/>"
        "<entry><title>e</title><link href=\"../posts/1\"/></entry></feed>";
    TFeedDocument doc;
    doc.SetDocumentURL("https://site.example/blog/feed.xml");
    doc.LoadFromString(text);
    EXPECT_EQ(doc.Channel().Required().Link(), "https://site.example/home");
    EXPECT_EQ(doc.Items()[0].Link(), "https://site.example/posts/1");
    // An unreadable publication date gives way to the update date.
    TFeedDocument dated;
    dated.LoadFromString(
        "<feed xmlns=\"http://www.w3.org/2005/Atom\"><entry><title>e</title>"
        "<published>soon</published><updated>2026-12-08T10:00:00+01:00</updated></entry></feed>");
    EXPECT_EQ(InstantOf(dated.Items()[0].PubDate()), "2026-12-08T09:00:00Z");
    // Unknown address: kept as written.
    TFeedDocument unknown;
    unknown.LoadFromString(text);
    EXPECT_EQ(unknown.Items()[0].Link(), "../posts/1");
}

TEST(FeedShapes, DatesInEachZoneFormKeepTheirInstant) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss_dates_in_each_zone_form.xml"));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"GMT", "2026-12-08T14:30:00Z GMT"},
        {"UT", "2026-12-08T14:30:00Z UT"},
        {"Z", "2026-12-08T14:30:00Z Z"},
        {"PST", "2026-12-08T14:30:00Z PST"},
        {"EDT", "2026-12-08T14:30:00Z EDT"},
        {"-0700", "2026-12-08T14:30:00Z -0700"},
        {"+0530", "2026-12-08T14:30:00Z +0530"},
        {"two-digit year", "2026-12-08T14:30:00Z GMT"},
        {"ISO offset", "2026-12-08T14:30:00Z +0100"},
        {"dc:date", "2026-12-08T14:30:00Z Z"},
        {"unreadable", " "},
        {"missing", " "},
    };
    ASSERT_EQ(doc.Items().Count(), static_cast<int>(expected.size()));
    for (int i = 0; i < doc.Items().Count(); ++i) {
        const TRSSItem& item = doc.Items()[i];
        EXPECT_EQ(item.Title(), expected[static_cast<std::size_t>(i)].first);
        EXPECT_EQ(InstantOf(item.PubDate()) + " " + (item.PubDate().Modified() ? item.PubDate().TimeZone() : ""),
                  expected[static_cast<std::size_t>(i)].second)
            << item.Title();
    }
    // Neither an unreadable nor a missing date reaches the stored copy.
    doc.GenerateXML();
    const std::string stored = doc.XMLFile().SaveToString();
    EXPECT_EQ(stored.find("1899"), std::string::npos);
    EXPECT_EQ(stored.find("sometime"), std::string::npos);
    EXPECT_NE(stored.find("Tue, 08 Dec 2026 15:30:00 +0100"), std::string::npos) << stored;
}

// Documents of the earlier formats read as they always did.
TEST(FeedShapes, OldFormatsGiveTheSameModel) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("atom03_feed.xml"));
    EXPECT_EQ(doc.Channel().Required().Link(), "http://example.org/post");  // the last link, whatever its rel
    EXPECT_EQ(doc.Items()[0].Link(), "http://example.org/edit/1");          // the first link, whatever its rel
    EXPECT_FALSE(doc.Items()[2].DescriptionModified());                     // summary is not read in 0.3
    EXPECT_EQ(doc.Items()[0].Content(), "");
}
