// Everything the generator writes must read back through the RSS parser
// with the same channel title and the same item titles in the same order,
// whatever the texts hold: the update cycle counts new items by comparing
// downloaded titles with the stored copy's.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FeedDocument.h"
#include "FeedTestSupport.h"
#include "FeedUtils.h"

using namespace feed;

namespace {

// Pieces chosen for the ways a text can go wrong on its way through XML.
const std::vector<std::string> kPieces = {
    "News",
    "a",
    " ",
    "  ",
    "\t",
    "\n",
    "\r",
    "\r\n",
    "]]>",
    "<![CDATA[",
    "<b>bold</b>",
    "&amp;",
    "&",
    "<",
    ">",
    "\"",
    "'",
    "&#13;",
    "\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8",  // Cyrillic
    "\xE6\x96\xB0\xE9\x97\xBB",                                  // CJK
    "\xD8\xA3\xD8\xAE\xD8\xA8\xD8\xA7\xD8\xB1",                  // Arabic
    "\xF0\x9F\x93\xB0",                                          // emoji
    "\xC2\xA0",                                                  // no-break space
    "\x01",
    "\x1F",
    "\x7F",
    std::string(1, '\0'),
    "\xFF",
    "\xC3",
    "\xED\xA0\x80",  // unstorable
    "\xEF\xBF\xBE",
    "\xEF\xBF\xBF",
    "--",
    "?>",
    "%s",
    "\\",
};

class RandomModel {
public:
    explicit RandomModel(unsigned seed) : FRng(seed) {}

    std::string Text() {
        std::string text;
        const int pieces = Below(5);
        for (int i = 0; i < pieces; ++i)
            text += kPieces[static_cast<std::size_t>(Below(static_cast<int>(kPieces.size())))];
        return text;
    }
    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(FRng); }
    bool Chance(int percent) { return Below(100) < percent; }
    int Number() { return std::uniform_int_distribution<int>(-1000, 100000)(FRng); }

    void Fill(TFeedDocument& doc) {
        doc.SetVersion(Chance(80) ? "2.0" : Text());
        TRSSChannelReq& req = doc.Channel().Required();
        req.SetTitle(Text());
        req.SetLink(Text());
        req.SetDesc(Text());
        TRSSChannelOpt& opt = doc.Channel().Optional();
        if (Chance(30)) opt.SetLanguage(static_cast<TLanguages>(Below(langX + 1)));
        if (Chance(20)) opt.SetXLang(Text());
        if (Chance(30)) opt.SetCopyright(Text());
        if (Chance(20)) opt.SetManagingEditor(Text());
        if (Chance(20)) opt.SetWebMaster(Text());
        if (Chance(30)) opt.PubDate().ParseISO8601(Chance(50) ? "2004-05-01T10:20:30" + Text() : Text());
        if (Chance(20)) opt.LastBuildDate().ParseRFC822(Text());
        for (int i = Below(3); i > 0; --i) {
            TRSSChannelCategory& category = opt.Categories().Add();
            category.SetCategory(Text());
            if (Chance(50)) category.SetDomain(Text());
        }
        if (Chance(20)) opt.SetGenerator(Text());
        if (Chance(20)) opt.SetDocs(Text());
        if (Chance(20)) {
            opt.Cloud().SetInclude(true);
            opt.Cloud().SetDomain(Text());
            opt.Cloud().SetPort(Number());
            opt.Cloud().SetPath(Text());
        }
        if (Chance(20)) opt.SetTTL(Number());
        if (Chance(20)) {
            opt.Image().SetInclude(true);
            opt.Image().Required().SetURL(Text());
            if (Chance(50)) opt.Image().Optional().SetDescription(Text());
            if (Chance(50)) opt.Image().Optional().SetWidth(Number());
            if (Chance(50)) opt.Image().Optional().SetHeight(Number());
        }
        if (Chance(20)) opt.SetRating(Text());
        if (Chance(20)) {
            opt.TextInput().SetInclude(true);
            opt.TextInput().SetTitle(Text());
        }
        for (int i = Below(4); i > 0; --i) opt.SkipHours().SetHour(Below(24), true);
        for (int i = Below(3); i > 0; --i) opt.SkipDays().SetDay(Below(7), true);

        for (int i = Below(8); i > 0; --i) {
            TRSSItem& item = doc.Items().Add();
            if (Chance(85)) item.SetTitle(Text());
            if (Chance(50)) item.SetDescription(Text());
            if (Chance(40)) item.SetLink(Text());
            if (Chance(20)) item.SetComments(Text());
            if (Chance(10)) {
                item.SetAuthorModified();
                item.Author().Name = Text();
            }
            for (int c = Below(3); c > 0; --c) item.Categories().Add().SetTitle(Text());
            if (Chance(20)) {
                item.Enclosure().SetInclude(true);
                item.Enclosure().SetLength(Number());
                item.Enclosure().SetURL(Text());
            }
            if (Chance(40)) {
                item.GUID().SetInclude(true);
                item.GUID().SetGUID(Text());
                item.GUID().SetIsPermaLink(Chance(50));
            }
            if (Chance(40)) item.PubDate().ParseISO8601("2004-05-01T10:20:30" + Text());
            if (Chance(10)) {
                item.Source().SetInclude(true);
                item.Source().SetTitle(Text());
            }
        }
    }

private:
    std::mt19937 FRng;
};

}  // namespace

