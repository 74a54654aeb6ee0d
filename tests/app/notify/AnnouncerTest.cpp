// When news becomes a notification: coalescing, catch-ups, wakes, muted
// feeds and alert words, driven by a fake clock one tick per second.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "AlertWords.h"
#include "Announcer.h"
#include "AppTestSupport.h"
#include "TimeBound.h"

namespace {

using namespace std::chrono_literals;

enum class Act { News, Update, BeginAll, EndAll, Settle, Sleep, Pause, Forget };

struct Step {
    int at;  // seconds of monotonic time
    Act act;
    std::string feed = {};
    std::vector<TNewsItem> items = {};
    bool muted = false;
    int seconds = 0;  // Sleep: wall clock only; Pause: no ticks meanwhile
};

struct Shown {
    int at;
    std::vector<std::string> feeds;
    int count;
    std::string firstTitle;
    bool operator==(const Shown&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Shown& shown) {
    out << "{at " << shown.at << ", feeds";
    for (const std::string& feed : shown.feeds) out << ' ' << feed;
    return out << ", " << shown.count << " items, \"" << shown.firstTitle << "\"}";
}

struct Scenario {
    const char* name;
    std::vector<Step> steps;
    std::vector<Shown> expected;
    std::vector<std::string> alertWords = {};
    bool onlyAlerts = false;
};

Step News(int at, const std::string& feed, std::vector<TNewsItem> items = {{"Story", ""}}, bool muted = false) {
    return {at, Act::News, feed, std::move(items), muted};
}

// Fifty feeds with one story each, one every half second... rounded to the
// tick: two per second from `from` on.
std::vector<Step> Burst(int from, int feeds) {
    std::vector<Step> steps;
    for (int i = 0; i < feeds; ++i)
        steps.push_back(News(from + i / 2, "f" + std::to_string(i), {{"Title " + std::to_string(i), ""}}));
    return steps;
}

std::vector<Step> With(std::vector<Step> first, const std::vector<Step>& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

std::vector<std::string> Feeds(int count) {
    std::vector<std::string> ids;
    for (int i = 0; i < count; ++i) ids.push_back("f" + std::to_string(i));
    return ids;
}

// Runs the steps in time order, ticking once a second (as the window's timer
// does while something waits) for `until` seconds.
std::vector<Shown> Play(const Scenario& scenario, int until) {
    apptest::TFakeAnnounceClock clock;
    int now = 0;
    std::vector<Shown> shown;
    TAnnouncer announcer(clock, [&](const TAnnouncement& a) {
        shown.push_back({now, a.FeedIds, a.ItemCount, a.Items.empty() ? "" : a.Items.front().Title});
    });
    announcer.SetAlertWords(scenario.alertWords, scenario.onlyAlerts);
    int ticksFrom = 0;
    for (; now <= until; ++now) {
        for (const Step& step : scenario.steps) {
            if (step.at != now) continue;
            switch (step.act) {
                case Act::News: {
                    TFeedNews news{step.feed,
                                   "Feed " + step.feed,
                                   static_cast<int>(step.items.size()),
                                   [&step](int i) { return step.items[static_cast<std::size_t>(i)]; },
                                   step.muted,
                                   {},
                                   nullptr};
                    announcer.AddNews(news);
                    break;
                }
                case Act::Update:
                    announcer.NoteUpdate();
                    break;
                case Act::BeginAll:
                    announcer.BeginCatchUp();
                    break;
                case Act::EndAll:
                    announcer.EndCatchUp();
                    break;
                case Act::Settle:
                    announcer.Settle();
                    break;
                case Act::Sleep:
                    clock.Sleep(std::chrono::seconds(step.seconds));
                    break;
                case Act::Pause:
                    ticksFrom = now + step.seconds;
                    break;
                case Act::Forget:
                    announcer.ForgetFeed(step.feed);
                    break;
            }
        }
        if (now >= ticksFrom) announcer.Tick();
        clock.Advance(1s);
    }
    return shown;
}

TEST(Announcer, DecidesWhenAndHowOftenToNotify) {
    const TNewsItem alert{"Weekly digest", "<p>Planned <b>outage</b> tonight</p>"};
    const TNewsItem plain{"Weekly digest", "<p>Nothing to see</p>"};
    const std::vector<Scenario> scenarios = {
        {"a single update is shown at once", {News(3, "a")}, {{3, {"a"}, 1, "Story"}}},
        {"what comes within 30 s is summed into the next",
         {News(0, "a"), News(5, "b", {{"B1", ""}, {"B2", ""}}), News(10, "c"), News(20, "a", {{"A2", ""}})},
         {{0, {"a"}, 1, "Story"}, {30, {"b", "c", "a"}, 4, "B1"}}},
        {"after 30 quiet seconds the next update is shown at once",
         {News(0, "a"), News(45, "b")},
         {{0, {"a"}, 1, "Story"}, {45, {"b"}, 1, "Story"}}},
        {"a feed heard of twice lists its newer items first",
         {News(0, "x"), News(2, "a", {{"Old", ""}}), News(9, "a", {{"New", ""}})},
         {{0, {"x"}, 1, "Story"}, {30, {"a"}, 2, "New"}}},
        {"fifty feeds after start-up give one summary",
         With({{0, Act::Settle}}, Burst(1, 50)),
         {{45, Feeds(50), 50, "Title 0"}}},
        {"updates without news keep the catch-up going",
         {{0, Act::Settle}, News(1, "a"), {15, Act::Update}, {30, Act::Update}, {45, Act::Update}, News(60, "b")},
         {{80, {"a", "b"}, 2, "Story"}}},
        {"an Update All pass is announced once, when it ends",
         With(With({{0, Act::BeginAll}}, Burst(1, 50)), {{70, Act::EndAll}}),
         {{70, Feeds(50), 50, "Title 0"}}},
        {"a pass that never reports its end holds its news ten minutes at most",
         {{0, Act::BeginAll}, News(1, "a")},
         {{600, {"a"}, 1, "Story"}}},
        {"after a wake, the catch-up gives one summary",
         With({News(0, "x"), {100, Act::Sleep, "", {}, false, 7200}}, Burst(101, 6)),
         {{0, {"x"}, 1, "Story"}, {123, Feeds(6), 6, "Title 0"}}},
        {"a timer far too late is a catch-up too",
         With({News(0, "x"), {10, Act::Pause, "", {}, false, 300}}, Burst(310, 6)),
         {{0, {"x"}, 1, "Story"}, {332, Feeds(6), 6, "Title 0"}}},
        {"the news of a deleted feed is dropped",
         {News(0, "a"), News(5, "b"), {10, Act::Forget, "b"}},
         {{0, {"a"}, 1, "Story"}}},
        {"a muted feed is silent except for alert words",
         {News(0, "m", {plain, {"Quiet", ""}}, true), News(40, "m", {plain, alert, {"Outage report", ""}}, true)},
         {{40, {"m"}, 2, "Weekly digest"}},
         {"outage"}},
        {"only alert words: other items are never announced",
         {News(0, "a", {{"Nothing", ""}, {"OUTAGE at noon", ""}}), News(40, "b", {plain})},
         {{0, {"a"}, 1, "OUTAGE at noon"}},
         {"outage"},
         true},
        {"only alert words without any word announces nothing", {News(0, "a")}, {}, {}, true},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        EXPECT_EQ(Play(scenario, 700), scenario.expected);
    }
}

// tests/data/notify/alert_words.txt: one case a line, "words | title | body |
// match", words split as the option's text is.
TEST(AlertWords, MatchWholeWordsAndPhrasesInPlainText) {
    std::ifstream table(std::string(QUILLET_TEST_DATA_DIR) + "/notify/alert_words.txt");
    ASSERT_TRUE(table) << "alert_words.txt missing";
    const auto trim = [](std::string text) {
        text.erase(0, text.find_first_not_of(' '));
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    };
    int cases = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::stringstream parts(line);
        for (std::string field; std::getline(parts, field, '|');) f.push_back(trim(field));
        ASSERT_EQ(f.size(), 4u) << line;
        ++cases;
        EXPECT_EQ(MatchesAlertWords(f[1], f[2], ParseAlertWords(f[0])), f[3] == "yes") << line;
    }
    EXPECT_GE(cases, 20);
}

// Hostile bodies and a user's thousands of words: each case is matched
// within its bound, where a scan that goes back over the text (or
// normalises the words per item) takes seconds.
TEST(AlertWords, WorstCasesStayWithinTimeBounds) {
    using Clock = std::chrono::steady_clock;
    const auto repeat = [](std::string_view piece, std::size_t bytes) {
        std::string text;
        text.reserve(bytes + piece.size());
        while (text.size() < bytes) text += piece;
        return text;
    };
    std::vector<std::string> manyWords;
    for (int i = 0; i < 10'000; ++i) manyWords.push_back("alert" + std::to_string(i) + " word");
    struct Case {
        const char* name;
        std::vector<std::string> words;
        std::string body;
        bool matches;
    };
    const std::vector<Case> cases = {
        {"five megabytes of '&', the word past what is read", {"outage"}, repeat("&", 5'000'000) + " outage", false},
        {"'&' then the word", {"outage"}, "outage " + repeat("&", 2'000'000), true},
        {"references cut short", {"outage"}, repeat("&#x1&amp", 5'000'000), false},
        {"tags never closed", {"outage"}, "outage " + repeat("<a ", 5'000'000), true},
        {"a phrase almost matching everywhere", {"a a a a b"}, repeat("a a a a a ", 5'000'000), false},
        {"runs of the same letter", {"aaaaaaaab", "b"}, repeat("a", 5'000'000), false},
        {"ten thousand words, the one found past what is read", manyWords,
         repeat("alert word ", 2'000'000) + "alert9999 word", false},
        {"ten thousand words, one found", manyWords, repeat("alert word ", 20'000) + "alert9999 word", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = Clock::now();
        const TAlertMatcher matcher(c.words);
        EXPECT_EQ(matcher.Matches("", c.body), c.matches);
        EXPECT_LT(Clock::now() - start, testsupport::TimeBound(std::chrono::milliseconds(100)));
    }

    // Ten thousand new items against ten thousand words, compiled once.
    const auto start = Clock::now();
    const TAlertMatcher matcher(manyWords);
    int matched = 0;
    for (int i = 0; i < 10'000; ++i)
        matched +=
            matcher.Matches("Item " + std::to_string(i), "<p>An alert about word " + std::to_string(i) +
                                                             " &amp; alert" + std::to_string(i * 7) + " word</p>");
    EXPECT_EQ(matched, 1429);  // "alert<7i> word" is one of the words for 7i < 10000
    EXPECT_LT(Clock::now() - start, testsupport::TimeBound(std::chrono::milliseconds(300)));
}

// Verdicts found beside the download stand in for matching, for the very
// words they were found with; the words compile again only when they change.
TEST(Announcer, TakesAlertVerdictsFoundOffTheWindowsThread) {
    apptest::TFakeAnnounceClock clock;
    std::vector<TAnnouncement> shown;
    TAnnouncer announcer(clock, [&](const TAnnouncement& a) { shown.push_back(a); });
    announcer.SetAlertWords({"urgent"}, true);
    const std::shared_ptr<const TAlertMatcher> words = announcer.AlertMatcher();
    announcer.SetAlertWords({"urgent"}, true);
    EXPECT_EQ(announcer.AlertMatcher(), words);

    const std::vector<TNewsItem> items = {{"Urgent: a", ""}, {"calm b", ""}, {"calm c", ""}};
    std::vector<int> read;
    TFeedNews news{"f",
                   "Feed",
                   3,
                   [&](int i) {
                       read.push_back(i);
                       return items[static_cast<std::size_t>(i)];
                   },
                   false,
                   [](int i) { return i == 0 ? std::optional<bool>() : std::optional<bool>(i == 2); },
                   words.get()};
    announcer.AddNews(news);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].ItemCount, 2);           // item 0 matched here, item 2 as found
    EXPECT_EQ(read, (std::vector<int>{0, 2}));  // item 1 was never read

    // Found with other words: matched again.
    clock.Advance(std::chrono::minutes(1));
    announcer.SetAlertWords({"calm"}, true);
    read.clear();
    announcer.AddNews(news);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].ItemCount, 2);
    EXPECT_EQ(read, (std::vector<int>{0, 1, 2}));
}

}  // namespace
