#include <string>

#include <gtest/gtest.h>

#include "FeedDocument.h"
#include "FeedTestSupport.h"

using namespace feed;
using feedtest::At;
using feedtest::Fixture;

namespace {

const std::string kRdfOpen = "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">";
const std::string kRdfClose = "</rdf:RDF>";

std::string Rdf(const std::string& content) { return kRdfOpen + content + kRdfClose; }

}  // namespace

TEST(RDFParser, ItemsImageAndChannelBesideEachOther) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rdf_items_beside_channel.xml"));
    EXPECT_EQ(doc.XMLType(), xtRDF);
    EXPECT_EQ(doc.Version(), "2.0");
    EXPECT_EQ(doc.Channel().Required().Title(), "RDF News");
    EXPECT_EQ(doc.Channel().Required().Link(), "http://example.org/");
    EXPECT_EQ(doc.Channel().Required().Desc(), "News in RDF");
    // dc:language is another vocabulary's element and is not read.
    EXPECT_EQ(doc.Channel().Optional().Language(), langEN);
    const TRSSImage& image = doc.Channel().Optional().Image();
    EXPECT_TRUE(image.Include());
    EXPECT_EQ(image.Required().Title(), "Logo");
    EXPECT_EQ(image.Required().URL(), "http://example.org/logo.png");
    // The lower-case textinput of RSS 1.0 is not textInput.
    EXPECT_FALSE(doc.Channel().Optional().TextInput().Include());

    ASSERT_EQ(doc.Items().Count(), 2);
    EXPECT_EQ(doc.Items()[0].Title(), "First");
    EXPECT_EQ(doc.Items()[0].Link(), "http://example.org/1");
    EXPECT_EQ(doc.Items()[0].Description(), "One");
    EXPECT_EQ(doc.Items()[1].Title(), "Second");
    // content:encoded is the body of an item without a description.
    EXPECT_EQ(doc.Items()[1].Description(), "<p>Two</p>");
    EXPECT_EQ(doc.Items()[1].Content(), "");
}

// Items of RSS 1.0 are in its namespace while their dates are in Dublin
// Core: the date is found by its namespace.
TEST(RDFParser, DublinCoreDateInANamespacedDocument) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rdf_items_beside_channel.xml"));
    const TRSSItem& item = doc.Items()[0];
    EXPECT_DOUBLE_EQ(item.PubDate().DateTime(), At(2004, 5, 1, 10, 20, 30));
    EXPECT_EQ(item.PubDate().TimeZone(), "+0200");
    EXPECT_TRUE(item.PubDate().Modified());
    // Without a date the item keeps its creation time, unmodified: no
    // fallback stamp as in RSS.
    EXPECT_FALSE(doc.Items()[1].PubDate().Modified());

    // Any prefix bound to Dublin Core will do in a namespaced item.
    doc.LoadFromString(
        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
        "xmlns=\"http://purl.org/rss/1.0/\" xmlns:purl=\"http://purl.org/dc/elements/1.1/\">"
        "<item><title>x</title><purl:date>2005-06-07T08:09:10Z</purl:date></item></rdf:RDF>");
    EXPECT_DOUBLE_EQ(doc.Items()[0].PubDate().DateTime(), At(2005, 6, 7, 8, 9, 10));
}

TEST(RDFParser, ItemsInNoNamespace) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rdf_no_namespace_items.xml"));
    // The root-level title after the channel replaces the channel's.
    EXPECT_EQ(doc.Channel().Required().Title(), "Root title after channel");
    EXPECT_EQ(doc.Channel().Required().Desc(), "Plain RDF");
    ASSERT_EQ(doc.Items().Count(), 6);
    const TRSSItems& items = doc.Items();
    EXPECT_DOUBLE_EQ(items[0].PubDate().DateTime(), At(2004, 5, 1, 10, 20, 30));
    EXPECT_EQ(items[0].PubDate().TimeZone(), "+0200");
    EXPECT_DOUBLE_EQ(items[1].PubDate().DateTime(), At(2004, 5, 2, 8));
    EXPECT_FALSE(items[2].PubDate().Modified());
    EXPECT_FALSE(items[3].GUID().IsPermaLink());  // unlike RSS
    EXPECT_TRUE(items[3].GUID().Include());
    EXPECT_TRUE(items[4].GUID().IsPermaLink());
    EXPECT_TRUE(items[5].Source().Include());
    EXPECT_EQ(items[5].Source().URL(), "http://other.example.org/");
    EXPECT_EQ(items[5].Source().Title(), "Other");
}

TEST(RDFParser, ChannelWithoutItems) {
    TFeedDocument doc;
    doc.LoadFromString(
        Rdf("<channel><title>Only</title><link>l</link><description>d</description>"
            "<language>de</language></channel>"));
    EXPECT_EQ(doc.Channel().Required().Title(), "Only");
    EXPECT_EQ(doc.Channel().Required().Desc(), "d");
    // Only the three texts are read inside the channel.
    EXPECT_EQ(doc.Channel().Optional().Language(), langEN);
    EXPECT_EQ(doc.Items().Count(), 0);
}

TEST(RDFParser, ChannelLevelElementsAtTheRoot) {
    TFeedDocument doc;
    doc.LoadFromString(
        Rdf("<channel><title>c</title></channel><language>de</language><ttl>15</ttl>"
            "<category>k</category><skipDays><day>Friday</day></skipDays>"
            "<textInput><title>t</title><description>d</description><name>n</name><link>l</link></textInput>"));
    const TRSSChannelOpt& opt = doc.Channel().Optional();
    EXPECT_EQ(opt.Language(), langDE);
    EXPECT_EQ(opt.TTL(), 15);
    EXPECT_EQ(opt.Categories().Count(), 1);
    EXPECT_TRUE(opt.SkipDays().Friday());
    EXPECT_TRUE(opt.TextInput().Include());
}

TEST(RDFParser, SourceWithoutUrlFailsTheParse) {
    // It no longer fails: a source without an address is left out, and the
    // rest of the feed is read.
    TFeedDocument doc;
    ASSERT_EQ(feedtest::LoadError(doc, Fixture("rdf_source_without_url.xml")), "");
    EXPECT_EQ(doc.Channel().Required().Title(), "Broken source");
    ASSERT_GE(doc.Items().Count(), 2);
    EXPECT_FALSE(doc.Items()[1].Source().Include());
}

TEST(RDFParser, ItemDescriptionWithElementsFails) {
    // It no longer fails: the markup is the description.
    TFeedDocument doc;
    doc.LoadFromString(Rdf("<item><description>a <b>bold</b> word</description></item>"));
    EXPECT_EQ(doc.Items()[0].Description(), "a <b>bold</b> word");
    doc.LoadFromString(Rdf("<item><description><![CDATA[x]]><br/></description></item>"));
    EXPECT_EQ(doc.Items()[0].Description(), "x<br />");
}
