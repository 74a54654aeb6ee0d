#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FeedDocument.h"
#include "FeedTestSupport.h"

using namespace feed;
using feedtest::Fixture;

namespace {

// A document as an outline of its nodes (kind, name, attributes, text), so
// that two documents compare by content whatever their indentation.
void Outline(const xml::Node& node, int depth, std::string& out) {
    out += std::string(static_cast<std::size_t>(depth) * 2, ' ');
    switch (node.Type()) {
        case xml::NodeType::Element:
            out += "<" + node.Name();
            for (const auto& [name, value] : node.Attributes()) out += " " + name + "=\"" + value + "\"";
            out += ">\n";
            for (const xml::Node& child : node.Children()) Outline(child, depth + 1, out);
            return;
        case xml::NodeType::Text:
            out += "text: " + node.Text();
            break;
        case xml::NodeType::CData:
            out += "cdata: " + node.Text();
            break;
        case xml::NodeType::Comment:
            out += "comment: " + node.Text();
            break;
        case xml::NodeType::ProcessingInstruction:
            out += "pi " + node.Name() + ": " + node.Text();
            break;
        case xml::NodeType::Other:
            out += "other";
            break;
    }
    out += "\n";
}

std::string Outline(const xml::Document& doc) {
    std::string out;
    for (const xml::Node& node : doc.TopLevelNodes()) Outline(node, 0, out);
    if (!doc.IsEmpty()) Outline(doc.DocumentElement(), 0, out);
    return out;
}

std::string Generated(TFeedDocument& doc) {
    doc.GenerateXML();
    return doc.XMLFile().SaveToString();
}

// The children of `channel`'s element `name`, as their names.
std::vector<std::string> ChildNames(const xml::Node& element) {
    std::vector<std::string> names;
    for (const xml::Node& child : element.ChildElements()) names.push_back(child.Name());
    return names;
}

xml::Node ChannelOf(TFeedDocument& doc) {
    doc.GenerateXML();
    return doc.XMLFile().DocumentElement().FindChild("channel");
}

}  // namespace

TEST(Generator, MinimalFeedMatchesTheGoldenDocument) {
    feedtest::TempDir dir;
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss_minimal.xml"));
    doc.SetXSLFileName("../rss.xsl");
    const std::string file = dir.File("1.xml");
    doc.SaveToFile(file);

    xml::Document written, golden;
    written.LoadFromFile(file);
    golden.LoadFromFile(feedtest::FixturePath("generator_minimal_feed.golden.xml"));
    EXPECT_EQ(Outline(written), Outline(golden));
    // XML 1.0 in UTF-8, whether or not the declaration names the encoding.
    const std::string text = feedtest::ReadFile(file);
    const std::string declaration = text.substr(0, text.find("?>") + 2);
    EXPECT_TRUE(declaration == "<?xml version=\"1.0\"?>" || declaration == "<?xml version=\"1.0\" encoding=\"UTF-8\"?>")
        << declaration;
}

TEST(Generator, FreshComponentWritesPlaceholdersAndDefaults) {
    TFeedDocument doc;
    const xml::Node channel = ChannelOf(doc);
    EXPECT_EQ(ChildNames(channel), (std::vector<std::string>{"title", "link", "description", "language", "docs"}));
    EXPECT_EQ(channel.FindChild("title").Text(), "Title Required");
    EXPECT_EQ(channel.FindChild("link").Text(), "Link Required");
    EXPECT_EQ(channel.FindChild("description").Text(), "Description Required");
    EXPECT_EQ(channel.FindChild("language").Text(), "en");
    EXPECT_EQ(channel.FindChild("docs").Text(), TRSSChannelOpt::kDefaultDocs);
    EXPECT_EQ(doc.XMLFile().DocumentElement().Attribute("version"), "2.0");
    // No stylesheet instruction without a stylesheet.
    for (const xml::Node& node : doc.XMLFile().TopLevelNodes()) EXPECT_NE(node.Name(), "xml-stylesheet");
}

TEST(Generator, FullChannelInTableOrder) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss20_full_channel.xml"));
    const xml::Node channel = ChannelOf(doc);
    EXPECT_EQ(
        ChildNames(channel),
        (std::vector<std::string>{"title",     "link",    "description",   "language",  "copyright", "managingEditor",
                                  "webMaster", "pubDate", "lastBuildDate", "category",  "category",  "docs",
                                  "cloud",     "ttl",     "image",         "skipHours", "skipDays",  "textInput",
                                  "generator", "rating",  "item",          "item"}));
    EXPECT_EQ(doc.XMLFile().DocumentElement().Attribute("version"), "0.91");
    EXPECT_EQ(channel.FindChild("pubDate").Text(), "Sat, 01 May 2004 10:20:30 +0200");
    EXPECT_EQ(channel.Child(9).Attribute("domain"), "http://example.org/cats");
    EXPECT_FALSE(channel.Child(10).HasAttribute("domain"));
    const xml::Node cloud = channel.FindChild("cloud");
    EXPECT_EQ(cloud.Attributes(), (std::vector<std::pair<std::string, std::string>>{{"domain", "rpc.example.org"},
                                                                                    {"port", "8080"},
                                                                                    {"path", "/RPC2"},
                                                                                    {"registerProcedure", "notify"},
                                                                                    {"protocol", "xml-rpc"}}));
    const xml::Node image = channel.FindChild("image");
    EXPECT_EQ(ChildNames(image), (std::vector<std::string>{"url", "title", "link", "description", "height", "width"}));
    EXPECT_EQ(image.FindChild("width").Text(), "144");
    EXPECT_EQ(ChildNames(channel.FindChild("textInput")),
              (std::vector<std::string>{"title", "description", "name", "link"}));

    const xml::Node item = channel.FindChild("item");
    EXPECT_EQ(ChildNames(item),
              (std::vector<std::string>{"title", "link", "description", "author", "category", "category", "comments",
                                        "enclosure", "guid", "pubDate", "source"}));
    EXPECT_EQ(item.FindChild("enclosure").Attributes(),
              (std::vector<std::pair<std::string, std::string>>{
                  {"url", "http://example.org/1.mp3"}, {"length", "123"}, {"type", "audio/mpeg"}}));
    EXPECT_EQ(item.FindChild("guid").Attribute("isPermaLink"), "true");
    EXPECT_EQ(item.FindChild("source").Attribute("url"), "http://other.example.org/rss");
    EXPECT_EQ(channel.Child(21).FindChild("guid").Attribute("isPermaLink"), "false");
}

