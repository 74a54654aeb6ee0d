#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Convert.h"
#include "FeedDocument.h"
#include "FeedTestSupport.h"

using namespace feed;
using feedtest::At;
using feedtest::Fixture;
using feedtest::IsRecent;

namespace {

// An RSS 2.0 document with the given channel content.
std::string Channel(const std::string& content) {
    return "<rss version=\"2.0\"><channel>" + content + "</channel></rss>";
}

std::string WithItem(const std::string& item) { return Channel("<title>t</title><item>" + item + "</item>"); }

}  // namespace

TEST(RSSParser, FullChannel) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss20_full_channel.xml"));
    const TRSSChannelReq& req = doc.Channel().Required();
    const TRSSChannelOpt& opt = doc.Channel().Optional();
    EXPECT_EQ(req.Title(), " News ");  // untrimmed; the capitalised Title is ignored
    EXPECT_EQ(req.Link(), "http://example.org/");
    EXPECT_EQ(req.Desc(), "<p>Daily <b>news</b></p>");
    EXPECT_EQ(opt.Language(), langEN_US);
    EXPECT_EQ(opt.XLang(), "");
    EXPECT_EQ(opt.Copyright(), "(c) 2004 Example");
    EXPECT_EQ(opt.ManagingEditor(), "editor@example.org");
    EXPECT_EQ(opt.WebMaster(), "web@example.org");
    EXPECT_DOUBLE_EQ(opt.PubDate().DateTime(), At(2004, 5, 1, 10, 20, 30));
    EXPECT_EQ(opt.PubDate().TimeZone(), "GMT");
    EXPECT_DOUBLE_EQ(opt.LastBuildDate().DateTime(), At(2004, 5, 2, 11));
    ASSERT_EQ(opt.Categories().Count(), 2);
    EXPECT_EQ(opt.Categories()[0].Category(), "Politics");
    EXPECT_EQ(opt.Categories()[0].Domain(), "http://example.org/cats");
    EXPECT_TRUE(opt.Categories()[0].DomainModified());
    EXPECT_FALSE(opt.Categories()[1].DomainModified());
    EXPECT_EQ(opt.Generator(), "Handwritten");
    EXPECT_EQ(opt.Docs(), "http://example.org/docs");
    EXPECT_TRUE(opt.Cloud().Include());
    EXPECT_EQ(opt.Cloud().Domain(), "rpc.example.org");
    EXPECT_EQ(opt.Cloud().Port(), 8080);
    EXPECT_EQ(opt.Cloud().Path(), "/RPC2");
    EXPECT_EQ(opt.Cloud().RegisterProcedure(), "notify");
    EXPECT_EQ(opt.Cloud().Protocol(), "xml-rpc");
    EXPECT_EQ(opt.TTL(), 30);
    EXPECT_TRUE(opt.Image().Include());
    EXPECT_EQ(opt.Image().Required().URL(), "http://example.org/logo.png");
    EXPECT_EQ(opt.Image().Optional().Description(), "The logo");
    EXPECT_EQ(opt.Image().Optional().Width(), 144);
    EXPECT_EQ(opt.Image().Optional().Height(), 400);
    EXPECT_EQ(opt.Rating(), "PICS");
    EXPECT_TRUE(opt.TextInput().Include());
    EXPECT_EQ(opt.TextInput().TextInputName(), "q");
    EXPECT_EQ(opt.TextInput().Link(), "http://example.org/search");
    EXPECT_TRUE(opt.SkipHours().h00());
    EXPECT_TRUE(opt.SkipHours().h23());
    EXPECT_FALSE(opt.SkipHours().h07());
    EXPECT_TRUE(opt.SkipDays().Saturday());
    EXPECT_FALSE(opt.SkipDays().Monday());

    ASSERT_EQ(doc.Items().Count(), 2);
    const TRSSItem& first = doc.Items()[0];
    EXPECT_EQ(first.Title(), "First");
    EXPECT_EQ(first.Link(), "http://example.org/1");
    EXPECT_EQ(first.Description(), "One");
    EXPECT_EQ(first.Author().Name, "alice@example.org");
    EXPECT_EQ(first.Author().EMail, "");
    EXPECT_FALSE(first.AuthorModified());
    EXPECT_EQ(first.Comments(), "http://example.org/1#comments");
    EXPECT_TRUE(first.Enclosure().Include());
    EXPECT_EQ(first.Enclosure().URL(), "http://example.org/1.mp3");
    EXPECT_EQ(first.Enclosure().Length(), 123);
    EXPECT_EQ(first.Enclosure().EnclosureType(), "audio/mpeg");
    EXPECT_TRUE(first.GUID().Include());
    EXPECT_TRUE(first.GUID().IsPermaLink());
    EXPECT_DOUBLE_EQ(first.PubDate().DateTime(), At(2004, 5, 1, 10, 20, 30));
    EXPECT_TRUE(first.Source().Include());
    EXPECT_EQ(first.Source().Title(), "Other");
    EXPECT_EQ(first.Source().URL(), "http://other.example.org/rss");
    // Categories are matched by local name, so dc:category counts too.
    ASSERT_EQ(first.Categories().Count(), 2);
    EXPECT_EQ(first.Categories()[0].Domain(), "d");
    EXPECT_EQ(first.Categories()[1].Title(), "B");
    EXPECT_EQ(first.ContentType(), ctText);
    EXPECT_FALSE(doc.Items()[1].GUID().IsPermaLink());
}

