#include "DateTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

using namespace plat;

namespace {

struct Moment {
    int year, month, day, hour, minute, second, millisecond;
};

void ExpectParts(const DateTimeParts& p, const Moment& m) {
    EXPECT_EQ(p.year, m.year);
    EXPECT_EQ(p.month, m.month);
    EXPECT_EQ(p.day, m.day);
    EXPECT_EQ(p.hour, m.hour);
    EXPECT_EQ(p.minute, m.minute);
    EXPECT_EQ(p.second, m.second);
    EXPECT_EQ(p.millisecond, m.millisecond);
}

TEST(DateTime, KnownValues) {
    struct Case {
        Moment moment;
        TDateTime value;
    };
    const std::vector<Case> cases = {
        {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
        {{1899, 12, 31, 0, 0, 0, 0}, 1.0},
        {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
        {{1900, 3, 1, 0, 0, 0, 0}, 61.0},  // 1900 was not a leap year
        {{2000, 1, 1, 0, 0, 0, 0}, 36526.0},
        {{2000, 1, 1, 12, 0, 0, 0}, 36526.5},
        {{1899, 12, 30, 6, 0, 0, 0}, 0.25},
        {{1899, 12, 29, 0, 0, 0, 0}, -1.0},
        // Before day 0 the time still runs forwards from the start of the
        // day, but is subtracted.
        {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
        {{1899, 12, 28, 18, 0, 0, 0}, -2.75},
        {{1, 1, 1, 0, 0, 0, 0}, -693593.0},
        {{9999, 12, 31, 0, 0, 0, 0}, 2958465.0},
    };
    for (const Case& c : cases) {
        const Moment& m = c.moment;
        SCOPED_TRACE(testing::Message() << m.year << "-" << m.month << "-" << m.day << " " << m.hour);
        EXPECT_DOUBLE_EQ(EncodeDateTime(m.year, m.month, m.day, m.hour, m.minute, m.second, m.millisecond), c.value);
        ExpectParts(DecodeDateTime(c.value), m);
    }
}

TEST(DateTime, EncodeThenDecodeGivesTheSameParts) {
    const std::vector<Moment> moments = {
        {2026, 12, 8, 14, 5, 9, 0},      {2024, 2, 29, 23, 59, 59, 999},  {2000, 2, 29, 0, 0, 0, 1},
        {1999, 12, 31, 23, 59, 59, 999}, {1899, 12, 29, 23, 59, 59, 999}, {1899, 12, 30, 0, 0, 0, 1},
        {1800, 2, 28, 12, 34, 56, 789},  {1600, 2, 29, 1, 2, 3, 4},       {1, 1, 1, 0, 0, 0, 1},
        {9999, 12, 31, 23, 59, 59, 999},
    };
    for (const Moment& m : moments) {
        SCOPED_TRACE(testing::Message() << m.year << "-" << m.month << "-" << m.day);
        ExpectParts(DecodeDateTime(EncodeDateTime(m.year, m.month, m.day, m.hour, m.minute, m.second, m.millisecond)),
                    m);
    }
    // Every millisecond of one day survives the round trip, on both sides of
    // day 0 where the sign flips the arithmetic.
    for (int year : {2026, 1899, 1850}) {
        for (int ms = 0; ms < 24 * 3600 * 1000; ms += 997) {
            const Moment m{year, 12, 29, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000};
            const DateTimeParts p =
                DecodeDateTime(EncodeDateTime(m.year, m.month, m.day, m.hour, m.minute, m.second, m.millisecond));
            ASSERT_EQ(p.day, 29) << year << " ms " << ms;
            ASSERT_EQ(p.hour * 3600000 + p.minute * 60000 + p.second * 1000 + p.millisecond, ms) << year;
        }
    }
}

TEST(DateTime, DecodeRoundsToTheNearestMillisecond) {
    const TDateTime justBeforeMidnight = 1.0 - 0.4 / 86400000.0;
    ExpectParts(DecodeDateTime(justBeforeMidnight), {1899, 12, 31, 0, 0, 0, 0});
    const TDateTime justAfterMidnight = 1.0 + 0.4 / 86400000.0;
    ExpectParts(DecodeDateTime(justAfterMidnight), {1899, 12, 31, 0, 0, 0, 0});
}

TEST(DateTime, DayOfWeek) {
    struct Case {
        int year, month, day, dayOfWeek;
    };
    const std::vector<Case> cases = {
        {1899, 12, 30, 7},  // Saturday
        {1899, 12, 31, 1},  // Sunday
        {1899, 12, 29, 6},  // Friday
        {2026, 12, 8, 3},   // Tuesday
        {2000, 2, 29, 3},   // Tuesday
        {1970, 1, 1, 5},    // Thursday
        {1, 1, 1, 2},       // Monday
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodeDateTime(EncodeDateTime(c.year, c.month, c.day, 13, 0, 0)).dayOfWeek, c.dayOfWeek)
            << c.year << "-" << c.month << "-" << c.day;
    }
}

TEST(DateTime, ValidityChecks) {
    EXPECT_TRUE(IsValidDate(2024, 2, 29));
    EXPECT_TRUE(IsValidDate(2000, 2, 29));
    EXPECT_FALSE(IsValidDate(1900, 2, 29));
    EXPECT_FALSE(IsValidDate(2023, 2, 29));
    EXPECT_FALSE(IsValidDate(2026, 4, 31));
    EXPECT_TRUE(IsValidDate(2026, 12, 31));
    EXPECT_FALSE(IsValidDate(2026, 13, 1));
    EXPECT_FALSE(IsValidDate(2026, 0, 1));
    EXPECT_FALSE(IsValidDate(2026, 1, 0));
    EXPECT_FALSE(IsValidDate(0, 1, 1));
    EXPECT_FALSE(IsValidDate(10000, 1, 1));

    EXPECT_TRUE(IsValidTime(23, 59, 59, 999));
    EXPECT_FALSE(IsValidTime(24, 0, 0));
    EXPECT_FALSE(IsValidTime(0, 60, 0));
    EXPECT_FALSE(IsValidTime(0, 0, 60));
    EXPECT_FALSE(IsValidTime(0, 0, 0, 1000));
    EXPECT_FALSE(IsValidTime(-1, 0, 0));

    TDateTime out = 123.0;
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, out));
    EXPECT_FALSE(TryEncodeTime(25, 0, 0, 0, out));
    EXPECT_EQ(out, 123.0);
    EXPECT_TRUE(TryEncodeTime(18, 0, 0, 0, out));
    EXPECT_DOUBLE_EQ(out, 0.75);

    EXPECT_THROW(EncodeDateTime(2023, 2, 29, 0, 0, 0), std::invalid_argument);
    EXPECT_THROW(EncodeDateTime(2023, 2, 28, 0, 61, 0), std::invalid_argument);
}

TEST(DateTime, DecodeRejectsValuesNoDateCanHave) {
    for (TDateTime bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(), 1e300, -1e300, 2958466.0, -693594.0}) {
        EXPECT_THROW(DecodeDateTime(bad), std::invalid_argument) << bad;
        EXPECT_THROW(FormatISO8601(bad), std::invalid_argument) << bad;
    }
}

