// Automatic polling's share of requests: under a third of the round's, spent
// where the posts are, within the 15 minutes to 1 day range.
#include "PollBudget.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace std::chrono;

TEST(PollBudget, SpendsUnderAThirdOfTheRoundsRequestsWherePostsAre) {
    struct Case {
        const char* name;
        double pause;  // seconds between requests one after another
        std::vector<seconds> gaps;
        double perDay;    // requests the feeds spend together
        bool leanShares;  // intervals grow with a power of the gaps below 1
    };
    constexpr double share = schedule::TPollBudget::kShare;
    ASSERT_LT(share, 1.0 / 3);
    const std::vector<Case> cases = {
        // 3 feeds, a pause of an hour: the round sends 24 a day, the feeds
        // their share of it.
        {"the budget binds", 3600, {hours(1), hours(2), hours(4)}, 24 * share, true},
        {"a lavish budget leaves all at the floor", 1, {hours(1), hours(4), hours(16)}, 3 * 96, false},
        // 20 quiet feeds cannot spend less than one request a day each.
        {"the ceiling spends above the budget", 3600, std::vector<seconds>(20, hours(24 * 30)), 20, false},
        // The floor's unspent share goes to the others.
        {"floor and share", 120, {seconds(60), hours(2), hours(8), hours(32)}, 720 * share, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        schedule::TPollBudget budget;
        budget.SetRoundRate(1.0 / c.pause);
        for (std::size_t i = 0; i < c.gaps.size(); ++i) budget.Note(std::to_string(i), c.gaps[i]);
        double perDay = 0;
        std::vector<double> intervals;
        for (const seconds gap : c.gaps) {
            const seconds interval = budget.Interval(gap);
            EXPECT_GE(interval, schedule::kMinInterval);
            EXPECT_LE(interval, schedule::kMaxInterval);
            intervals.push_back(static_cast<double>(interval.count()));
            perDay += 86400.0 / intervals.back();
        }
        EXPECT_NEAR(perDay, c.perDay, c.perDay * 0.001);
        for (std::size_t i = 1; c.leanShares && i < c.gaps.size(); ++i) {
            EXPECT_NEAR(intervals[i] / intervals[0],
                        std::pow(static_cast<double>(c.gaps[i].count()) / static_cast<double>(c.gaps[0].count()),
                                 schedule::TPollBudget::kGapExponent),
                        0.001);
        }
    }
}

TEST(PollBudget, AFeedLeavingOrChangingPaceMovesTheOthers) {
    schedule::TPollBudget budget;
    EXPECT_EQ(budget.Interval(hours(3)), hours(3)) << "without a round, the clamped gap";
    budget.SetRoundRate(1.0 / 3600);
    budget.Note("a", hours(1));
    budget.Note("b", hours(4));
    const seconds before = budget.Interval(hours(1));
    budget.Note("c", hours(1));  // a third feed shares the budget: less for a
    EXPECT_GT(budget.Interval(hours(1)), before);
    budget.Forget("c");
    EXPECT_EQ(budget.Interval(hours(1)), before);
}

}  // namespace