TEST(RoundTrip, GeneratedCopiesReadBackWithTheSameTitles) {
    feedtest::TempDir dir;
    const std::string file = dir.File("copy.xml");
    for (unsigned seed = 1; seed <= 3000; ++seed) {
        RandomModel random(seed);
        TFeedDocument original;
        random.Fill(original);
        if (random.Chance(50)) original.SetXSLFileName("../rss.xsl");
        // Every 50th copy goes through a real file; the rest through text,
        // which is the same document without the cost of a durable write.
        std::string stored;
        TFeedDocument copy;
        if (seed % 50 == 0) {
            ASSERT_NO_THROW(original.SaveToFile(file)) << "seed " << seed;
            stored = feedtest::ReadFile(file);
            ASSERT_NO_THROW(copy.LoadFromFile(file)) << "seed " << seed << "\n" << stored;
        } else {
            original.GenerateXML();
            stored = original.XMLFile().SaveToString();
            ASSERT_NO_THROW(copy.LoadFromString(stored)) << "seed " << seed << "\n" << stored;
        }
        ASSERT_EQ(copy.Channel().Required().Title(), ComparableTitle(original.Channel().Required().Title()))
            << "seed " << seed;

        std::vector<std::string> expected;
        for (int i = 0; i < original.Items().Count(); ++i) {
            const TRSSItem& item = original.Items()[i];
            if (item.TitleModified() || item.DescriptionModified()) expected.push_back(ComparableTitle(item.Title()));
        }
        std::vector<std::string> actual;
        for (int i = 0; i < copy.Items().Count(); ++i) actual.push_back(copy.Items()[i].Title());
        ASSERT_EQ(actual, expected) << "seed " << seed << "\n" << stored;
    }
}

// The exact texts the decision names, one by one, so a failure says which.
TEST(RoundTrip, AwkwardTitlesSurviveExactly) {
    const std::vector<std::string> titles = {
        " News ",
        "   ",
        "\t",
        "\r",
        "a\r\nb",
        "]]>",
        "<b>x</b> & y",
        "\xE6\x96\xB0\xE9\x97\xBB",
        "\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8",
        "\n\n",
        "\"quoted\" 'single'",
    };
    feedtest::TempDir dir;
    for (const std::string& title : titles) {
        TFeedDocument original;
        original.Channel().Required().SetTitle("Channel " + title);
        original.Items().Add().SetTitle(title);
        original.SaveToFile(dir.File("t.xml"));
        TFeedDocument copy;
        copy.LoadFromFile(dir.File("t.xml"));
        EXPECT_EQ(copy.Channel().Required().Title(), "Channel " + title);
        ASSERT_EQ(copy.Items().Count(), 1);
        EXPECT_EQ(copy.Items()[0].Title(), title);
    }
}

