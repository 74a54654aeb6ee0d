#include <clocale>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FeedDocument.h"
#include "FeedTestSupport.h"
#include "FeedTypes.h"

using namespace feed;
using feedtest::At;
using feedtest::IsRecent;

TEST(RFC822DateTime, StartsNowInGMTAndUnmodified) {
    TRFC822DateTime date;
    EXPECT_TRUE(IsRecent(date.DateTime()));
    EXPECT_EQ(date.TimeZone(), "GMT");
    EXPECT_FALSE(date.Modified());
    date.SetDateTime(date.DateTime());
    date.SetTimeZone("GMT");
    EXPECT_FALSE(date.Modified());
    date.SetTimeZone("EST");
    EXPECT_TRUE(date.Modified());
}

// Every date keeps its clock time and its zone, so the instant is right and
// the stored copy can say it the same way.
TEST(RFC822DateTime, ParseISO8601KeepsTheZone) {
    struct Case {
        const char* text;
        plat::TDateTime expected;
        const char* zone;
        int offset;
    };
    const std::vector<Case> cases = {
        {"2004-05-01T10:20:30Z", At(2004, 5, 1, 10, 20, 30), "Z", 0},
        {"2004-05-01T10:20:30+02:00", At(2004, 5, 1, 10, 20, 30), "+0200", 120},
        {"2004-05-01T10:20:30-05:00", At(2004, 5, 1, 10, 20, 30), "-0500", -300},
        {"2004-05-01T10:20:30+0530", At(2004, 5, 1, 10, 20, 30), "+0530", 330},
        {"2004-05-01", At(2004, 5, 1), "GMT", 0},
        {"2004-05-01T10:20Z", At(2004, 5, 1, 10, 20), "Z", 0},
        // Fractions of a second are dropped; the zone stays a zone.
        {"2004-05-01T10:20:30.5Z", At(2004, 5, 1, 10, 20, 30), "Z", 0},
        {"2004-05-01t10:20:30.123456z", At(2004, 5, 1, 10, 20, 30), "Z", 0},
        {"2004-05-01 10:20:30+01:00", At(2004, 5, 1, 10, 20, 30), "+0100", 60},
        {"2004-05-01T10:20:30", At(2004, 5, 1, 10, 20, 30), "GMT", 0},
        {"2004-02-29T23:59:59Z", At(2004, 2, 29, 23, 59, 59), "Z", 0},
        // Feeds put RFC 822 dates in dc:date too.
        {"Sat, 01 May 2004 10:20:30 PDT", At(2004, 5, 1, 10, 20, 30), "PDT", -420},
    };
    for (const Case& c : cases) {
        TRFC822DateTime date;
        date.ParseISO8601(c.text);
        EXPECT_DOUBLE_EQ(date.DateTime(), c.expected) << c.text;
        EXPECT_EQ(date.TimeZone(), c.zone) << c.text;
        EXPECT_EQ(date.OffsetMinutes(), c.offset) << c.text;
        EXPECT_TRUE(date.Modified()) << c.text;
    }
}

// An unreadable date is not a date: the value stays as it was and is not
// stored (never "now", never 1899).
TEST(RFC822DateTime, UnreadableDatesAreNotStored) {
    for (const char* text : {"",
                             "2004-13-01",
                             "2003-02-29",
                             "2004-05-01T24:00:00Z",
                             "2004-05-01T10:60:00Z",
                             "2004-05-01T10:20:61Z",
                             "garbage",
                             "99999999999-01-01",
                             "-2004-05-01",
                             "2004-05-32",
                             "2004-05-01T10:20:30 Mars",
                             "yesterday",
                             "Sat, 32 May 2004 10:20:30 GMT",
                             "Sat, 01 Foo 2004 10:20:30 GMT",
                             "Sat, 01 May 2004 25:00:00 GMT",
                             "Sat, 01 May 204 10:20:30 GMT",
                             "Sat, 01 May 2004 10:20:30 GMT trailing words",
                             "Sat 01",
                             "Sat, 29 Feb 2003 10:20:30 GMT",
                             "Sat, 01 May 2004 10:20:30 +2500"}) {
        for (bool rfc822 : {false, true}) {
            TRFC822DateTime date;
            const plat::TDateTime before = date.DateTime();
            if (rfc822)
                date.ParseRFC822(text);
            else
                date.ParseISO8601(text);
            EXPECT_DOUBLE_EQ(date.DateTime(), before) << text;
            EXPECT_FALSE(date.Modified()) << text;
            EXPECT_EQ(date.TimeZone(), "GMT") << text;
        }
    }
}

