// One Google Reader API account, synced without a window: sign in when
// needed, send the queued local changes, learn the subscriptions, fetch the
// items that are new since the last sync and apply read state changed
// elsewhere. The result is a value the program applies to its feed list
// and item store; new items arrive in batches through a callback so that a
// first sync of thousands of items never holds them all.
//
// What one unchanged sync costs: the unread counts and the starred ids
// (the only way the API tells what was starred elsewhere), plus the
// subscription list every kSubscriptionListEvery-th sync. The counts stand
// in for the rest while they say nothing moved: the reading list's newest
// stamp for the ids of new items, the labels they name for the tag list,
// the counts per feed for the unread ids (half a megabyte at 10,000),
// which are asked for only when a count differs from what the last list
// makes it: then the list tells exactly what changed. A server whose
// counts lack the stamp or the labels, or that has no counts, costs the
// requests they stand in for. A subscription shows itself sooner: an item
// from an unknown stream, or a change sent from here, brings the list
// forward to the same sync.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ChangeQueue.h"
#include "GReaderClient.h"
#include "GReaderMapping.h"

namespace greader {

using TClock = std::function<std::chrono::system_clock::time_point()>;

// When to try again after a failure: doubling from a minute up to an hour
// for failures that pass (the server's trouble, time-outs, no network);
// never by itself for those that need the user (the password, the address,
// a certificate). A Retry-After later than the doubling wins.
class TBackoff {
public:
    using TimePoint = std::chrono::system_clock::time_point;
    static constexpr std::chrono::seconds kFirst{60};
    static constexpr std::chrono::seconds kLongest{3600};

    void Succeeded() { FFailures = 0; }
    // The next attempt after this failure at `now`; nullopt: wait for the user.
    std::optional<TimePoint> Failed(const TSyncError& error, TimePoint now);
    int Failures() const { return FFailures; }

private:
    int FFailures = 0;
};

// What became of a subscription sent from here. Servers may store a feed
// under another address than the one typed (found on the page, after a
// redirect, https for http), so the stream they answered is what ties the
// subscription to the feed they list. A refused one has no stream and the
// server's words.
struct TSubscribeOutcome {
    std::string Url;  // as queued
    std::string Stream;
    std::string Error;
    bool operator==(const TSubscribeOutcome&) const = default;
};

// What a sync remembers for the next one; kept in a JSON file of its own.
struct TSyncState {
    std::int64_t NewestSeconds = 0;  // ot: items since this second
    std::vector<TSubscription> Subscriptions;
    std::vector<std::string> Labels;
    // Items this account has delivered, with their stream, that are still
    // worth knowing: unread on the server, or in the newest second.
    std::map<TItemId, std::string> Known;
    std::set<TItemId> Unread;   // the server's unread ids at the last sync
    std::set<TItemId> Starred;  // and its starred ones
    // What the unread counts said at the last sync: the reading list's
    // newest stamp and the labels named (none yet: not known).
    std::int64_t NewestUsec = 0;
    std::optional<std::set<std::string>> CountedLabels;
    bool NoCounts = false;  // the server has no unread counts
    int SyncsSinceSubscriptionList = 0;
    bool SubscriptionsStale = true;
    // Sent since the last subscription list was handed over: kept until
    // one is, so that a sync failing in between loses none.
    std::vector<TSubscribeOutcome> Subscribed;

    std::string ToJson() const;
    // A state that is missing or damaged is the empty state (a full sync).
    static TSyncState FromJson(const std::string& text);
};

struct TSyncedItem {
    TItemId Id = 0;
    items::TStoredItem Item;
    bool Read = false;
};

// New items of one feed: a document (channel and items, as a stored copy
// would hold them) and the items for the store.
struct TFeedBatch {
    std::string StreamId;
    std::unique_ptr<feed::TFeedDocument> Document;
    std::vector<TSyncedItem> Items;
};

struct TReadChange {
    std::string StreamId;
    std::string Guid;  // the long item id: the item's guid in its feed
    bool Read = false;
};

// A star set or taken away elsewhere. FeedTitle is the subscription's, for
// the store to keep with the star.
struct TStarChange {
    std::string StreamId;
    std::string Guid;  // the long item id
    std::string FeedTitle;
    bool Starred = false;
};

struct TSubscriptionChanges {
    bool Listed = false;  // the list was fetched in this sync
    std::vector<TAccountFeed> Added;
    std::vector<TAccountFeed> Changed;  // renamed, moved, a new address
    std::vector<TAccountFeed> Removed;
    std::vector<std::string> Labels;  // every folder name, when listed
    // Subscriptions sent from here since the last list, in the order sent.
    std::vector<TSubscribeOutcome> Subscribed;
};

struct TSyncResult {
    bool Ok = false;
    std::optional<TSyncError> Error;
    TSubscriptionChanges Subscriptions;
    std::vector<TReadChange> ReadChanges;
    std::vector<TStarChange> StarChanges;  // for ApplyStarChanges
    int NewItemCount = 0;
    int SentChanges = 0;
    // Changes the server refused for good (an unknown feed, a bad address):
    // dropped from the queue, told to the user.
    std::vector<std::string> RejectedChanges;
    // After a failure, when to try again (nullopt: when the user acts).
    std::optional<std::chrono::system_clock::time_point> NextAttempt;
    int Requests = 0;
    std::size_t BytesReceived = 0;  // answer bodies on the wire, as Traffic.Body
    TTraffic Traffic;
};

struct TAccount {
    std::string Name;     // the queue's key in the store
    std::string Address;  // as typed: the API's base or the site's
    std::string User;
    std::string Password;
};

// Applies a sync's StarChanges to the store: feedIds gives the feed of each
// stream. A change for an item whose own star or unstar is still queued for
// `account` is passed by: the queued one is newer and reaches the server at
// the next sync. Returns the feeds whose stars changed.
std::set<std::string> ApplyStarChanges(items::TItemStore& store, const std::string& account,
                                       const std::vector<TStarChange>& changes,
                                       const std::map<std::string, std::string>& feedIds);

class TAccountSync {
public:
    // The subscription list every other sync, the tag list (a few bytes)
    // on the syncs between: a change made elsewhere shows within two.
    static constexpr int kSubscriptionListEvery = 2;
    // Pages of item ids and contents one sync may ask for, besides one a
    // batch of the items it wants: a server whose lists never end fails
    // the sync there. No list longer than kMostIdsPerList is taken.
    static constexpr int kPagesPerSync = 200;
    static constexpr std::size_t kMostIdsPerList = 250'000;
    // Ids asked for first when looking for items new since the last sync.
    static constexpr int kNewestPage = 50;

