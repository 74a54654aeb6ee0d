#include "Announcer.h"

#include <algorithm>
#include <utility>

#include "AlertWords.h"
#include "Text.h"

TAnnouncer::TAnnouncer(const TAnnounceClock& clock, TSink sink) : FClock(clock), FSink(std::move(sink)) {}

void TAnnouncer::SetAlertWords(std::vector<std::string> words, bool onlyAlerts) {
    if (words != FAlertMatcher->Words()) FAlertMatcher = std::make_shared<const TAlertMatcher>(std::move(words));
    FOnlyAlerts = onlyAlerts;
}

TAnnouncer::TPendingFeed TAnnouncer::Gather(const TFeedNews& news, const TAlertMatcher* alertWords) {
    const bool filtered = alertWords != nullptr;
    TPendingFeed fresh{news.FeedId, news.FeedTitle, 0, {}};
    if (news.Count <= 0 || !news.Item || (filtered && alertWords->Empty())) return fresh;
    // Verdicts found off the window's thread with these very words spare
    // the matching here, and an item without alert words is never read.
    const bool verdictsApply = filtered && news.Alerted && news.AlertedBy == alertWords;
    // Filtered, an item must earn its place, so every new item is looked
    // at; otherwise the first few are all that is kept.
    for (int i = 0; i < news.Count; ++i) {
        if (!filtered && fresh.Items.size() >= kKeptItems) break;
        const std::optional<bool> known = verdictsApply ? news.Alerted(i) : std::nullopt;
        if (known == false) continue;
        TNewsItem item = news.Item(i);
        if (filtered && !known && !alertWords->Matches(item.Title, item.Body)) continue;
        ++fresh.Count;
        if (fresh.Items.size() < kKeptItems) {
            // One more than is shown: a body that was longer is cut at a word.
            item.Body = plat::StripTags(item.Body, kBodyChars + 1);
            fresh.Items.push_back(std::move(item));
        }
    }
    if (!filtered) fresh.Count = news.Count;
    return fresh;
}

TAnnouncement TAnnouncer::Immediate(const TFeedNews& news) {
    std::vector<TPendingFeed> feeds;
    feeds.push_back(Gather(news, nullptr));
    return Compose(feeds);
}

void TAnnouncer::AddNews(const TFeedNews& news) {
    const TMonotonic now = Look();
    FLastActivity = now;
    TPendingFeed fresh = Gather(news, news.Muted || FOnlyAlerts ? FAlertMatcher.get() : nullptr);
    if (fresh.Count > 0) {
        const auto known = std::find_if(FPending.begin(), FPending.end(),
                                        [&](const TPendingFeed& feed) { return feed.Id == news.FeedId; });
        if (known == FPending.end()) {
            FPending.push_back(std::move(fresh));
        } else {
            // The newer items first, as the feed itself lists them.
            known->Count += fresh.Count;
            known->Title = fresh.Title;
            for (TNewsItem& older : known->Items) {
                if (fresh.Items.size() >= kKeptItems) break;
                fresh.Items.push_back(std::move(older));
            }
            known->Items = std::move(fresh.Items);
        }
    }
    ShowIfDue(now);
}

void TAnnouncer::NoteUpdate() { FLastActivity = Look(); }

void TAnnouncer::BeginCatchUp() {
    const TMonotonic now = Look();
    if (FCatchUps++ == 0) FCatchUpSince = now;
}

void TAnnouncer::EndCatchUp() {
    Look();
    FCatchUps = std::max(0, FCatchUps - 1);
}

void TAnnouncer::Settle() { FSettleSince = Look(); }

void TAnnouncer::Unsettle() {
    Look();
    FSettleSince.reset();
}

void TAnnouncer::ForgetFeed(const std::string& feedId) {
    std::erase_if(FPending, [&](const TPendingFeed& feed) { return feed.Id == feedId; });
}

void TAnnouncer::Tick() {
    const TMonotonic now = Look();
    FLastTick = now;
    ShowIfDue(now);
}

bool TAnnouncer::Busy() const { return !FPending.empty() || FCatchUps > 0 || FSettleSince.has_value(); }

TAnnouncer::TMonotonic TAnnouncer::Look() {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const TMonotonic monotonic = FClock.Monotonic();
    const auto wall = FClock.Wall();
    if (FLastLook) {
        const milliseconds slept = duration_cast<milliseconds>(wall - FLastLook->second) -
                                   duration_cast<milliseconds>(monotonic - FLastLook->first);
        if (slept > kWakeJump) FSettleSince = monotonic;
    }
    FLastLook.emplace(monotonic, wall);
    // The timer was held up: whoever looks first after it starts the
    // catch-up, the late tick or news that came before it.
    if (FLastTick && monotonic - *FLastTick > kLongPause) {
        FSettleSince = monotonic;
        FLastTick = monotonic;
    }
    return monotonic;
}

bool TAnnouncer::Held(TMonotonic now) {
    if (FCatchUps > 0) {
        if (now - FCatchUpSince < kCatchUpMax) return true;
        FCatchUps = 0;  // its end was lost: what it gathered is shown now
    }
    if (FSettleSince) {
        const TMonotonic quietSince = std::max(*FSettleSince, FLastActivity);
        if (now - quietSince < kSettleQuiet && now - *FSettleSince < kSettleMax) return true;
        FSettleSince.reset();
    }
    return false;
}

TAnnouncement TAnnouncer::Compose(std::vector<TPendingFeed>& feeds) {
    TAnnouncement announcement;
    for (TPendingFeed& feed : feeds) {
        if (feed.Count <= 0) continue;
        if (announcement.FeedIds.empty()) announcement.FeedTitle = feed.Title;
        announcement.FeedIds.push_back(feed.Id);
        announcement.ItemCount += feed.Count;
        for (TNewsItem& item : feed.Items) {
            if (announcement.Items.size() >= kKeptItems) break;
            announcement.Items.push_back(std::move(item));
        }
    }
    return announcement;
}

void TAnnouncer::ShowIfDue(TMonotonic now) {
    if (FPending.empty() || Held(now) || (FLastShown && now - *FLastShown < kMinSpacing)) return;
    TAnnouncement announcement = Compose(FPending);
    FPending.clear();
    FLastShown = now;
    if (FSink) FSink(announcement);
}