TEST(RFC822DateTime, ParseRFC822KeepsTheZone) {
    struct Case {
        const char* text;
        plat::TDateTime expected;
        const char* zone;
        int offset;
    };
    const std::vector<Case> cases = {
        {"Sat, 01 May 2004 10:20:30 +0200", At(2004, 5, 1, 10, 20, 30), "+0200", 120},
        {"Sat, 01 May 2004 10:20:30 GMT", At(2004, 5, 1, 10, 20, 30), "GMT", 0},
        {"01 May 2004 10:20:30 EST", At(2004, 5, 1, 10, 20, 30), "EST", -300},
        {"Sat, 01 May 2004 14:30:00 PST", At(2004, 5, 1, 14, 30), "PST", -480},
        {"Sat, 01 May 2004 14:30:00 -0700", At(2004, 5, 1, 14, 30), "-0700", -420},
        {"Sat, 01 May 2004 14:30:00 UT", At(2004, 5, 1, 14, 30), "UT", 0},
        {"1 May 2004 10:20 GMT", At(2004, 5, 1, 10, 20), "GMT", 0},
        {"Saturday, 1 May 2004 10:20:30 Z", At(2004, 5, 1, 10, 20, 30), "Z", 0},
        {"sat, 01 may 2004 10:20:30 gmt", At(2004, 5, 1, 10, 20, 30), "GMT", 0},
        {"Sat, 01 May 04 10:20:30 GMT", At(2004, 5, 1, 10, 20, 30), "GMT", 0},
        {"Sat, 01 May 79 10:20:30 GMT", At(2079, 5, 1, 10, 20, 30), "GMT", 0},
        {"Sat, 01 May 80 10:20:30 GMT", At(1980, 5, 1, 10, 20, 30), "GMT", 0},
        {"  Sat, 01 May 2004 10:20:30 GMT  ", At(2004, 5, 1, 10, 20, 30), "GMT", 0},
        {"01 May 2004", At(2004, 5, 1), "GMT", 0},
        // Military letters other than Z never had agreed signs: unknown zone.
        {"Sat, 01 May 2004 10:20:30 A", At(2004, 5, 1, 10, 20, 30), "-0000", 0},
        // Forms RFC 822 does not know are rewritten as it allows.
        {"Sat, 01 May 2004 10:20:30 +01:00", At(2004, 5, 1, 10, 20, 30), "+0100", 60},
        {"Sat, 01 May 2004 10:20:30 CEST", At(2004, 5, 1, 10, 20, 30), "+0200", 120},
        {"Sat, 01 May 2004 10:20:30 UTC", At(2004, 5, 1, 10, 20, 30), "+0000", 0},
        {"Sat, 01 May 2004 10:20:30 GMT+0100", At(2004, 5, 1, 10, 20, 30), "+0100", 60},
        {"Sat, 01 May 2004 10:20:30 XYZT", At(2004, 5, 1, 10, 20, 30), "-0000", 0},
        {"Sat, 01 May 2004 10:20:30 +0000 (UTC)", At(2004, 5, 1, 10, 20, 30), "+0000", 0},
        {"Sat, 01 May 2004 10:20:30.250 +0000", At(2004, 5, 1, 10, 20, 30), "+0000", 0},
        {"Tues, 01 Sept 2004 10:20:30 GMT", At(2004, 9, 1, 10, 20, 30), "GMT", 0},
        // ISO dates turn up in pubDate.
        {"2004-05-01T10:20:30-07:00", At(2004, 5, 1, 10, 20, 30), "-0700", -420},
    };
    for (const Case& c : cases) {
        TRFC822DateTime date;
        date.ParseRFC822(c.text);
        EXPECT_DOUBLE_EQ(date.DateTime(), c.expected) << c.text;
        EXPECT_EQ(date.TimeZone(), c.zone) << c.text;
        EXPECT_EQ(date.OffsetMinutes(), c.offset) << c.text;
        EXPECT_TRUE(date.Modified()) << c.text;
    }
}

