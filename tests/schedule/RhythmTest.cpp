#include "Rhythm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>

namespace {

using namespace std::chrono;
using schedule::TTimePoint;

// Monday 7 December 2026, 00:00 UTC.
const TTimePoint kMonday = TTimePoint(seconds(1796601600));

TTimePoint At(int day, int hour, int minute = 0) { return kMonday + hours(24 * day + hour) + minutes(minute); }

TEST(Rhythm, LearnedIntervalFollowsTheTypicalGapWithinItsRange) {
    std::ifstream file(SCHEDULE_TEST_DATA "/learned_intervals.tsv");
    ASSERT_TRUE(file) << "missing fixture";
    std::string line;
    int cases = 0;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name;
        long long expected = 0;
        std::string now;
        fields >> name >> expected >> now;
        std::vector<TTimePoint> seen;
        for (long long minute; fields >> minute;) seen.push_back(kMonday + minutes(minute));
        TTimePoint at = seen.empty() ? kMonday : *std::max_element(seen.begin(), seen.end());
        if (now != "-") at = kMonday + minutes(std::stoll(now));
        EXPECT_EQ(schedule::LearnedInterval(seen, at, minutes(90)), minutes(expected)) << name;
        ++cases;
    }
    EXPECT_GE(cases, 14);
}

TEST(Rhythm, NextDueHonoursWhatFeedAndServerAskFor) {
    schedule::TSkip nights;
    for (int h = 0; h < 6; ++h) nights.Hours[static_cast<std::size_t>(h)] = true;
    schedule::TSkip weekend;
    weekend.Days[5] = weekend.Days[6] = true;
    schedule::TSkip always;
    always.Hours.fill(true);
    schedule::TSkip everyDay;
    everyDay.Days.fill(true);

    const TTimePoint last = At(0, 10);
    const schedule::TSkip none;
    using OptSeconds = std::optional<seconds>;
    using OptTime = std::optional<TTimePoint>;
    struct TCase {
        const char* Name;
        seconds Learned;
        OptSeconds Ttl;
        OptTime FreshUntil;
        OptTime RetryAfter;
        OptSeconds Own;
        const schedule::TSkip& Skip;
        TTimePoint Expected;
    };
    const TCase cases[] = {
        {"learned alone", minutes(40), {}, {}, {}, {}, none, At(0, 10, 40)},
        {"learned below the floor", minutes(2), {}, {}, {}, {}, none, At(0, 10, 15)},
        {"ttl longer than learned", minutes(30), minutes(120), {}, {}, {}, none, At(0, 12)},
        {"ttl shorter than learned", minutes(90), minutes(20), {}, {}, {}, none, At(0, 11, 30)},
        {"ttl of a month is a day", minutes(30), hours(24 * 30), {}, {}, {}, none, At(1, 10)},
        {"max-age beyond learned", minutes(30), {}, At(0, 13), {}, {}, none, At(0, 13)},
        {"expired Expires", minutes(30), {}, At(0, 9), {}, {}, none, At(0, 10, 30)},
        {"far Expires is a day", minutes(30), {}, At(20, 0), {}, {}, none, At(1, 10)},
        {"retry-after", minutes(30), {}, {}, At(0, 15), {}, none, At(0, 15)},
        {"skipHours at night", hours(16), {}, {}, {}, {}, nights, At(1, 6)},
        {"skipHours not reached", hours(2), {}, {}, {}, {}, nights, At(0, 12)},
        {"skipDays over the weekend", hours(24), {}, {}, {}, {}, weekend, At(1, 10)},
        {"every hour skipped is ignored", minutes(45), {}, {}, {}, {}, always, At(0, 10, 45)},
        {"every day skipped is ignored", minutes(45), {}, {}, {}, {}, everyDay, At(0, 10, 45)},
        {"own interval beats ttl, max-age and skip",
         hours(3),
         hours(5),
         At(0, 20),
         {},
         minutes(5),
         always,
         At(0, 10, 5)},
        {"retry-after beats own interval", minutes(30), {}, {}, At(0, 11), minutes(5), none, At(0, 11)},
    };
    for (const TCase& c : cases) {
        schedule::TFeedHints hints;
        hints.Learned = c.Learned;
        hints.Ttl = c.Ttl;
        hints.FreshUntil = c.FreshUntil;
        hints.RetryAfter = c.RetryAfter;
        hints.OwnInterval = c.Own;
        hints.Skip = c.Skip;
        EXPECT_EQ(schedule::NextDue(hints, last), c.Expected) << c.Name;
    }

    // Friday 10:00 plus a day lands on Saturday: the weekend is skipped.
    schedule::TFeedHints daily;
    daily.Learned = hours(24);
    daily.Skip = weekend;
    EXPECT_EQ(schedule::NextDue(daily, At(4, 10)), At(7, 0));
}

}  // namespace
