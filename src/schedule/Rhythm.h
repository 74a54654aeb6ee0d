// How often one feed is worth fetching under automatic polling, and when
// its next fetch may go: learned from when its items first appeared, held
// back by what the feed and its server ask for.
#pragma once

#include "FetchOutcome.h"

#include <array>
#include <chrono>
#include <optional>
#include <vector>

namespace schedule {

using std::chrono::seconds;

// The range a learned interval (and a ttl or freshness lifetime) is kept in.
inline constexpr seconds kMinInterval{15 * 60};
inline constexpr seconds kMaxInterval{24 * 3600};

// The typical gap between a feed's new items, from the times its items
// were first seen (any order; see Rhythm.cpp for the rule). With fewer than
// two distinct times there is nothing to learn from and `fallback` is
// returned, clamped.
seconds LearnedInterval(std::vector<TTimePoint> firstSeen, TTimePoint now, seconds fallback);
// The same typical gap before it is clamped.
seconds LearnedGap(std::vector<TTimePoint> firstSeen, TTimePoint now, seconds fallback);

// The hours (UTC, as RSS defines them) and weekdays (0 = Monday) in which
// the feed asks not to be polled.
struct TSkip {
    std::array<bool, 24> Hours{};
    std::array<bool, 7> Days{};
    bool Any() const;
    bool operator==(const TSkip&) const = default;
};

// The earliest moment at or after `at` outside the skipped hours and days.
// A skip that leaves no hour of the week free is a publisher's mistake, not
// a request never to poll: it is ignored and `at` returned, so such a feed
// is still fetched at its rhythm instead of starving for ever.
TTimePoint PastSkip(const TSkip& skip, TTimePoint at);

// Everything that decides one feed's next fetch.
struct TFeedHints {
    // Feed Properties' interval: wins over everything but Retry-After.
    std::optional<seconds> OwnInterval;
    seconds Learned = kMinInterval;        // LearnedInterval
    std::optional<seconds> Ttl;            // the channel's ttl
    std::optional<TTimePoint> FreshUntil;  // Cache-Control max-age / Expires of the last answer
    std::optional<TTimePoint> RetryAfter;  // the server's Retry-After
    TSkip Skip;
};

// What one answer said about the next fetch. A feed that was read speaks
// for its ttl and skips; an answer without one (304, a failure) leaves the
// last feed's word standing. Freshness and Retry-After are each answer's own.
struct TAnswerHints {
    bool HadFeed = false;
    std::optional<seconds> Ttl;
    TSkip Skip;
    std::optional<TTimePoint> FreshUntil;
    std::optional<TTimePoint> RetryAfter;
    void ApplyTo(TFeedHints& hints) const;
    // Takes a later answer into what is kept of the feed's word: its ttl
    // and skips only when it brought a feed, freshness and Retry-After
    // always.
    void Merge(const TAnswerHints& later);
    bool operator==(const TAnswerHints&) const = default;
};

// When the feed last fetched at `last` is due again:
//   own interval:  max(last + own, Retry-After)
//   otherwise:     max(last + max(learned, ttl), fresh-until, Retry-After),
//                  moved past the skipped hours and days.
// A ttl or freshness lifetime longer than kMaxInterval counts as
// kMaxInterval, so a bad header cannot park a feed for weeks. Per-host
// spacing is the scheduler's business, not this one's.
TTimePoint NextDue(const TFeedHints& hints, TTimePoint last);

}  // namespace schedule
