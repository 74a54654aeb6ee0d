// The automatic schedule's queue: every feed with the moment it is due, and
// which one goes next without being rude to anyone.
//
// Two rules hold whatever the feeds ask for: a host never gets two requests
// less than HostSpacing apart, and no two requests at all go less than
// MinGap apart, so feeds that fall due together (at start-up, or because
// they share a rhythm) are spread out instead of fetched in a burst.
//
// Feeds wait in a queue per host, ordered by due time; the hosts wait in
// one ordered set by the moment their first feed may go (its due time, or
// the host's last request plus the spacing, whichever is later). The next
// feed is the first host's first feed, so choosing costs O(1) and every
// change O(log n), whatever the number of feeds.
#pragma once

#include "FetchOutcome.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>

namespace schedule {

// The host of an address, lower case, without user, port or path
// ("http://User@Example.org:8080/feed" gives "example.org"); the whole
// text, lower case, when it has no scheme.
std::string HostOf(const std::string& url);

class TScheduler {
public:
    struct TConfig {
        std::chrono::seconds HostSpacing{10};
        std::chrono::milliseconds MinGap{1000};
    };

    struct TChoice {
        std::string Id;
        // Not before this moment: the later of its due time and what the
        // spacing rules allow.
        TTimePoint At;
    };

    TScheduler() = default;
    explicit TScheduler(TConfig config) : FConfig(config) {}

    const TConfig& Config() const { return FConfig; }
    void SetMinGap(std::chrono::milliseconds gap) { FConfig.MinGap = gap; }

    // Adds a feed, or moves it to another host or due time.
    void Upsert(const std::string& id, const std::string& host, TTimePoint due);
    void Remove(const std::string& id);
    bool Contains(const std::string& id) const { return FFeeds.count(id) != 0; }
    std::optional<TTimePoint> DueTime(const std::string& id) const;
    std::size_t Size() const { return FFeeds.size(); }

    // The feed to fetch next and when; nullopt with no feeds.
    std::optional<TChoice> Next() const;
    // A request for `id` went out at `at`: its host and the whole schedule
    // count from there, and the feed waits until `nextDue` unless its
    // result reschedules it first (a result that never comes cannot lose it).
    void Requested(const std::string& id, TTimePoint at, TTimePoint nextDue);

private:
    using TFeedKey = std::tuple<TTimePoint, std::uint64_t, std::string>;  // due, order, id
    using THostKey = std::tuple<TTimePoint, TTimePoint, std::uint64_t,
                                std::string>;  // ready, first due, order, host

    struct TFeed {
        std::string Host;
        TTimePoint Due;
        std::uint64_t Order = 0;
    };
    struct THost {
        std::set<TFeedKey> Feeds;
        std::optional<TTimePoint> LastRequest;
        std::optional<THostKey> Key;  // its entry in FHostOrder
    };

    void Requeue(const std::string& host);

    TConfig FConfig;
    std::unordered_map<std::string, TFeed> FFeeds;
    std::unordered_map<std::string, THost> FHosts;
    std::set<THostKey> FHostOrder;
    std::optional<TTimePoint> FLastRequest;
    std::uint64_t FNextOrder = 0;
};

}  // namespace schedule
