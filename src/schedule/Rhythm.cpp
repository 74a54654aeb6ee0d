#include "Rhythm.h"

#include <algorithm>
#include <cmath>

namespace schedule {

namespace {

seconds Clamp(seconds value) { return std::clamp(value, kMinInterval, kMaxInterval); }

// How many of the most recent items count; older ones say little about a
// feed whose rhythm changed.
constexpr std::size_t kRecentItems = 24;
// A gap's weight halves every this many gaps back.
constexpr double kHalfLifeGaps = 6.0;
// A feed silent for longer than this many typical gaps is polled at this
// share of its silence: the interval grows as the silence does.
constexpr int kSilenceShare = 4;

}  // namespace

// The rule: each arrival of new items closes a gap since the arrival
// before; k items first seen together after a gap g count as k gaps of
// g/k, because a feed polled less often than it posts shows its posts in
// batches, and taking a batch for one post would keep the feed polled too
// rarely for ever. The typical gap is the weighted median of the gaps of
// the last kRecentItems items, the newest gap weighing 1 and each older one
// less (halving every kHalfLifeGaps). A median, not a mean, so that one
// long holiday or one burst of posts does not move the rhythm; weighted, so
// that a feed that changed its pace is followed within a few posts. A feed
// that has gone quiet for longer than kSilenceShare typical gaps (or that
// never had two arrivals: a new or a dead one) is polled every quarter of
// its silence instead, so a silent feed costs less and less, and its first
// new post brings the pace back at once. The result is clamped to [15 min, 1 day]: more often is never polite, less
// often would leave a quiet feed's rare post unseen for days.
seconds LearnedInterval(std::vector<TTimePoint> firstSeen, TTimePoint now, seconds fallback) {
    return Clamp(LearnedGap(std::move(firstSeen), now, fallback));
}

seconds LearnedGap(std::vector<TTimePoint> firstSeen, TTimePoint now, seconds fallback) {
    std::sort(firstSeen.begin(), firstSeen.end());
    struct TWeighted {
        double Gap;
        double Weight;
    };
    std::vector<TWeighted> gaps;
    double total = 0;
    // From the newest item back; `back` counts gaps, newest first.
    std::size_t back = 0;
    for (std::size_t end = firstSeen.size(); end > 0 && back < kRecentItems;) {
        std::size_t begin = end - 1;
        while (begin > 0 && firstSeen[begin - 1] == firstSeen[end - 1]) --begin;
        if (begin == 0) break;  // the oldest arrival has no gap before it
        const std::size_t together = end - begin;
        const double gap = std::chrono::duration<double>(firstSeen[begin] - firstSeen[begin - 1]).count() /
                           static_cast<double>(together);
        for (std::size_t k = 0; k < together && back < kRecentItems; ++k, ++back) {
            const double weight = std::pow(0.5, static_cast<double>(back) / kHalfLifeGaps);
            gaps.push_back({gap, weight});
            total += weight;
        }
        end = begin;
    }
    // Silence is a gap still open: it counts once it says more than the
    // history does.
    const seconds fromSilence = firstSeen.empty() || now <= firstSeen.back()
                                    ? seconds(0)
                                    : std::chrono::duration_cast<seconds>((now - firstSeen.back()) / kSilenceShare);
    if (gaps.empty()) return std::max(fallback, fromSilence);
    std::sort(gaps.begin(), gaps.end(), [](const TWeighted& a, const TWeighted& b) { return a.Gap < b.Gap; });
    double seen = 0;
    double median = gaps.back().Gap;
    for (const TWeighted& g : gaps) {
        seen += g.Weight;
        if (seen >= total / 2) {
            median = g.Gap;
            break;
        }
    }
    return std::max(seconds(static_cast<long long>(median)), fromSilence);
}

bool TSkip::Any() const {
    return std::find(Hours.begin(), Hours.end(), true) != Hours.end() ||
           std::find(Days.begin(), Days.end(), true) != Days.end();
}

namespace {

bool Skipped(const TSkip& skip, TTimePoint at) {
    const long long hoursSinceEpoch = std::chrono::floor<std::chrono::hours>(at.time_since_epoch()).count();
    const long long hour = ((hoursSinceEpoch % 24) + 24) % 24;
    const long long daysSinceEpoch = (hoursSinceEpoch - hour) / 24;
    // 1 January 1970 was a Thursday (index 3 from Monday).
    const long long day = ((daysSinceEpoch + 3) % 7 + 7) % 7;
    return skip.Hours[static_cast<std::size_t>(hour)] || skip.Days[static_cast<std::size_t>(day)];
}

}  // namespace

TTimePoint PastSkip(const TSkip& skip, TTimePoint at) {
    if (!skip.Any() || !Skipped(skip, at)) return at;
    // Hour by hour through one week: every combination of hours and days
    // repeats within it.
    TTimePoint hour = std::chrono::floor<std::chrono::hours>(at);
    for (int step = 1; step <= 24 * 7; ++step) {
        hour += std::chrono::hours(1);
        if (!Skipped(skip, hour)) return hour;
    }
    return at;
}

void TAnswerHints::ApplyTo(TFeedHints& hints) const {
    if (HadFeed) {
        hints.Ttl = Ttl;
        hints.Skip = Skip;
    }
    hints.FreshUntil = FreshUntil;
    hints.RetryAfter = RetryAfter;
}

void TAnswerHints::Merge(const TAnswerHints& later) {
    if (later.HadFeed) {
        *this = later;
        return;
    }
    FreshUntil = later.FreshUntil;
    RetryAfter = later.RetryAfter;
}

TTimePoint NextDue(const TFeedHints& hints, TTimePoint last) {
    if (hints.OwnInterval && *hints.OwnInterval > seconds(0)) {
        const TTimePoint due = last + *hints.OwnInterval;
        return hints.RetryAfter ? std::max(due, *hints.RetryAfter) : due;
    }
    seconds every = Clamp(hints.Learned);
    if (hints.Ttl) every = std::max(every, std::min(*hints.Ttl, kMaxInterval));
    TTimePoint due = last + every;
    if (hints.FreshUntil) due = std::max(due, std::min(*hints.FreshUntil, last + kMaxInterval));
    if (hints.RetryAfter) due = std::max(due, *hints.RetryAfter);
    return PastSkip(hints.Skip, due);
}

}  // namespace schedule