TEST(RoundTrip, UnstorableRequiredTitleBecomesThePlaceholder) {
    TFeedDocument original;
    original.Channel().Required().SetTitle("\xEF\xBF\xBE\x01");
    EXPECT_EQ(original.Channel().Required().Title(), "Title Required");
    original.GenerateXML();
    EXPECT_EQ(original.XMLFile().DocumentElement().FindChild("channel").FindChild("title").Text(), "Title Required");
}

// Bodies, authors, enclosures and dates read back the same too: the page is
// built from the stored copy, and a date must keep its instant there.
TEST(RoundTrip, BodiesAuthorsEnclosuresAndDatesReadBack) {
    const std::vector<std::string> dates = {
        "Sat, 01 May 2004 10:20:30 GMT",  "Sat, 01 May 2004 10:20:30 PST",
        "2004-05-01T10:20:30+05:45",      "2004-05-01T23:59:59-09:30",
        "2004-05-01T00:00:00Z",           "Mon, 29 Feb 2016 12:00:00 -0000",
        "Sat, 01 May 2004 10:20:30 CEST", "not a date",
    };
    for (unsigned seed = 1; seed <= 400; ++seed) {
        RandomModel random(seed);
        TFeedDocument original;
        original.Channel().Required().SetTitle("Channel");
        for (int i = random.Below(5) + 1; i > 0; --i) {
            TRSSItem& item = original.Items().Add();
            item.SetTitle("Item " + random.Text());
            if (random.Chance(60)) item.SetDescription(random.Text());
            if (random.Chance(60)) item.SetContent("<p>" + random.Text() + "</p>");
            if (random.Chance(50)) {
                item.Author().Name = "Author " + random.Text();
                item.SetAuthorModified();
            }
            if (random.Chance(40)) {
                item.Enclosure().SetInclude(true);
                item.Enclosure().SetURL("http://example.org/" + random.Text());
                item.Enclosure().SetEnclosureType(random.Chance(50) ? "audio/mpeg" : "");
                item.Enclosure().SetLength(random.Chance(50) ? 0 : random.Number());
            }
            if (random.Chance(70))
                item.PubDate().ParseRFC822(
                    dates[static_cast<std::size_t>(random.Below(static_cast<int>(dates.size())))]);
        }
        original.GenerateXML();
        const std::string stored = original.XMLFile().SaveToString();
        TFeedDocument copy;
        ASSERT_NO_THROW(copy.LoadFromString(stored)) << "seed " << seed << "\n" << stored;
        ASSERT_EQ(copy.Items().Count(), original.Items().Count()) << stored;
        for (int i = 0; i < copy.Items().Count(); ++i) {
            const TRSSItem& a = original.Items()[i];
            const TRSSItem& b = copy.Items()[i];
            EXPECT_EQ(b.Body(), ComparableTitle(a.Body())) << "seed " << seed << "\n" << stored;
            EXPECT_EQ(b.Author().Name, ComparableTitle(a.Author().Name)) << "seed " << seed;
            EXPECT_EQ(b.Enclosure().Include(), a.Enclosure().Include()) << "seed " << seed;
            EXPECT_EQ(b.Enclosure().URL(), ComparableTitle(a.Enclosure().URL())) << "seed " << seed;
            EXPECT_EQ(b.Enclosure().Length(), a.Enclosure().Length()) << "seed " << seed;
            EXPECT_EQ(b.Enclosure().EnclosureType(), a.Enclosure().EnclosureType()) << "seed " << seed;
            EXPECT_EQ(b.PubDate().Modified(), a.PubDate().Modified()) << "seed " << seed;
            if (a.PubDate().Modified()) {
                EXPECT_DOUBLE_EQ(b.PubDate().UTC(), a.PubDate().UTC()) << "seed " << seed << "\n" << stored;
                EXPECT_EQ(b.PubDate().TimeZone(), a.PubDate().TimeZone()) << "seed " << seed;
            }
        }
    }
}
