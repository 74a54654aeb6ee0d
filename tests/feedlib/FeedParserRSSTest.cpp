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
    EXPECT_EQ(opt.PubDate().TimeZone(), "+0200");  // the zone as written
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
    EXPECT_TRUE(first.AuthorModified());  // so the stored copy keeps it
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
        // A CDATA section followed by markup is kept whole.
        "plain",
        "<p>encoded</p>",
        "content",
        "d",
        "<b>first</b><img src=\"x.png\" />",
        "<p>Hello <a href=\"http://example.org\">world</a></p>",
        "",
    };
    ASSERT_EQ(doc.Items().Count(), static_cast<int>(expected.size()));
    for (int i = 0; i < doc.Items().Count(); ++i)
        EXPECT_EQ(doc.Items()[i].Description(), expected[i]) << doc.Items()[i].Title();
    EXPECT_FALSE(doc.Items()[6].DescriptionModified());
}

TEST(RSSParser, ChannelDescriptionWithMarkupFails) {
    // It no longer fails: the markup is the description.
    TFeedDocument doc;
    ASSERT_EQ(feedtest::LoadError(doc, Fixture("rss_channel_description_mixed.xml")), "");
    EXPECT_NE(doc.Channel().Required().Desc().find("<"), std::string::npos) << doc.Channel().Required().Desc();
}

TEST(RSSParser, ItemDates) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss_items_dates.xml"));
    ASSERT_EQ(doc.Items().Count(), 5);
    const TRSSItems& items = doc.Items();
    EXPECT_DOUBLE_EQ(items[0].PubDate().DateTime(), At(2004, 5, 1, 10, 20, 30));
    EXPECT_EQ(items[0].PubDate().TimeZone(), "+0200");
    // Undated items are dated by the time they were read; the stamp is not
    // marked as the feed's own date, so stored copies do not carry it.
    EXPECT_TRUE(IsRecent(items[1].PubDate().DateTime()));
    EXPECT_FALSE(items[1].PubDate().Modified());
    // A Dublin Core date is the item's date when there is no pubDate.
    EXPECT_DOUBLE_EQ(items[2].PubDate().DateTime(), At(2004, 5, 1, 10, 20, 30));
    EXPECT_EQ(items[2].PubDate().TimeZone(), "+0200");
    EXPECT_DOUBLE_EQ(items[3].PubDate().DateTime(), At(2004, 5, 2, 8));
    // An unreadable date is no date: not 1899, and not stored.
    EXPECT_NE(items[4].PubDate().DateTime(), plat::kZeroDateTime);
    EXPECT_FALSE(items[4].PubDate().Modified());
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
    for (const Case& c : std::vector<Case>{{"en-us", langEN_US, ""},
                                           {"en-US", langX, "en-US"},
                                           {"zh-cn", langX, "zh-cn"},
                                           {"za-cn", langZH_CN, ""},
                                           {"", langX, ""}}) {
        TFeedDocument doc;
        doc.LoadFromString(Channel(std::string("<language>") + c.code + "</language><item/>"));
        EXPECT_EQ(doc.Channel().Optional().Language(), c.language) << c.code;
        EXPECT_EQ(doc.Channel().Optional().XLang(), c.xlang) << c.code;
    }
}

TEST(RSSParser, OptionalStructuresAndTheirPresence) {
    TFeedDocument doc;
    doc.LoadFromString(Channel(
        "<cloud/><image/><textInput/><ttl>60</ttl><item><enclosure url=\"u\" type=\"t\" length=\"-4\"/></item>"));
    const TRSSChannelOpt& opt = doc.Channel().Optional();
    EXPECT_FALSE(opt.Cloud().Include());
    EXPECT_FALSE(opt.Image().Include());
    EXPECT_FALSE(opt.TextInput().Include());
    EXPECT_FALSE(opt.TTLModified());
    EXPECT_EQ(doc.Items()[0].Enclosure().Length(), -4);  // as written
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
    doc.LoadFromString(
        Channel("<title>one</title><item><title>first</title><title>second</title></item>"
                "<title>two</title>"));
    EXPECT_EQ(doc.Channel().Required().Title(), "two");  // channel: the last one
    EXPECT_EQ(doc.Items()[0].Title(), "first");          // item: the first one
}

TEST(RSSParser, PrefixedLinkWithTheSameLocalNameComesFirst) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss_item_prefixed_link_first.xml"));
    // The channel's atom:link is another vocabulary's and is ignored; in an
    // item the item's own link wins over an atom:link written before it.
    EXPECT_EQ(doc.Channel().Required().Link(), "Link Required");
    EXPECT_EQ(doc.Items()[0].Link(), "http://example.org/a");
}