TEST(RFC822DateTime, UTCIsTheInstant) {
    TRFC822DateTime pacific, berlin;
    pacific.ParseRFC822("Sat, 01 May 2004 03:00:00 PDT");
    berlin.ParseISO8601("2004-05-01T12:00:00+02:00");
    EXPECT_NEAR(pacific.UTC(), At(2004, 5, 1, 10), 1e-9);
    EXPECT_NEAR(berlin.UTC(), At(2004, 5, 1, 10), 1e-9);
}

// What is written is valid RFC 822 and reads back as the same instant.
TEST(RFC822DateTime, ToRFC822WritesAValidZoneThatReadsBack) {
    struct Case {
        const char* iso;
        const char* written;
    };
    const std::vector<Case> cases = {
        {"2004-12-26T07:08:09+01:00", "Sun, 26 Dec 2004 07:08:09 +0100"},
        {"2009-01-05T00:00:00.25Z", "Mon, 05 Jan 2009 00:00:00 Z"},
        {"2009-01-05T00:00:00-09:30", "Mon, 05 Jan 2009 00:00:00 -0930"},
        {"Sat, 01 May 2004 10:20:30 EDT", "Sat, 01 May 2004 10:20:30 EDT"},
        {"Sat, 01 May 2004 10:20:30 -0000", "Sat, 01 May 2004 10:20:30 -0000"},
    };
    for (const Case& c : cases) {
        TRFC822DateTime date;
        date.ParseISO8601(c.iso);
        EXPECT_EQ(date.ToRFC822(), c.written) << c.iso;
        TRFC822DateTime back;
        back.ParseRFC822(date.ToRFC822());
        EXPECT_DOUBLE_EQ(back.UTC(), date.UTC()) << c.iso;
        EXPECT_EQ(back.TimeZone(), date.TimeZone()) << c.iso;
    }
    TRFC822DateTime set;
    set.SetDateTime(At(2004, 5, 1, 10, 20, 30));
    set.SetTimeZone("+05:45");
    EXPECT_EQ(set.ToRFC822(), "Sat, 01 May 2004 10:20:30 +0545");
    EXPECT_EQ(set.OffsetMinutes(), 345);
}