TEST(Generator, SkipHoursOneToTwentyThreeThenZero) {
    TFeedDocument doc;
    doc.Channel().Optional().SkipHours().Seth00(true);
    doc.Channel().Optional().SkipHours().Seth05(true);
    doc.Channel().Optional().SkipDays().SetSunday(true);
    doc.Channel().Optional().SkipDays().SetMonday(true);
    const xml::Node channel = ChannelOf(doc);
    const xml::Node hours = channel.FindChild("skipHours");
    ASSERT_EQ(hours.ChildCount(), 2u);
    EXPECT_EQ(hours.Child(0).Name(), "hour");
    EXPECT_EQ(hours.Child(0).Text(), "5");
    EXPECT_EQ(hours.Child(1).Text(), "0");
    const xml::Node days = channel.FindChild("skipDays");
    ASSERT_EQ(days.ChildCount(), 2u);
    EXPECT_EQ(days.Child(0).Text(), "Monday");
    EXPECT_EQ(days.Child(1).Text(), "Sunday");
}

TEST(Generator, ItemsWithoutTitleAndDescriptionAreLeftOut) {
    TFeedDocument doc;
    TRSSItem& bare = doc.Items().Add();
    bare.SetLink("http://example.org/bare");
    bare.GUID().SetInclude(true);
    bare.GUID().SetGUID("g");
    doc.Items().Add().SetDescription("only a description");
    TRSSItem& made = doc.Items().Add();
    made.SetTitle("made here");
    made.GUID().SetInclude(true);
    const xml::Node channel = ChannelOf(doc);
    std::vector<xml::Node> items;
    for (const xml::Node& child : channel.ChildElements()) {
        if (child.Name() == "item") items.push_back(child);
    }
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(ChildNames(items[0]), (std::vector<std::string>{"description"}));
    EXPECT_EQ(ChildNames(items[1]), (std::vector<std::string>{"title", "guid"}));
    EXPECT_EQ(items[1].FindChild("guid").Attribute("isPermaLink"), "false");
}

TEST(Generator, LanguageCodes) {
    struct Case {
        TLanguages language;
        std::string xlang;
        std::string written;
    };
    for (const Case& c : std::vector<Case>{{langEN, "", "en"},
                                           {langEU, "", "eu"},
                                           {langZH_CN, "", "za-cn"},
                                           {langZH_TW, "", "zh-tw"},
                                           {langEN_US, "ignored", "en-us"},
                                           {langX, "en-US", "en-US"},
                                           {langX, "", ""}}) {
        TFeedDocument doc;
        doc.Channel().Optional().SetLanguage(c.language);
        doc.Channel().Optional().SetXLang(c.xlang);
        const xml::Node channel = ChannelOf(doc);
        EXPECT_EQ(channel.FindChild("language").Text(), c.written);
        EXPECT_EQ(channel.Child(3).Name(), "language");
    }
}

TEST(Generator, OptionalElementsFollowTheirFlags) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss_minimal.xml"));
    doc.Channel().Optional().SetTTL(60);
    doc.Items()[0].SetAuthorModified();
    doc.Items()[0].Author().Name = "alice@example.org";
    const xml::Node channel = ChannelOf(doc);
    EXPECT_FALSE(channel.FindChild("ttl"));
    EXPECT_EQ(channel.FindChild("item").FindChild("author").Text(), "alice@example.org");
}

TEST(Generator, VersionOfAnAtomSourceIsKept) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("atom03_feed.xml"));
    doc.GenerateXML();
    EXPECT_EQ(doc.XMLFile().DocumentElement().Name(), "rss");
    EXPECT_EQ(doc.XMLFile().DocumentElement().Attribute("version"), "0.3");
}

TEST(Generator, RepeatedGenerationGivesTheSameDocument) {
    TFeedDocument doc;
    doc.LoadFromString(Fixture("rss20_full_channel.xml"));
    doc.SetXSLFileName("../rss.xsl");
    EXPECT_EQ(Generated(doc), Generated(doc));
}
