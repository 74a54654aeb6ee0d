#include "Scheduler.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using namespace std::chrono;
using schedule::TScheduler;
using schedule::TTimePoint;

const TTimePoint kStart = TTimePoint(seconds(1796601600));

struct TRequest {
    std::string Id;
    TTimePoint At;
};

// Runs the schedule on a fake clock until `until`: each chosen feed is
// fetched at once and comes back due `every` later.
std::vector<TRequest> RunSchedule(TScheduler& scheduler, TTimePoint until, seconds every) {
    std::vector<TRequest> requests;
    TTimePoint now = kStart;
    while (const auto next = scheduler.Next()) {
        now = std::max(now, next->At);
        if (now > until) break;
        requests.push_back({next->Id, now});
        scheduler.Requested(next->Id, now, now + every);
    }
    return requests;
}

TEST(Scheduler, HostOfAnAddress) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://Example.org/feed.xml", "example.org"},
        {"https://user:pw@news.example.org:8443/rss?x=1", "news.example.org"},
        {"http://[::1]:8080/a", "[::1]"},
        {"http://127.0.0.1:5000", "127.0.0.1"},
        {"feeds.example.net/atom", "feeds.example.net"},
    };
    for (const auto& [url, host] : cases) EXPECT_EQ(schedule::HostOf(url), host) << url;
}

TEST(Scheduler, ManyFeedsOnOneHostAreSpacedWithoutHoldingBackOthers) {
    TScheduler scheduler({.HostSpacing = seconds(10), .MinGap = milliseconds(1000)});
    for (int i = 0; i < 30; ++i) scheduler.Upsert("big" + std::to_string(i), "big.example", kStart);
    for (int i = 0; i < 5; ++i)
        scheduler.Upsert("small" + std::to_string(i), "small" + std::to_string(i) + ".example", kStart);

    const auto requests = RunSchedule(scheduler, kStart + minutes(10), hours(1));
    std::map<std::string, TTimePoint> lastByHost;
    std::map<std::string, int> fetched;
    TTimePoint previous = TTimePoint::min();
    for (const TRequest& r : requests) {
        const std::string host = r.Id.rfind("big", 0) == 0 ? "big" : r.Id;
        if (const auto last = lastByHost.find(host); last != lastByHost.end()) {
            EXPECT_GE(r.At - last->second, seconds(10)) << r.Id;
        }
        lastByHost[host] = r.At;
        if (previous != TTimePoint::min()) {
            EXPECT_GE(r.At - previous, milliseconds(1000));
        }
        previous = r.At;
        ++fetched[r.Id];
    }
    EXPECT_EQ(fetched.size(), 35u);  // every feed once, none twice within its hour
    for (const auto& [id, count] : fetched) EXPECT_EQ(count, 1) << id;
    // The small hosts go in the first seconds, not after the big host's queue.
    for (int i = 0; i < 5; ++i) {
        const auto found = std::find_if(requests.begin(), requests.end(),
                                        [&](const TRequest& r) { return r.Id == "small" + std::to_string(i); });
        ASSERT_NE(found, requests.end());
        EXPECT_LE(found->At - kStart, seconds(10));
    }
    // The big host's 30 feeds need 29 spacings.
    EXPECT_EQ(lastByHost["big"] - kStart, seconds(290));
}

TEST(Scheduler, FeedsDueTogetherAreSpreadOut) {
    struct TCase {
        milliseconds MinGap;
        int Feeds;
        seconds ExpectedSpan;
    };
    const TCase cases[] = {{seconds(1), 20, seconds(19)}, {seconds(60), 5, seconds(240)}, {seconds(0), 4, seconds(0)}};
    for (const TCase& c : cases) {
        TScheduler scheduler({.HostSpacing = seconds(10), .MinGap = c.MinGap});
        for (int i = 0; i < c.Feeds; ++i) scheduler.Upsert(std::to_string(i), "host" + std::to_string(i), kStart);
        const auto requests = RunSchedule(scheduler, kStart + hours(1), hours(2));
        ASSERT_EQ(requests.size(), static_cast<std::size_t>(c.Feeds));
        for (std::size_t i = 0; i < requests.size(); ++i) {
            EXPECT_EQ(requests[i].Id, std::to_string(i)) << "feeds due together go in the order they were added";
            EXPECT_EQ(requests[i].At, kStart + c.MinGap * static_cast<int>(i));
        }
        EXPECT_EQ(requests.back().At - requests.front().At, c.ExpectedSpan);
    }
}

TEST(Scheduler, EarliestDueFirstAndChangesTakeEffect) {
    TScheduler scheduler;
    scheduler.Upsert("late", "a", kStart + minutes(30));
    scheduler.Upsert("early", "b", kStart + minutes(10));
    scheduler.Upsert("gone", "c", kStart + minutes(1));
    scheduler.Remove("gone");
    EXPECT_FALSE(scheduler.Contains("gone"));
    EXPECT_EQ(scheduler.Next()->Id, "early");
    EXPECT_EQ(scheduler.Next()->At, kStart + minutes(10));

    scheduler.Upsert("late", "a", kStart + minutes(5));  // a result moved it up
    EXPECT_EQ(scheduler.Next()->Id, "late");

    // Moving a feed to a host it was just fetched from still waits for the
    // host's spacing.
    scheduler.Requested("late", kStart + minutes(5), kStart + hours(1));
    scheduler.Upsert("early", "a", kStart + minutes(5));
    EXPECT_EQ(scheduler.Next()->Id, "early");
    EXPECT_EQ(scheduler.Next()->At, kStart + minutes(5) + seconds(10));
    EXPECT_EQ(scheduler.DueTime("late"), kStart + hours(1));

    scheduler.Remove("late");
    scheduler.Remove("early");
    EXPECT_FALSE(scheduler.Next());
}

}  // namespace