TEST(RFC822DateTime, ToRFC822IgnoresTheLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    // Any installed non-English locale would do; the result must not change.
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"}) std::setlocale(LC_ALL, name);
    TRFC822DateTime date;
    date.SetDateTime(At(2004, 5, 1, 10, 20, 30));
    EXPECT_EQ(date.ToRFC822(), "Sat, 01 May 2004 10:20:30 GMT");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(Model, RequiredTextsFallBackToPlaceholders) {
    TRSSChannelReq req;
    EXPECT_EQ(req.Title(), "Title Required");
    EXPECT_EQ(req.Link(), "Link Required");
    EXPECT_EQ(req.Desc(), "Description Required");
    req.SetTitle(" \t\r\n\x01 ");
    EXPECT_EQ(req.Title(), "Title Required");
    req.SetTitle(" News ");
    EXPECT_EQ(req.Title(), " News ");
    // Bytes above 127 are text (UTF-8), not control characters.
    req.SetTitle("\xC3\xA9");
    EXPECT_EQ(req.Title(), "\xC3\xA9");

    TRSSImageReq image;
    EXPECT_EQ(image.URL(), "URL Required");
    EXPECT_EQ(image.Title(), "Title Required");
    EXPECT_EQ(image.Link(), "Link Required");
}

TEST(Model, ChannelDefaults) {
    TRSSChannel channel;
    const TRSSChannelOpt& opt = channel.Optional();
    EXPECT_EQ(opt.Language(), langEN);
    EXPECT_EQ(opt.TTL(), 60);
    EXPECT_EQ(opt.Docs(), TRSSChannelOpt::kDefaultDocs);
    EXPECT_FALSE(opt.Cloud().Include());
    EXPECT_FALSE(opt.Image().Include());
    EXPECT_FALSE(opt.TextInput().Include());
    EXPECT_FALSE(opt.SkipHours().Any());
    EXPECT_FALSE(opt.SkipDays().Any());
    EXPECT_FALSE(opt.PubDate().Modified());
    EXPECT_EQ(opt.Categories().Count(), 0);
}

TEST(Model, TextFlagsRiseOnlyOnChangeAndNeverFall) {
    TRSSItems items(nullptr);
    TRSSItem& item = items.Add();
    EXPECT_EQ(item.Collection(), &items);
    item.SetTitle("");
    EXPECT_FALSE(item.TitleModified());
    item.SetTitle("a");
    item.SetTitle("");
    EXPECT_TRUE(item.TitleModified());
    EXPECT_EQ(item.Title(), "");

    TRSSChannelOpt opt;
    opt.SetCopyright("");
    EXPECT_FALSE(opt.CopyrightModified());
    opt.SetCopyright("c");
    EXPECT_TRUE(opt.CopyrightModified());
    EXPECT_FALSE(item.AuthorModified());
    EXPECT_EQ(item.ContentType(), ctText);
    EXPECT_FALSE(item.GUID().IsPermaLink());
}

TEST(Model, NumericSettersClamp) {
    struct Case {
        int input;
        int expected;
        bool modified;
    };
    for (const Case& c : std::vector<Case>{{60, 60, false}, {0, 0, true}, {-5, 0, true}, {30, 30, true}}) {
        TRSSChannelOpt opt;
        opt.SetTTL(c.input);
        EXPECT_EQ(opt.TTL(), c.expected) << c.input;
        EXPECT_EQ(opt.TTLModified(), c.modified) << c.input;
    }
    for (const Case& c : std::vector<Case>{{200, 144, true}, {-1, 0, true}, {144, 144, true}, {0, 0, false}}) {
        TRSSImageOpt image;
        image.SetWidth(c.input);
        EXPECT_EQ(image.Width(), c.expected) << c.input;
        EXPECT_EQ(image.WidthModified(), c.modified) << c.input;
    }
    for (const Case& c : std::vector<Case>{{401, 400, true}, {400, 400, true}, {-7, 0, true}, {0, 0, false}}) {
        TRSSImageOpt image;
        image.SetHeight(c.input);
        EXPECT_EQ(image.Height(), c.expected) << c.input;
        EXPECT_EQ(image.HeightModified(), c.modified) << c.input;
    }
    for (const Case& c :
         std::vector<Case>{{8080, 8080, false}, {0, 1, false}, {1, 1, false}, {-3, 1, false}, {2, 2, false}}) {
        TRSSCloud cloud;
        cloud.SetPort(c.input);
        EXPECT_EQ(cloud.Port(), c.expected) << c.input;
    }
}

TEST(Model, CollectionsKeepOrderAndStableReferences) {
    TRSSChannelOpt opt;
    TRSSChannelCategory& first = opt.Categories().Add();
    first.SetCategory("first");
    for (int i = 0; i < 100; ++i) opt.Categories().Add().SetCategory(std::to_string(i));
    EXPECT_EQ(first.Category(), "first");
    EXPECT_EQ(opt.Categories().Count(), 101);
    EXPECT_EQ(opt.Categories()[100].Category(), "99");
    EXPECT_EQ(first.Collection()->Owner(), &opt);
    EXPECT_THROW(opt.Categories().Items(101), std::out_of_range);
}