    // statePath: where the sync state lives (written atomically after each
    // sync); store: the item store holding the queue.
    TAccountSync(TAccount account, items::TItemStore& store, std::string statePath, TClock clock = {},
                 std::shared_ptr<http::TCancelToken> cancel = nullptr);

    // One sync. Never throws a TSyncError: failures are in the result, after
    // everything that succeeded before them (a change sent stays sent).
    TSyncResult Sync(const std::function<void(TFeedBatch&)>& onItems);

    TChangeQueue& Queue() { return FQueue; }
    const TSyncState& State() const { return FState; }
    // The client of the base that answered, for its limits and counters.
    TGReaderClient& Client() { return *FClient; }
    void SetPassword(std::string password) { FAccount.Password = std::move(password); }
    // Limits for every request of this account.
    void SetDeadline(std::chrono::milliseconds deadline);
    // The next sync reads the subscription and tag lists whatever their
    // turn: the user asked for it.
    void ListSubscriptionsNext() { FListAsked = true; }
    // Called as soon as a subscription list has been read, before the items
    // of the same sync arrive: the program makes its feeds for them first.
    void SetOnSubscriptions(std::function<void(const TSubscriptionChanges&)> handler) {
        FOnSubscriptions = std::move(handler);
    }

private:
    void SignIn();
    template <class F>
    auto Authorized(F&& request) -> decltype(request());
    void SendQueue(TSyncResult& result);
    void SendChange(const items::TPendingChange& change, std::vector<TItemId>& ids);
    // withTags: the tag list too, even when the subscriptions are as before;
    // tags: the tag list when it was read already.
    void ListSubscriptions(TSyncResult& result, bool withTags = false,
                           std::optional<std::vector<TTag>> tags = std::nullopt);
    void CheckTags(TSyncResult& result);
    // The unread counts, or nothing where the server has none.
    std::optional<TUnreadCounts> ReadCounts();
    // Whether a folder or tag can have been made, renamed or removed
    // elsewhere since the last sync.
    bool LabelsMayHaveMoved(const std::optional<TUnreadCounts>& counts) const;
    void FetchItems(TSyncResult& result, const std::function<void(TFeedBatch&)>& onItems,
                    const std::optional<TUnreadCounts>& counts);
    // Whether the unread list can have changed since the last sync; false
    // only when nothing new arrived and every feed's unread count is as the
    // last list makes it. Two changes that cancel out within one feed go
    // unseen until a count moves again, when the whole list is compared.
    bool UnreadListNeeded(const std::vector<TItemId>& sinceIds, const std::optional<TUnreadCounts>& counts) const;
    // Stars set or taken away since the last sync, from the server's list.
    void StarChanges(TSyncResult& result, const std::vector<TItemId>& starredIds);
    void SaveState() const;

    TAccount FAccount;
    items::TItemStore& FStore;
    std::string FStatePath;
    TClock FClock;
    std::shared_ptr<http::TCancelToken> FCancel;
    std::unique_ptr<TGReaderClient> FClient;
    bool FBaseConfirmed = false;
    int FPastRequests = 0;  // of clients set aside (candidate bases)
    TTraffic FPastTraffic;
    std::chrono::milliseconds FDeadline{120'000};
    TChangeQueue FQueue;
    TSyncState FState;
    TBackoff FBackoff;
    std::function<void(const TSubscriptionChanges&)> FOnSubscriptions;
    bool FListAsked = false;
};

}  // namespace greader