TEST(RSSParser, DescriptionPrecedence) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss_descriptions.xml"));
    const std::vector<std::string> expected = {
        "plain", "<p>encoded</p>", "content", "d", "<b>first</b>",
        "<p>Hello <a href=\"http://example.org\">world</a></p>", "",
    };
    ASSERT_EQ(doc.Items().Count(), static_cast<int>(expected.size()));
    for (int i = 0; i < doc.Items().Count(); ++i)
        EXPECT_EQ(doc.Items()[i].Description(), expected[i]) << doc.Items()[i].Title();
    EXPECT_FALSE(doc.Items()[6].DescriptionModified());
}

TEST(RSSParser, ChannelDescriptionWithMarkupFails) {
    EXPECT_EQ(feedtest::LoadError(Fixture("rss_channel_description_mixed.xml")),
              "Element does not contain a single text node");
}

TEST(RSSParser, ItemDates) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss_items_dates.xml"));
    ASSERT_EQ(doc.Items().Count(), 5);
    const TRSSItems& items = doc.Items();
    EXPECT_DOUBLE_EQ(items[0].PubDate().DateTime(), At(2004, 5, 1, 10, 20, 30));
    EXPECT_EQ(items[0].PubDate().TimeZone(), "GMT");
    // Undated items are dated by the time they were read; the stamp is not
    // marked as the feed's own date, so stored copies do not carry it.
    EXPECT_TRUE(IsRecent(items[1].PubDate().DateTime()));
    EXPECT_FALSE(items[1].PubDate().Modified());
    // A Dublin Core date is the item's date when there is no pubDate.
    EXPECT_DOUBLE_EQ(items[2].PubDate().DateTime(), At(2004, 5, 1, 10, 20, 30));
    EXPECT_EQ(items[2].PubDate().TimeZone(), "+02:00");
    EXPECT_DOUBLE_EQ(items[3].PubDate().DateTime(), At(2004, 5, 2, 8));
    EXPECT_EQ(items[4].PubDate().DateTime(), plat::kZeroDateTime);
}

TEST(RSSParser, GuidPermaLinkDefaultsToTrue) {
    struct Case {
        const char* guid;
        bool permaLink;
    };
    for (const Case& c : std::vector<Case>{{"<guid>g</guid>", true},
                                           {"<guid isPermaLink=\"true\">g</guid>", true},
                                           {"<guid isPermaLink=\"false\">g</guid>", false},
                                           {"<guid isPermaLink=\"True\">g</guid>", false},
                                           {"<guid isPermaLink=\"\">g</guid>", false}}) {
        TFeedDocument doc;
        doc.LoadFromString(WithItem(std::string("<title>a</title>") + c.guid));
        EXPECT_EQ(doc.Items()[0].GUID().IsPermaLink(), c.permaLink) << c.guid;
        EXPECT_EQ(doc.Items()[0].GUID().GUID(), "g");
    }
}

TEST(RSSParser, ChannelWithoutItemsStillReadsItsTexts) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss_no_items_no_categories.xml"));
    EXPECT_EQ(doc.Channel().Required().Title(), "Quiet");
    EXPECT_EQ(doc.Channel().Required().Link(), "http://example.org/quiet");
    EXPECT_EQ(doc.Channel().Required().Desc(), "Nothing posted yet");
    EXPECT_EQ(doc.Items().Count(), 0);

    doc.LoadFromString(Channel("<title>Cat</title><category>c</category>"));
    EXPECT_EQ(doc.Channel().Required().Title(), "Cat");
    EXPECT_EQ(doc.Channel().Optional().Categories().Count(), 1);
}

TEST(RSSParser, EmptyShapesGiveAnEmptyFeed) {
    for (const char* text : {"<rss/>", "<rss version=\"2.0\"><foo/></rss>", "<rss><channel/></rss>"}) {
        TFeedDocument doc;
        ASSERT_NO_THROW(doc.LoadFromString(text)) << text;
        EXPECT_EQ(doc.Channel().Required().Title(), "Title Required");
        EXPECT_EQ(doc.Items().Count(), 0);
    }
}

