#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FeedDocument.h"
#include "FeedParserBase.h"
#include "FeedUtils.h"

using namespace feed;

TEST(Language, CodeTableBothDirections) {
    struct Case {
        TLanguages language;
        const char* code;
    };
    const std::vector<Case> cases = {
        {langAF, "af"}, {langZH_CN, "za-cn"}, {langZH_TW, "zh-tw"}, {langEN, "en"},       {langEN_US, "en-us"},
        {langEU, "eu"}, {langHAW, "haw"},     {langRO_RP, "ro-rp"}, {langES_VE, "es-ve"}, {langUK, "uk"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LanguageCode(c.language), c.code);
        EXPECT_EQ(LanguageFromCode(c.code), c.language) << c.code;
    }
    EXPECT_EQ(static_cast<int>(langEN), 14);
    EXPECT_EQ(static_cast<int>(langEN_US), 25);
    EXPECT_EQ(static_cast<int>(langUK), 95);
    EXPECT_EQ(static_cast<int>(langX), 96);
}

TEST(Language, EveryCodeIsDistinctAndReadsBack) {
    for (int i = langAF; i < langX; ++i) {
        const auto language = static_cast<TLanguages>(i);
        const std::string code = LanguageCode(language);
        ASSERT_FALSE(code.empty()) << i;
        EXPECT_EQ(LanguageFromCode(code), language) << code;
    }
    EXPECT_EQ(LanguageCode(langX), "");
}

TEST(Language, UnknownCodesAreLangX) {
    for (const char* code : {"en-US", "EN", "zh-cn", "", " en", "en ", "klingon"}) {
        EXPECT_EQ(LanguageFromCode(code), langX) << code;
    }
}

TEST(SkipHoursAndDays, OnlyExactTextsSetFlags) {
    TFeedDocument doc;
    doc.XMLFile().LoadFromString(
        "<r><skipHours><hour>0</hour><hour>23</hour><hour>24</hour><hour>07</hour><hour> 1</hour>"
        "<other>5</other><!--12--></skipHours>"
        "<skipDays><day>Monday</day><day>sunday</day><x>Friday</x><day>Saturday </day></skipDays></r>");
    const xml::Node root = doc.XMLFile().DocumentElement();
    ReadSkipHours(root.FindChild("skipHours"), doc);
    ReadSkipDays(root.FindChild("skipDays"), doc);
    const auto& hours = doc.Channel().Optional().SkipHours();
    std::vector<int> set;
    for (int h = 0; h < 24; ++h) {
        if (hours.Hour(h)) set.push_back(h);
    }
    // Any child counts whatever its name or kind; the comment's text is "12".
    EXPECT_EQ(set, (std::vector<int>{0, 5, 12, 23}));
    const auto& days = doc.Channel().Optional().SkipDays();
    EXPECT_TRUE(days.Monday());
    EXPECT_TRUE(days.Friday());
    EXPECT_FALSE(days.Sunday());
    EXPECT_FALSE(days.Saturday());
}

TEST(SkipHoursAndDays, HoursAreNeverCleared) {
    TFeedDocument doc;
    doc.Channel().Optional().SkipHours().SetHour(3, true);
    doc.XMLFile().LoadFromString("<skipHours><hour>4</hour></skipHours>");
    ReadSkipHours(doc.XMLFile().DocumentElement(), doc);
    EXPECT_TRUE(doc.Channel().Optional().SkipHours().Hour(3));
    EXPECT_TRUE(doc.Channel().Optional().SkipHours().Hour(4));
}

TEST(DecodeContent, Base64AndPlain) {
    struct Case {
        const char* input;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"SGVsbG8sIHdvcmxkIQ==", "Hello, world!"},
        {"SGVs\r\nbG8=", "Hello"},  // MIME line breaks
        {"", ""},
        {"YQ", "a"},  // missing padding
        {"YWJj", "abc"},
        {"w6k=", "\xC3\xA9"},  // the bytes are taken as text
        {"AAE=", std::string("\x00\x01", 2)},
        {"!!!", ""},
        {"YWJj=ZGVm", "abc"},  // padding ends the data
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeContent(false, c.input), c.expected) << c.input;
    EXPECT_EQ(DecodeContent(true, "SGVsbG8="), "SGVsbG8=");
}

TEST(ComparableTitle, IsTheFormAStoredCopyReadsBack) {
    EXPECT_EQ(ComparableTitle(" plain "), " plain ");
    EXPECT_EQ(ComparableTitle("a\x01"
                              "b"),
              "ab");
    EXPECT_EQ(ComparableTitle("bad \xFF byte"), "bad \xEF\xBF\xBD byte");
}

// The item readers answer "find" from one pass; it must agree with the XML
// layer's lookup on every shape, namespaces and prefixes included.
TEST(ChildLookup, AgreesWithFindChild) {
    const std::vector<std::string> documents = {
        "<item xmlns:atom=\"urn:atom\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><atom:link/><link>l</link>"
        "<dc:date>d</dc:date><title/><title>second</title><Title/><x:title xmlns:x=\"urn:x\"/><category/></item>",
        "<item xmlns=\"urn:rss\" xmlns:o=\"urn:other\" xmlns:d=\"HTTP://PURL.ORG/DC/ELEMENTS/1.1/\">"
        "<o:title/><title>t</title><d:date>x</d:date><o:category/><link xmlns=\"URN:RSS\">l</link>"
        "<n:link xmlns:n=\"urn:rss\"/><enclosure xmlns=\"\"/></item>",
        "<p:item xmlns:p=\"urn:p\"><title xmlns=\"urn:p\"/><p:link/><guid/><p:guid/></p:item>",
        // A prefix without a declaration stays part of the element's name.
        "<item><u:title>unbound</u:title><title>t</title><u:link/></item>",
    };
    const std::vector<std::string> names = {"title",  "link",    "dc:date",  "date",      "atom:link",
                                            "Title",  "x:title", "category", "enclosure", "guid",
                                            "p:guid", "n:link",  "u:title",  "u:link",    "missing"};
    for (const std::string& text : documents) {
        xml::Document doc;
        doc.LoadFromString(text);
        const xml::Node item = doc.DocumentElement();
        const feed::TChildLookup lookup(item);
        for (const std::string& name : names)
            EXPECT_TRUE(lookup.Find(name) == item.FindChild(name)) << name << " in " << text;
    }
}

TEST(ChildLookup, CategoriesInAnyNamespaceAndDublinCoreDates) {
    xml::Document doc;
    doc.LoadFromString(
        "<item xmlns=\"http://purl.org/rss/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
        "xmlns:x=\"urn:x\"><category>a</category><x:category>b</x:category><x:date>no</x:date>"
        "<dc:date>yes</dc:date></item>");
    const feed::TChildLookup lookup(doc.DocumentElement());
    ASSERT_EQ(lookup.Categories().size(), 2u);
    EXPECT_EQ(lookup.Categories()[1].Text(), "b");
    EXPECT_EQ(lookup.DCDate().Text(), "yes");
}
