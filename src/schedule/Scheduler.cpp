#include "Scheduler.h"

#include <algorithm>
#include <cctype>

#include "Text.h"

namespace schedule {

std::string HostOf(const std::string& url) {
    std::string::size_type begin = url.find("://");
    begin = begin == std::string::npos ? 0 : begin + 3;
    std::string::size_type end = url.find_first_of("/?#", begin);
    std::string authority = url.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    if (const auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    if (!authority.empty() && authority.front() == '[') {
        // An IPv6 literal keeps its colons.
        if (const auto close = authority.find(']'); close != std::string::npos) authority.erase(close + 1);
    } else if (const auto colon = authority.find(':'); colon != std::string::npos) {
        authority.erase(colon);
    }
    plat::AsciiLowerInPlace(authority);
    return authority;
}

void TScheduler::Upsert(const std::string& id, const std::string& host, TTimePoint due) {
    auto found = FFeeds.find(id);
    if (found != FFeeds.end()) {
        TFeed& feed = found->second;
        const std::string oldHost = feed.Host;
        FHosts[oldHost].Feeds.erase({feed.Due, feed.Order, id});
        feed.Host = host;
        feed.Due = due;
        FHosts[host].Feeds.insert({due, feed.Order, id});
        if (oldHost != host) Requeue(oldHost);
    } else {
        TFeed feed{host, due, FNextOrder++};
        FHosts[host].Feeds.insert({due, feed.Order, id});
        FFeeds.emplace(id, std::move(feed));
    }
    Requeue(host);
}

void TScheduler::Remove(const std::string& id) {
    const auto found = FFeeds.find(id);
    if (found == FFeeds.end()) return;
    const std::string host = found->second.Host;
    FHosts[host].Feeds.erase({found->second.Due, found->second.Order, id});
    FFeeds.erase(found);
    Requeue(host);
}

std::optional<TTimePoint> TScheduler::DueTime(const std::string& id) const {
    const auto found = FFeeds.find(id);
    if (found == FFeeds.end()) return std::nullopt;
    return found->second.Due;
}

void TScheduler::Requeue(const std::string& name) {
    const auto found = FHosts.find(name);
    if (found == FHosts.end()) return;
    THost& host = found->second;
    if (host.Key) {
        FHostOrder.erase(*host.Key);
        host.Key.reset();
    }
    if (host.Feeds.empty()) {
        // A host keeps its last request while the spacing still matters: a
        // feed moved back to it must not go out early.
        if (!host.LastRequest) FHosts.erase(found);
        return;
    }
    const TFeedKey& first = *host.Feeds.begin();
    TTimePoint ready = std::get<0>(first);
    if (host.LastRequest) ready = std::max(ready, *host.LastRequest + FConfig.HostSpacing);
    host.Key = THostKey{ready, std::get<0>(first), std::get<1>(first), name};
    FHostOrder.insert(*host.Key);
}

std::optional<TScheduler::TChoice> TScheduler::Next() const {
    if (FHostOrder.empty()) return std::nullopt;
    const THostKey& first = *FHostOrder.begin();
    const THost& host = FHosts.at(std::get<3>(first));
    TTimePoint at = std::get<0>(first);
    if (FLastRequest) at = std::max(at, *FLastRequest + FConfig.MinGap);
    return TChoice{std::get<2>(*host.Feeds.begin()), at};
}

void TScheduler::Requested(const std::string& id, TTimePoint at, TTimePoint nextDue) {
    const auto found = FFeeds.find(id);
    if (found == FFeeds.end()) return;
    FLastRequest = FLastRequest ? std::max(*FLastRequest, at) : at;
    THost& host = FHosts[found->second.Host];
    host.LastRequest = host.LastRequest ? std::max(*host.LastRequest, at) : at;
    Upsert(id, found->second.Host, nextDue);
}

}  // namespace schedule