TEST(DateTime, FormatISO8601) {
    EXPECT_EQ(FormatISO8601(EncodeDateTime(2026, 12, 8, 14, 5, 9)), "2026-12-08T14:05:09");
    EXPECT_EQ(FormatISO8601(EncodeDateTime(2026, 12, 8, 14, 5, 9, 999)), "2026-12-08T14:05:09");
    EXPECT_EQ(FormatISO8601(kZeroDateTime), "1899-12-30T00:00:00");
    EXPECT_EQ(FormatISO8601(-1.25), "1899-12-29T06:00:00");
    EXPECT_EQ(FormatISO8601(EncodeDateTime(9, 1, 2, 3, 4, 5)), "0009-01-02T03:04:05");
}

TEST(DateTime, NowIsTheLocalClock) {
    const std::time_t before = std::time(nullptr);
    const TDateTime now = Now();
    const std::time_t after = std::time(nullptr);
    std::tm a{};
    std::tm b{};
    localtime_r(&before, &a);
    localtime_r(&after, &b);
    const TDateTime low =
        EncodeDateTime(a.tm_year + 1900, a.tm_mon + 1, a.tm_mday, a.tm_hour, a.tm_min, a.tm_sec > 59 ? 59 : a.tm_sec);
    const TDateTime high = EncodeDateTime(b.tm_year + 1900, b.tm_mon + 1, b.tm_mday, b.tm_hour, b.tm_min,
                                          b.tm_sec > 59 ? 59 : b.tm_sec, 999);
    EXPECT_GE(now, low);
    EXPECT_LE(now, high);
}

