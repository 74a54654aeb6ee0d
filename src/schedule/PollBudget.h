// How automatic polling shares its requests among the feeds.
//
// The pause of the options says how fresh the user wants the feeds: one
// after another, one request goes out every pause and a collection of N
// feeds is fetched once every N pauses. Automatic polling spends a little
// under a third of those requests (kShare: ttl, host spacing and the
// bounds move the count by a few per cent, and the promise is at least
// three times fewer), and shares them where the posts are: with posts at
// rate r_i and a feed polled every I_i, the delay is I_i / 2 on average,
// and minimising the mean, sum r_i I_i under sum 1 / I_i = budget, gives
// I_i proportional to 1 / sqrt(r_i). What users feel is rather the median
// delay, and most items come from the busiest feeds, so the intervals lean
// a little further their way: I_i = c * gap_i ^ kGapExponent (0.6 instead
// of the mean's 0.5; the 95th percentile pays for it), one scale c for
// the whole collection, solved with every interval held in
// [kMinInterval, kMaxInterval]: what feeds at the floor leave unspent goes
// to the others. Feeds held at the ceiling may still spend more than the
// budget when the pause is long (a round that already fetches each feed
// about once a day cannot be undercut by a schedule that fetches at least
// daily).
//
// Only each feed's own past enters: its typical gap, learned from when its
// items were first seen.
#pragma once

#include "Rhythm.h"

#include <optional>
#include <string>
#include <unordered_map>

namespace schedule {

class TPollBudget {
public:
    static constexpr double kShare = 1.0 / 3.2;
    static constexpr double kGapExponent = 0.6;

    // The requests per second one after another would send (1 / pause);
    // the feeds share kShare of them. 0 leaves each feed at its clamped gap.
    void SetRoundRate(double requestsPerSecond);
    // A feed's typical gap (LearnedGap), replacing what was noted before.
    void Note(const std::string& id, seconds gap);
    void Forget(const std::string& id);
    bool Knows(const std::string& id) const { return FRoots.count(id) != 0; }
    std::size_t Size() const { return FRoots.size(); }
    // The interval for a feed of typical gap `gap`, in the range.
    seconds Interval(seconds gap) const;

private:
    double Scale() const;
    std::unordered_map<std::string, double> FRoots;  // each gap in seconds ^ kGapExponent
    double FRate = 0;                                // the feeds' share, per second
    mutable std::optional<double> FScale;            // solved when asked, after a change
};

}  // namespace schedule
