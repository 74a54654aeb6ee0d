#include "Rhythm.h"

#include <algorithm>
#include <cmath>

namespace schedule {

namespace {

seconds Clamp(seconds value) {
  return std::clamp(value, kMinInterval, kMaxInterval);
}

// How many of the most recent gaps count; older ones say little about a
// feed whose rhythm changed.
constexpr std::size_t kRecentGaps = 24;
// A gap's weight halves every this many gaps back.
constexpr double kHalfLifeGaps = 6.0;

} // namespace

// The rule: the arrivals (distinct first-seen times) give gaps; the typical
// gap is their weighted median, the newest gap weighing 1 and each older one
// less (halving every kHalfLifeGaps), over the last kRecentGaps gaps. A
// median, not a mean, so that one long holiday or one burst of posts does
// not move the rhythm; weighted, so that a feed that changed its pace is
// followed within a few posts. The result is clamped to [15 min, 1 day]:
// more often is never polite, less often would leave a quiet feed's rare
// post unseen for days.
seconds LearnedInterval(std::vector<TTimePoint> firstSeen, seconds fallback) {
  std::sort(firstSeen.begin(), firstSeen.end());
  firstSeen.erase(std::unique(firstSeen.begin(), firstSeen.end()),
                  firstSeen.end());
  if (firstSeen.size() < 2)
    return Clamp(fallback);

  struct TWeighted {
    double Gap;
    double Weight;
  };
  std::vector<TWeighted> gaps;
  const std::size_t count = std::min(firstSeen.size() - 1, kRecentGaps);
  gaps.reserve(count);
  double total = 0;
  for (std::size_t back = 0; back < count; ++back) {
    const std::size_t i = firstSeen.size() - 1 - back;
    const double gap =
        std::chrono::duration<double>(firstSeen[i] - firstSeen[i - 1]).count();
    const double weight =
        std::pow(0.5, static_cast<double>(back) / kHalfLifeGaps);
    gaps.push_back({gap, weight});
    total += weight;
  }
  std::sort(
      gaps.begin(), gaps.end(),
      [](const TWeighted &a, const TWeighted &b) { return a.Gap < b.Gap; });
  double seen = 0;
  double median = gaps.back().Gap;
  for (const TWeighted &g : gaps) {
    seen += g.Weight;
    if (seen >= total / 2) {
      median = g.Gap;
      break;
    }
  }
  return Clamp(seconds(static_cast<long long>(median)));
}

bool TSkip::Any() const {
  return std::find(Hours.begin(), Hours.end(), true) != Hours.end() ||
         std::find(Days.begin(), Days.end(), true) != Days.end();
}

namespace {

bool Skipped(const TSkip &skip, TTimePoint at) {
  const long long hoursSinceEpoch =
      std::chrono::floor<std::chrono::hours>(at.time_since_epoch()).count();
  const long long hour = ((hoursSinceEpoch % 24) + 24) % 24;
  const long long daysSinceEpoch = (hoursSinceEpoch - hour) / 24;
  // 1 January 1970 was a Thursday (index 3 from Monday).
  const long long day = ((daysSinceEpoch + 3) % 7 + 7) % 7;
  return skip.Hours[static_cast<std::size_t>(hour)] ||
         skip.Days[static_cast<std::size_t>(day)];
}

} // namespace

TTimePoint PastSkip(const TSkip &skip, TTimePoint at) {
  if (!skip.Any() || !Skipped(skip, at))
    return at;
  // Hour by hour through one week: every combination of hours and days
  // repeats within it.
  TTimePoint hour = std::chrono::floor<std::chrono::hours>(at);
  for (int step = 1; step <= 24 * 7; ++step) {
    hour += std::chrono::hours(1);
    if (!Skipped(skip, hour))
      return hour;
  }
  return at;
}

TTimePoint NextDue(const TFeedHints &hints, TTimePoint last) {
  if (hints.OwnInterval && *hints.OwnInterval > seconds(0)) {
    const TTimePoint due = last + *hints.OwnInterval;
    return hints.RetryAfter ? std::max(due, *hints.RetryAfter) : due;
  }
  seconds every = Clamp(hints.Learned);
  if (hints.Ttl)
    every = std::max(every, std::min(*hints.Ttl, kMaxInterval));
  TTimePoint due = last + every;
  if (hints.FreshUntil)
    due = std::max(due, std::min(*hints.FreshUntil, last + kMaxInterval));
  if (hints.RetryAfter)
    due = std::max(due, *hints.RetryAfter);
  return PastSkip(hints.Skip, due);
}

} // namespace schedule