// Zones as feeds write them, as RFC 822 allows them to be written back, and
// the offset that makes the instant.
TEST(FeedDates, ZonesAndTheirOffsets) {
    struct Case {
        const char* zone;
        const char* rfc822;
        int offset;
    };
    const std::vector<Case> cases = {
        {"GMT", "GMT", 0},      {"ut", "UT", 0},          {"Z", "Z", 0},           {"EST", "EST", -300},
        {"EDT", "EDT", -240},   {"CST", "CST", -360},     {"MDT", "MDT", -360},    {"PST", "PST", -480},
        {"+0100", "+0100", 60}, {"-0930", "-0930", -570}, {"+01:00", "+0100", 60}, {"+05", "+0500", 300},
        {"-0000", "-0000", 0},  {"+0000", "+0000", 0},    {"UTC", "+0000", 0},     {"CEST", "+0200", 120},
        {"JST", "+0900", 540},  {"M", "-0000", 0},        {"Mars", "-0000", 0},    {"", "GMT", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RFC822Zone(c.zone), c.rfc822) << c.zone;
        ASSERT_TRUE(ZoneOffsetMinutes(c.zone).has_value()) << c.zone;
        EXPECT_EQ(*ZoneOffsetMinutes(c.zone), c.offset) << c.zone;
    }
    for (const char* notAZone : {"+2500", "+01:60", "+1", "GMT trailing", "12:00"})
        EXPECT_FALSE(ZoneOffsetMinutes(notAZone).has_value()) << notAZone;
}

TEST(FeedDates, WrittenAsRFC822AndReadBackToTheSameInstant) {
    const std::vector<const char*> texts = {
        "2026-12-08T14:30:00+01:00",
        "2026-12-08T14:30:00.999Z",
        "Tue, 08 Dec 2026 14:30:00 PST",
        "8 Dec 26 14:30 -0700",
        "2026-02-28",
        "Dec 8, 2026 14:30:00 GMT",
    };
    for (const char* text : texts) {
        const auto date = ParseFeedDateTime(text);
        ASSERT_TRUE(date.has_value()) << text;
        const std::string written = FormatRFC822(date->clock, date->zone);
        const auto back = ParseRFC822DateTime(written);
        ASSERT_TRUE(back.has_value()) << written;
        EXPECT_DOUBLE_EQ(back->Instant(), date->Instant()) << text << " -> " << written;
        EXPECT_EQ(back->zone, date->zone) << written;
    }
    EXPECT_EQ(FormatRFC822(EncodeDateTime(2004, 5, 1, 10, 20, 30), "+01:00"), "Sat, 01 May 2004 10:20:30 +0100");
    // Instants compare across zones.
    EXPECT_DOUBLE_EQ(ParseFeedDateTime("Tue, 08 Dec 2026 06:30:00 PST")->Instant(),
                     ParseFeedDateTime("2026-12-08T15:30:00+01:00")->Instant());
}

// Shapes of dates as feeds write them, and digit runs long enough to
// overflow a number if read whole: a fraction of any length is dropped,
// any other field too long is no date at all.
TEST(FeedDates, ShapesAndLongDigitRuns) {
    const std::string longRun(4000, '7');
    struct Case {
        std::string text;
        const char* clock;  // FormatISO8601 of the clock time; nullptr: not a date
        int offset = 0;
    };
    const std::vector<Case> cases = {
        {"2026-12-08T14:30:00.5Z", "2026-12-08T14:30:00"},
        {"2026-12-08T14:30:59.999999999999+01:00", "2026-12-08T14:30:59", 60},
        {"2026-12-08T14:30:07.123456789012Z", "2026-12-08T14:30:07"},
        {"2026-12-08T14:30:07." + longRun + "-05:00", "2026-12-08T14:30:07", -300},
        {"Tue, 08 Dec 2026 14:30:07,123456789012 GMT", "2026-12-08T14:30:07"},
        {"2026-12-08T14:30:07.Z", nullptr},
        {"2026-12-08T14:30:07.12a4Z", nullptr},
        {longRun + "-12-08T14:30:00Z", nullptr},
        {"2026" + longRun + "-12-08", nullptr},
        {"2026-12-08T14:30:00+" + longRun, nullptr},
        {"2026-12-08T14:30:00+01:" + longRun, nullptr},
        {"08 Dec " + longRun + " 14:30 GMT", nullptr},
        {longRun + " Dec 2026 14:30 GMT", nullptr},
        {"Tue, 08 Dec 2026 " + longRun + ":30 GMT", nullptr},
        {"Tue, 08 Dec 2026 14:" + longRun + " GMT", nullptr},
        {"Tue, 08 Dec 2026 14:30:00 -" + longRun, nullptr},
        {"2026-12-08T14:30:00+99999999999", nullptr},
    };
    for (const Case& c : cases) {
        const auto date = ParseFeedDateTime(c.text);
        const std::string shown = c.text.substr(0, 60);
        if (!c.clock) {
            EXPECT_FALSE(date.has_value()) << shown;
            continue;
        }
        ASSERT_TRUE(date.has_value()) << shown;
        EXPECT_EQ(FormatISO8601(date->clock), c.clock) << shown;
        EXPECT_EQ(date->offsetMinutes, c.offset) << shown;
    }
}

}  // namespace
