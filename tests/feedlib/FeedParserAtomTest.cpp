#include <string>

#include <gtest/gtest.h>

#include "FeedDocument.h"
#include "FeedTestSupport.h"

using namespace feed;
using feedtest::At;
using feedtest::Fixture;

namespace {

std::string Atom(const std::string& content) { return "<feed version=\"0.3\">" + content + "</feed>"; }

}  // namespace

TEST(AtomParser, Feed03) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("atom03_feed.xml"));
    EXPECT_EQ(doc.XMLType(), xtAtom);
    EXPECT_EQ(doc.Version(), "0.3");
    const TRSSChannel& channel = doc.Channel();
    EXPECT_EQ(channel.Required().Title(), "Atom News");
    // Every link with an href counts: the last one wins.
    EXPECT_EQ(channel.Required().Link(), "http://example.org/post");
    EXPECT_EQ(channel.Required().Desc(), "All the news");
    EXPECT_EQ(channel.Optional().Generator(), "Generator Text");
    EXPECT_DOUBLE_EQ(channel.Optional().PubDate().DateTime(), At(2004, 5, 1, 10, 20, 30));
    EXPECT_EQ(channel.Optional().PubDate().TimeZone(), "Z");
    EXPECT_FALSE(channel.Optional().LastBuildDate().Modified());

    ASSERT_EQ(doc.Items().Count(), 4);
    const TRSSItem& first = doc.Items()[0];
    EXPECT_EQ(first.Title(), "First");
    EXPECT_EQ(first.Link(), "http://example.org/edit/1");  // the first link, whatever its rel
    EXPECT_TRUE(first.GUID().Include());
    EXPECT_EQ(first.GUID().GUID(), "tag:example.org,2004:1");
    EXPECT_FALSE(first.GUID().IsPermaLink());
    EXPECT_DOUBLE_EQ(first.PubDate().DateTime(), At(2004, 5, 1, 10, 20, 30));
    EXPECT_EQ(first.Author().Name, "Alice");
    EXPECT_EQ(first.Author().EMail, "alice@example.org");
    EXPECT_EQ(first.Author().URL, "");
    EXPECT_EQ(first.Description(), "<p>Hello &amp; welcome</p>");
    EXPECT_EQ(first.ContentType(), ctText);

    const TRSSItem& second = doc.Items()[1];
    EXPECT_EQ(second.Description(), "Hello, world!");
    EXPECT_EQ(second.Link(), "");
    // issued is not read: the creation time stays, unmodified.
    EXPECT_FALSE(second.PubDate().Modified());

    EXPECT_FALSE(doc.Items()[2].DescriptionModified());  // summary is not read
    EXPECT_EQ(doc.Items()[3].Description(), "<p>CDATA</p>");
}

TEST(AtomParser, InlineMarkupContentFails) {
    TFeedDocument doc;
    // It no longer fails: inline markup is the body, whole.
    ASSERT_EQ(feedtest::LoadError(doc, Fixture("atom_content_inline_markup.xml")), "");
    EXPECT_NE(doc.Items()[0].Description().find("</p>"), std::string::npos);
    doc.LoadFromString(Atom("<entry><content mode=\"xml\"><p>para</p><p>more</p></content></entry>"));
    EXPECT_EQ(doc.Items()[0].Description(), "<p>para</p><p>more</p>");
}

TEST(AtomParser, ContentModes) {
    struct Case {
        const char* content;
        std::string description;
    };
    const Case cases[] = {
        {"<content mode=\"base64\">PGI+aGk8L2I+</content>", "<b>hi</b>"},
        {"<content mode=\"Base64\">PGI+aGk8L2I+</content>", "PGI+aGk8L2I+"},
        {"<content mode=\"escaped\">&lt;b&gt;hi&lt;/b&gt;</content>", "<b>hi</b>"},
        {"<content>plain</content>", "plain"},
        {"<content/>", ""},
        {"<content mode=\"base64\"/>", ""},
        {"<content mode=\"base64\"><![CDATA[aGk=]]></content>", "hi"},
    };
    for (const Case& c : cases) {
        TFeedDocument doc;
        doc.LoadFromString(Atom(std::string("<entry>") + c.content + "</entry>"));
        EXPECT_EQ(doc.Items()[0].Description(), c.description) << c.content;
    }
}