TEST(RSSParser, LanguageCodes) {
    struct Case {
        const char* code;
        TLanguages language;
        const char* xlang;
    };
    for (const Case& c : std::vector<Case>{{"en-us", langEN_US, ""}, {"en-US", langX, "en-US"},
                                           {"zh-cn", langX, "zh-cn"}, {"za-cn", langZH_CN, ""},
                                           {"", langX, ""}}) {
        TFeedDocument doc;
        doc.LoadFromString(Channel(std::string("<language>") + c.code + "</language><item/>"));
        EXPECT_EQ(doc.Channel().Optional().Language(), c.language) << c.code;
        EXPECT_EQ(doc.Channel().Optional().XLang(), c.xlang) << c.code;
    }
}

TEST(RSSParser, OptionalStructuresAndTheirPresence) {
    TFeedDocument doc;
    doc.LoadFromString(Channel("<cloud/><image/><textInput/><ttl>60</ttl><item><enclosure url=\"u\" type=\"t\" length=\"-4\"/></item>"));
    const TRSSChannelOpt& opt = doc.Channel().Optional();
    EXPECT_FALSE(opt.Cloud().Include());
    EXPECT_FALSE(opt.Image().Include());
    EXPECT_FALSE(opt.TextInput().Include());
    EXPECT_FALSE(opt.TTLModified());
    EXPECT_EQ(doc.Items()[0].Enclosure().Length(), -4);
    EXPECT_TRUE(doc.Items()[0].Enclosure().Include());

    doc.LoadFromString(Channel("<cloud domain=\"d\" port=\"0\"/><ttl>-5</ttl><item/>"));
    EXPECT_TRUE(doc.Channel().Optional().Cloud().Include());
    EXPECT_EQ(doc.Channel().Optional().Cloud().Port(), 1);
    EXPECT_EQ(doc.Channel().Optional().Cloud().Path(), "");
    EXPECT_EQ(doc.Channel().Optional().TTL(), 0);
    EXPECT_TRUE(doc.Channel().Optional().TTLModified());
}

TEST(RSSParser, RepeatedFields) {
    TFeedDocument doc;
    doc.LoadFromString(Channel("<title>one</title><item><title>first</title><title>second</title></item>"
                               "<title>two</title>"));
    EXPECT_EQ(doc.Channel().Required().Title(), "two");  // channel: the last one
    EXPECT_EQ(doc.Items()[0].Title(), "first");          // item: the first one
}

TEST(RSSParser, PrefixedLinkWithTheSameLocalNameComesFirst) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss_item_prefixed_link_first.xml"));
    // The channel's atom:link is another vocabulary's and is ignored; in an
    // item the lookup also accepts the local name, so atom:link (empty) wins.
    EXPECT_EQ(doc.Channel().Required().Link(), "Link Required");
    EXPECT_EQ(doc.Items()[0].Link(), "");
}

TEST(RSSParser, Failures) {
    struct Case {
        std::string text;
        std::string message;
    };
    const std::string nullInteger = "Could not convert variant of type (Null) into type (Integer)";
    const std::vector<Case> cases = {
        {Channel("<title>a<b/></title><item/>"), "Element does not contain a single text node"},
        {WithItem("<title><b>bold</b></title>"), "Element does not contain a single text node"},
        {Channel("<ttl></ttl><item/>"), nullInteger},
        {Channel("<cloud domain=\"d\"/><item/>"), nullInteger},
        {WithItem("<enclosure url=\"u\" type=\"t\"/>"), nullInteger},
        {Channel("<image><title>t</title><link>l</link></image><item/>"), "Required Field Missing. Field: image -> url"},
        {Channel("<image><url>u</url><link>l</link></image><item/>"), "Required Field Missing. Field: image -> title"},
        {Channel("<textInput><title>t</title><description>d</description><link>l</link></textInput><item/>"),
         "Required Field Missing. Field: textInput -> name"},
    };
    for (const Case& c : cases) EXPECT_EQ(feedtest::LoadError(c.text), c.message) << c.text;

    for (const char* text : {"<ttl>abc</ttl>", "<ttl>1.5</ttl>", "<image><url>u</url><title>t</title><link>l</link><width>wide</width></image>",
                             "<cloud port=\"x\"/>", "<ttl>99999999999</ttl>"}) {
        TFeedDocument doc;
        EXPECT_THROW(doc.LoadFromString(Channel(std::string(text) + "<item/>")), plat::ConvertError) << text;
    }
}

TEST(RSSParser, AFailureKeepsWhatWasReadBefore) {
    TFeedDocument doc;
    EXPECT_ANY_THROW(doc.LoadFromString(Channel("<title>kept</title><item><title>one</title></item><ttl>x</ttl>")));
    EXPECT_EQ(doc.Channel().Required().Title(), "kept");
    EXPECT_EQ(doc.Items().Count(), 1);
}
