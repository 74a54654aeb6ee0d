#include "Rhythm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

using namespace std::chrono;
using schedule::TTimePoint;

// Monday 7 December 2026, 00:00 UTC.
const TTimePoint kMonday = TTimePoint(seconds(1796601600));

TTimePoint At(int day, int hour, int minute = 0)
{
    return kMonday + hours(24 * day + hour) + minutes(minute);
}

TEST(Rhythm, LearnedIntervalFollowsTheTypicalGapWithinItsRange)
{
    std::ifstream file(SCHEDULE_TEST_DATA "/learned_intervals.tsv");
    ASSERT_TRUE(file) << "missing fixture";
    std::string line;
    int cases = 0;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string name;
        long long expected = 0;
        std::string now;
        fields >> name >> expected >> now;
        std::vector<TTimePoint> seen;
        for (long long minute; fields >> minute;)
            seen.push_back(kMonday + minutes(minute));
        TTimePoint at = seen.empty() ? kMonday : *std::max_element(seen.begin(), seen.end());
        if (now != "-")
            at = kMonday + minutes(std::stoll(now));
        EXPECT_EQ(schedule::LearnedInterval(seen, at, minutes(90)), minutes(expected)) << name;
        ++cases;
    }
    EXPECT_GE(cases, 14);
}

TEST(Rhythm, NextDueHonoursWhatFeedAndServerAskFor)
{
    schedule::TSkip nights;
    for (int h = 0; h < 6; ++h)
        nights.Hours[static_cast<std::size_t>(h)] = true;
    schedule::TSkip weekend;
    weekend.Days[5] = weekend.Days[6] = true;
    schedule::TSkip always;
    always.Hours.fill(true);
    schedule::TSkip everyDay;
    everyDay.Days.fill(true);

    const TTimePoint last = At(0, 10);
    struct TCase {
        const char *Name;
        std::function<void(schedule::TFeedHints &)> Set;
        TTimePoint Expected;
    };
    const TCase cases[] = {
        {"learned alone", [&](schedule::TFeedHints &h) { h.Learned = minutes(40); }, At(0, 10, 40)},
        {"learned below the floor", [&](schedule::TFeedHints &h) { h.Learned = minutes(2); }, At(0, 10, 15)},
        {"ttl longer than learned",
         [&](schedule::TFeedHints &h) {
             h.Learned = minutes(30);
             h.Ttl = minutes(120);
         },
         At(0, 12)},
        {"ttl shorter than learned",
         [&](schedule::TFeedHints &h) {
             h.Learned = minutes(90);
             h.Ttl = minutes(20);
         },
         At(0, 11, 30)},
        {"ttl of a month is a day",
         [&](schedule::TFeedHints &h) {
             h.Learned = minutes(30);
             h.Ttl = hours(24 * 30);
         },
         At(1, 10)},
        {"max-age beyond learned",
         [&](schedule::TFeedHints &h) {
             h.Learned = minutes(30);
             h.FreshUntil = At(0, 13);
         },
         At(0, 13)},
        {"expired Expires",
         [&](schedule::TFeedHints &h) {
             h.Learned = minutes(30);
             h.FreshUntil = At(0, 9);
         },
         At(0, 10, 30)},
        {"far Expires is a day",
         [&](schedule::TFeedHints &h) {
             h.Learned = minutes(30);
             h.FreshUntil = At(20, 0);
         },
         At(1, 10)},
        {"retry-after",
         [&](schedule::TFeedHints &h) {
             h.Learned = minutes(30);
             h.RetryAfter = At(0, 15);
         },
         At(0, 15)},
        {"skipHours at night",
         [&](schedule::TFeedHints &h) {
             h.Learned = hours(16);
             h.Skip = nights;
         },
         At(1, 6)},
        {"skipHours not reached",
         [&](schedule::TFeedHints &h) {
             h.Learned = hours(2);
             h.Skip = nights;
         },
         At(0, 12)},
        {"skipDays over the weekend",
         [&](schedule::TFeedHints &h) {
             h.Learned = hours(24);
             h.Skip = weekend;
         },
         At(1, 10)},
        {"every hour skipped is ignored",
         [&](schedule::TFeedHints &h) {
             h.Learned = minutes(45);
             h.Skip = always;
         },
         At(0, 10, 45)},
        {"every day skipped is ignored",
         [&](schedule::TFeedHints &h) {
             h.Learned = minutes(45);
             h.Skip = everyDay;
         },
         At(0, 10, 45)},
        {"own interval beats ttl and skip",
         [&](schedule::TFeedHints &h) {
             h.OwnInterval = minutes(5);
             h.Learned = hours(3);
             h.Ttl = hours(5);
             h.FreshUntil = At(0, 20);
             h.Skip = always;
         },
         At(0, 10, 5)},
        {"retry-after beats own interval",
         [&](schedule::TFeedHints &h) {
             h.OwnInterval = minutes(5);
             h.RetryAfter = At(0, 11);
         },
         At(0, 11)},
    };
    for (const TCase &c : cases) {
        schedule::TFeedHints hints;
        c.Set(hints);
        EXPECT_EQ(schedule::NextDue(hints, last), c.Expected) << c.Name;
    }

    // Friday 10:00 plus a day lands on Saturday: the weekend is skipped.
    schedule::TFeedHints daily;
    daily.Learned = hours(24);
    daily.Skip = weekend;
    EXPECT_EQ(schedule::NextDue(daily, At(4, 10)), At(7, 0));
}

} // namespace