TEST(AtomParser, LinksWithoutHref) {
    TFeedDocument doc;
    doc.LoadFromString(
        Atom("<link href=\"http://a/\"/><link rel=\"x\"/>"
             "<entry><link rel=\"alternate\"/><link href=\"http://b/\"/></entry>"));
    EXPECT_EQ(doc.Channel().Required().Link(), "http://a/");
    // Only the first entry link is looked at.
    EXPECT_EQ(doc.Items()[0].Link(), "");
}

TEST(AtomParser, EntryDatesAndFields) {
    TFeedDocument doc;
    doc.LoadFromString(
        Atom("<entry><modified>2004-05-01T10:20:30Z</modified>"
             "<pubDate>Sun, 02 May 2004 08:00:00 GMT</pubDate>"
             "<enclosure url=\"u\" length=\"5\" type=\"t\"/><source url=\"s\">S</source>"
             "<category domain=\"d\">c</category><comments>cm</comments></entry>"
             "<language>fr</language><ttl>20</ttl><rating>r</rating>"
             "<skipHours><hour>5</hour></skipHours>"));
    const TRSSItem& item = doc.Items()[0];
    EXPECT_DOUBLE_EQ(item.PubDate().DateTime(), At(2004, 5, 2, 8));  // pubDate replaces modified
    EXPECT_EQ(item.PubDate().TimeZone(), "GMT");                     // with its own zone
    EXPECT_EQ(item.Enclosure().Length(), 5);
    EXPECT_EQ(item.Source().URL(), "s");
    EXPECT_EQ(item.Categories()[0].Domain(), "d");
    EXPECT_EQ(item.Comments(), "cm");
    const TRSSChannelOpt& opt = doc.Channel().Optional();
    EXPECT_EQ(opt.Language(), langFR);
    EXPECT_EQ(opt.TTL(), 20);
    EXPECT_EQ(opt.Rating(), "r");
    EXPECT_TRUE(opt.SkipHours().h05());
}

TEST(AtomParser, HeadAndEntriesBesideIt) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("atom_head_with_entries_beside.xml"));
    EXPECT_EQ(doc.Channel().Required().Title(), "Head title");
    EXPECT_EQ(doc.Channel().Required().Link(), "http://example.org/");
    EXPECT_EQ(doc.Channel().Required().Desc(), "From the head");
    EXPECT_EQ(doc.Channel().Optional().Language(), langDE);
    ASSERT_EQ(doc.Items().Count(), 2);
    EXPECT_EQ(doc.Items()[0].Title(), "Beside the head");
    EXPECT_EQ(doc.Items()[1].Title(), "Second beside");
}

TEST(AtomParser, Atom10DefaultNamespaceIsRead) {
    TFeedDocument doc;
    doc.LoadFromString(
        "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Ten</title>"
        "<link href=\"http://example.org/\"/><entry><title>e</title><id>urn:1</id></entry></feed>");
    EXPECT_EQ(doc.Channel().Required().Title(), "Ten");
    ASSERT_EQ(doc.Items().Count(), 1);
    EXPECT_EQ(doc.Items()[0].GUID().GUID(), "urn:1");
}

TEST(AtomParser, Failures) {
    // None of these fails any more: each costs only its own element.
    TFeedDocument doc;
    doc.LoadFromString(Atom("<title type=\"xhtml\"><div>x</div><div>y</div></title>"));
    EXPECT_EQ(doc.Channel().Required().Title(), "xy");
    doc.LoadFromString(Atom("<ttl>soon</ttl>"));
    EXPECT_FALSE(doc.Channel().Optional().TTLModified());
    doc.LoadFromString(Atom("<entry><enclosure url=\"u\"/></entry>"));
    EXPECT_EQ(doc.Items()[0].Enclosure().Length(), 0);
    doc.LoadFromString(Atom("<image><url>u</url></image>"));
    EXPECT_FALSE(doc.Channel().Optional().Image().Include());
}