// One odd element costs at most that element, never the whole feed.
TEST(RSSParser, OddElementsAreTolerated) {
    struct Case {
        std::string text;
        std::string check;  // what the model then says
    };
    const auto describe = [](const TFeedDocument& doc) {
        const TRSSChannelOpt& opt = doc.Channel().Optional();
        std::string out = doc.Channel().Required().Title() + "|ttl " + std::to_string(opt.TTL()) +
                          (opt.TTLModified() ? "!" : "") + "|image " + (opt.Image().Include() ? "y" : "n") + "|input " +
                          (opt.TextInput().Include() ? "y" : "n") + "|cloud " + (opt.Cloud().Include() ? "y" : "n");
        for (int i = 0; i < doc.Items().Count(); ++i) {
            const TRSSItem& item = doc.Items()[i];
            out += "|" + item.Title();
            if (item.Enclosure().Include()) out += " enc " + std::to_string(item.Enclosure().Length());
        }
        return out;
    };
    const std::vector<Case> cases = {
        {Channel("<title>a<b>b</b></title><item/>"), "ab|ttl 60|image n|input n|cloud n|"},
        {WithItem("<title><b>bold</b> <![CDATA[and]]> more</title>"), "t|ttl 60|image n|input n|cloud n|boldand more"},
        {Channel("<ttl></ttl><item/>"), "Title Required|ttl 60|image n|input n|cloud n|"},
        {Channel("<ttl>abc</ttl><ttl>1.5</ttl><ttl>99999999999</ttl><item/>"),
         "Title Required|ttl 60|image n|input n|cloud n|"},
        {Channel("<ttl> 30 </ttl><item/>"), "Title Required|ttl 30!|image n|input n|cloud n|"},
        {Channel("<cloud domain=\"d\"/><item/>"), "Title Required|ttl 60|image n|input n|cloud n|"},
        {Channel("<cloud port=\"x\"/><item/>"), "Title Required|ttl 60|image n|input n|cloud n|"},
        {WithItem("<title>e</title><enclosure url=\"u\" type=\"t\"/>"), "t|ttl 60|image n|input n|cloud n|e enc 0"},
        {WithItem("<title>e</title><enclosure url=\"u\" length=\"12 MB\"/>"),
         "t|ttl 60|image n|input n|cloud n|e enc 0"},
        {Channel("<image><title>t</title><link>l</link></image><item/>"),
         "Title Required|ttl 60|image n|input n|cloud n|"},
        {Channel("<image><url>u</url><link>l</link></image><item/>"), "Title Required|ttl 60|image n|input n|cloud n|"},
        {Channel("<image><url>u</url><title>t</title><link>l</link><width>wide</width></image><item/>"),
         "Title Required|ttl 60|image y|input n|cloud n|"},
        {Channel("<textInput><title>t</title><description>d</description><link>l</link></textInput><item/>"),
         "Title Required|ttl 60|image n|input n|cloud n|"},
        {Channel("<skipHours><hour><b>1</b></hour><hour>2</hour></skipHours><item/>"),
         "Title Required|ttl 60|image n|input n|cloud n|"},
    };
    for (const Case& c : cases) {
        TFeedDocument doc;
        ASSERT_EQ(feedtest::LoadError(doc, c.text), "") << c.text;
        EXPECT_EQ(describe(doc), c.check) << c.text;
    }
}

TEST(RSSParser, AFailureKeepsWhatWasReadBefore) {
    // Nothing in a well-formed channel fails any more; malformed XML still
    // does, with the parser's message, and leaves the previous model alone.
    TFeedDocument doc;
    doc.LoadFromString(Channel("<title>kept</title><item><title>one</title></item><ttl>x</ttl>"));
    EXPECT_EQ(doc.Channel().Required().Title(), "kept");
    EXPECT_EQ(doc.Items().Count(), 1);
    const std::string error = feedtest::LoadError(doc, "<rss><channel><title>t</title></rss>");
    EXPECT_EQ(error.rfind("XML parse error", 0), 0u) << error;
    EXPECT_EQ(doc.Channel().Required().Title(), "kept");
}

// A root in a namespace, prefixed or default, puts the channel and item
// elements in it; elements of other namespaces keep their own meaning.
TEST(RSSParser, ElementsInTheRootsNamespaceWhateverTheirPrefix) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss_prefixed_userland_namespace.xml"));
    const TRSSChannelOpt& opt = doc.Channel().Optional();
    EXPECT_EQ(doc.Channel().Required().Title(), "Prefixed RSS");  // not dc:title
    EXPECT_EQ(doc.Channel().Required().Desc(), "RSS whose every element carries a prefix");
    EXPECT_EQ(opt.Language(), langDE_DE);
    EXPECT_EQ(opt.TTL(), 45);
    ASSERT_EQ(opt.Categories().Count(), 1);
    EXPECT_EQ(opt.Categories()[0].Category(), "News");
    ASSERT_EQ(doc.Items().Count(), 2);
    const TRSSItem& first = doc.Items()[0];
    EXPECT_EQ(first.Description(), "An excerpt");
    EXPECT_EQ(first.Content(), "<p>The whole first post</p>");
    EXPECT_EQ(first.GUID().GUID(), "urn:prefixed:1");
    EXPECT_FALSE(first.GUID().IsPermaLink());
    ASSERT_EQ(first.Categories().Count(), 1);
    EXPECT_EQ(first.Categories()[0].Title(), "Local");
    EXPECT_EQ(doc.Items()[1].Enclosure().URL(), "http://prefixed-rss.example.org/2.mp3");
    EXPECT_EQ(doc.Items()[1].Enclosure().Length(), 999);
}
