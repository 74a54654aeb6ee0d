#include "AccountSync.h"

#include <nlohmann/json.hpp>

#include "ItemFromFeed.h"
#include "ItemIdentity.h"

#include <algorithm>
#include <utility>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace greader {

namespace {

using json = nlohmann::json;

// Read marks sent in one edit-tag: a long list in one post, short enough
// for any server's form limits.
constexpr std::size_t kMarksPerRequest = 500;

std::string LabelId(const std::string& name) { return kLabelPrefix + name; }

// The queued kinds that tag items, with the tag each adds or removes.
struct TTagEdit {
    const char* Kind;
    const char* Add;
    const char* Remove;
};
constexpr TTagEdit kTagEdits[] = {
    {kMarkRead, kReadState, ""},
    {kMarkUnread, "", kReadState},
    {kStar, kStarredState, ""},
    {kUnstar, "", kStarredState},
};

const TTagEdit* TagEditOf(const std::string& kind) {
    for (const TTagEdit& edit : kTagEdits)
        if (kind == edit.Kind) return &edit;
    return nullptr;
}

// The item ids a queued tag edit names; damaged entries are passed by.
std::vector<TItemId> IdsOf(const json& payload) {
    std::vector<TItemId> ids;
    if (!payload.is_object()) return ids;
    for (const json& id : payload.value("ids", json::array()))
        if (id.is_string())
            if (const auto parsed = ParseItemId(id.get_ref<const std::string&>())) ids.push_back(*parsed);
    return ids;
}

// Folders come with the subscriptions; the tag list adds the empty ones.
std::vector<std::string> LabelsOf(const std::vector<TSubscription>& list, const std::vector<TTag>& tags) {
    std::set<std::string> labels;
    for (const auto& s : list)
        for (const auto& folder : AccountFeedFrom(s).Folders) labels.insert(folder);
    for (const auto& tag : tags) {
        const std::string name = LabelName(tag.Id);
        if (!name.empty() && tag.Type != "tag") labels.insert(name);
    }
    return {labels.begin(), labels.end()};
}

std::int64_t SecondsOf(const TApiItem& item) {
    if (item.TimestampUsec > 0) return item.TimestampUsec / 1'000'000;
    return item.Published;
}

}  // namespace

std::optional<TBackoff::TimePoint> TBackoff::Failed(const TSyncError& error, TimePoint now) {
    switch (error.Kind()) {
        case TSyncErrorKind::Server:
        case TSyncErrorKind::TimedOut:
        case TSyncErrorKind::Unreachable:
        case TSyncErrorKind::Malformed:
            break;
        default:
            return std::nullopt;
    }
    const int doublings = std::min(FFailures, 16);
    ++FFailures;
    auto delay = std::min<std::chrono::seconds>(kFirst * (1LL << doublings), kLongest);
    TimePoint next = now + delay;
    if (error.RetryAfter() && *error.RetryAfter() > next) next = *error.RetryAfter();
    return next;
}

std::string TSyncState::ToJson() const {
    json out;
    out["newest"] = NewestSeconds;
    out["sinceList"] = SyncsSinceSubscriptionList;
    out["stale"] = SubscriptionsStale;
    json subscriptions = json::array();
    for (const auto& s : Subscriptions) {
        json categories = json::array();
        for (const auto& c : s.Categories) categories.push_back({{"id", c.Id}, {"label", c.Label}});
        subscriptions.push_back(
            {{"id", s.Id}, {"title", s.Title}, {"url", s.Url}, {"htmlUrl", s.HtmlUrl}, {"categories", categories}});
    }
    out["subscriptions"] = subscriptions;
    out["labels"] = Labels;
    json known = json::object();
    for (const auto& [id, stream] : Known) known[stream].push_back(id);
    out["known"] = known;
    out["unread"] = json(std::vector<TItemId>(Unread.begin(), Unread.end()));
    out["starred"] = json(std::vector<TItemId>(Starred.begin(), Starred.end()));
    out["newestUsec"] = NewestUsec;
    if (CountedLabels)
        out["countedLabels"] = json(std::vector<std::string>(CountedLabels->begin(), CountedLabels->end()));
    out["noCounts"] = NoCounts;
    json subscribed = json::array();
    for (const auto& s : Subscribed) subscribed.push_back({{"url", s.Url}, {"stream", s.Stream}, {"error", s.Error}});
    out["subscribed"] = subscribed;
    return out.dump();
}

TSyncState TSyncState::FromJson(const std::string& text) {
    TSyncState state;
    const json in = json::parse(text, nullptr, false);
    if (!in.is_object()) return state;
    try {
        state.NewestSeconds = in.value("newest", std::int64_t{0});
        state.SyncsSinceSubscriptionList = in.value("sinceList", 0);
        state.SubscriptionsStale = in.value("stale", true);
        for (const json& s : in.value("subscriptions", json::array())) {
            TSubscription subscription{
                s.at("id").get<std::string>(), s.value("title", ""), s.value("url", ""), s.value("htmlUrl", ""), {}};
            for (const json& c : s.value("categories", json::array()))
                subscription.Categories.push_back({c.value("id", ""), c.value("label", "")});
            state.Subscriptions.push_back(std::move(subscription));
        }
        state.Labels = in.value("labels", std::vector<std::string>{});
        const json known = in.value("known", json::object());
        for (const auto& [stream, ids] : known.items())
            for (const json& id : ids) state.Known[id.get<TItemId>()] = stream;
        for (const json& id : in.value("unread", json::array())) state.Unread.insert(id.get<TItemId>());
        for (const json& id : in.value("starred", json::array())) state.Starred.insert(id.get<TItemId>());
        state.NewestUsec = in.value("newestUsec", std::int64_t{0});
        if (in.contains("countedLabels")) state.CountedLabels = in.at("countedLabels").get<std::set<std::string>>();
        state.NoCounts = in.value("noCounts", false);
        for (const json& s : in.value("subscribed", json::array()))
            state.Subscribed.push_back({s.value("url", ""), s.value("stream", ""), s.value("error", "")});
    } catch (const json::exception&) {
        return TSyncState{};
    }
    return state;
}

TAccountSync::TAccountSync(TAccount account, items::TItemStore& store, std::string statePath, TClock clock,
                           std::shared_ptr<http::TCancelToken> cancel)
    : FAccount(std::move(account)),
      FStore(store),
      FStatePath(std::move(statePath)),
      FClock(clock ? std::move(clock) : TClock([] { return std::chrono::system_clock::now(); })),
      FCancel(cancel ? std::move(cancel) : std::make_shared<http::TCancelToken>()),
      FQueue(store, FAccount.Name,
             [this] { return std::chrono::duration_cast<std::chrono::seconds>(FClock().time_since_epoch()).count(); }) {
    FClient = std::make_unique<TGReaderClient>(TGReaderClient::CandidateBases(FAccount.Address).front(), FCancel);
    std::ifstream in(FStatePath, std::ios::binary);
    if (in) {
        std::stringstream text;
        text << in.rdbuf();
        FState = TSyncState::FromJson(text.str());
    }
}

void TAccountSync::SetDeadline(std::chrono::milliseconds deadline) {
    FDeadline = deadline;
    FClient->SetDeadline(deadline);
}

void TAccountSync::SignIn() {
    if (FBaseConfirmed) {
        FClient->ClientLogin(FAccount.User, FAccount.Password);
        return;
    }
    // The address may be the API's or a site's: the first base that answers
    // as the API is kept for good.
    const auto bases = TGReaderClient::CandidateBases(FAccount.Address);
    for (std::size_t i = 0; i < bases.size(); ++i) {
        auto client = std::make_unique<TGReaderClient>(bases[i], FCancel);
        client->SetDeadline(FDeadline);
        try {
            client->ClientLogin(FAccount.User, FAccount.Password);
            FPastRequests += FClient->RequestCount();
            FPastTraffic += FClient->Traffic();
            FClient = std::move(client);
            FBaseConfirmed = true;
            return;
        } catch (const TSyncError& error) {
            FPastRequests += client->RequestCount();
            FPastTraffic += client->Traffic();
            if (error.Kind() != TSyncErrorKind::NotGoogleReader || i + 1 == bases.size()) throw;
        }
    }
}

template <class F>
auto TAccountSync::Authorized(F&& request) -> decltype(request()) {
    try {
        return request();
    } catch (const TSyncError& error) {
        if (error.Kind() != TSyncErrorKind::Unauthorized) throw;
    }
    // Sessions expire: sign in once more with the password we hold. If the
    // server refuses that too, the user is asked (WrongPassword).
    FClient->SetAuthToken({});
    SignIn();
    return request();
}

void TAccountSync::SendChange(const items::TPendingChange& change, std::vector<TItemId>& ids) {
    const json payload = json::parse(change.Payload, nullptr, false);
    if (!payload.is_object()) throw TSyncError(TSyncErrorKind::Rejected, "A queued change is damaged");
    const auto text = [&](const char* name) {
        const auto it = payload.find(name);
        return it != payload.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    if (TagEditOf(change.Kind)) {
        const std::vector<TItemId> named = IdsOf(payload);
        ids.insert(ids.end(), named.begin(), named.end());
        return;  // sent in a group by the caller
    }
    FState.SubscriptionsStale = true;
    if (change.Kind == kSubscribe) {
        std::string stream;
        try {
            stream = Authorized([&] { return FClient->QuickAdd(text("url")); });
        } catch (const TSyncError& error) {
            if (error.Kind() == TSyncErrorKind::Rejected) FState.Subscribed.push_back({text("url"), {}, error.what()});
            throw;
        }
        // Kept before the title and folder are set: if that fails, the
        // subscription exists all the same.
        FState.Subscribed.push_back({text("url"), stream, {}});
        if (!text("title").empty() || !text("folder").empty()) {
            TSubscriptionEdit edit{TSubscriptionEdit::TAction::Edit, stream, text("title"), {}, {}};
            if (!text("folder").empty()) edit.AddLabels.push_back(LabelId(text("folder")));
            Authorized([&] { FClient->EditSubscription(edit); });
        }
    } else if (change.Kind == kRename) {
        TSubscriptionEdit edit{TSubscriptionEdit::TAction::Edit, text("stream"), text("title"), {}, {}};
        Authorized([&] { FClient->EditSubscription(edit); });
    } else if (change.Kind == kMove) {
        TSubscriptionEdit edit{TSubscriptionEdit::TAction::Edit, text("stream"), {}, {}, {}};
        if (!text("to").empty()) edit.AddLabels.push_back(LabelId(text("to")));
        if (!text("from").empty()) edit.RemoveLabels.push_back(LabelId(text("from")));
        Authorized([&] { FClient->EditSubscription(edit); });
    } else if (change.Kind == kUnsubscribe) {
        TSubscriptionEdit edit{TSubscriptionEdit::TAction::Unsubscribe, text("stream"), {}, {}, {}};
        Authorized([&] { FClient->EditSubscription(edit); });
    } else if (change.Kind == kRenameLabel) {
        Authorized([&] { FClient->RenameTag(LabelId(text("name")), text("to")); });
    } else if (change.Kind == kDeleteLabel) {
        Authorized([&] { FClient->DisableTag(LabelId(text("name"))); });
    } else {
        throw TSyncError(TSyncErrorKind::Rejected, "Unknown queued change " + change.Kind);
    }
}

void TAccountSync::SendQueue(TSyncResult& result) {
    const auto pending = FStore.Pending(FAccount.Name);
    std::size_t i = 0;
    while (i < pending.size()) {
        // Consecutive marks or stars of one kind go out together; the order
        // between kinds is kept, so "read, then unread again" ends unread.
        std::vector<std::int64_t> rows;
        std::vector<TItemId> ids;
        const std::string kind = pending[i].Kind;
        try {
            if (const TTagEdit* edit = TagEditOf(kind)) {
                while (i < pending.size() && pending[i].Kind == kind && ids.size() < kMarksPerRequest) {
                    SendChange(pending[i], ids);
                    rows.push_back(pending[i++].Id);
                }
                if (!ids.empty()) Authorized([&] { FClient->EditTag(ids, edit->Add, edit->Remove); });
            } else {
                rows.push_back(pending[i].Id);
                SendChange(pending[i++], ids);
            }
        } catch (const TSyncError& error) {
            if (error.Kind() != TSyncErrorKind::Rejected) throw;
            // The server will never take it: keeping it would block the queue.
            result.RejectedChanges.push_back(kind + ": " + error.what());
        }
        for (const auto row : rows) FStore.RemovePending(row);
        result.SentChanges += static_cast<int>(rows.size());
    }
}

void TAccountSync::ListSubscriptions(TSyncResult& result, bool withTags, std::optional<std::vector<TTag>> tags) {
    auto list = Authorized([&] { return FClient->SubscriptionList(); });
    auto& changes = result.Subscriptions;
    changes = {};
    changes.Listed = true;
    const bool first = FState.Subscriptions.empty() && FState.Labels.empty();
    std::map<std::string, const TSubscription*> before;
    for (const auto& s : FState.Subscriptions) before[s.Id] = &s;
    bool changed = first;
    for (const auto& s : list) {
        const auto it = before.find(s.Id);
        if (it == before.end()) {
            changes.Added.push_back(AccountFeedFrom(s));
            changed = true;
        } else {
            if (!(*it->second == s)) {
                changes.Changed.push_back(AccountFeedFrom(s));
                changed = true;
            }
            before.erase(it);
        }
    }
    for (const auto& [id, s] : before) {
        changes.Removed.push_back(AccountFeedFrom(*s));
        changed = true;
    }
    if (changed || withTags || tags) {
        if (!tags) tags = Authorized([&] { return FClient->TagList(); });
        FState.Labels = LabelsOf(list, *tags);
    }
    changes.Labels = FState.Labels;
    changes.Subscribed = FState.Subscribed;
    FState.Subscriptions = std::move(list);
    FState.SyncsSinceSubscriptionList = 0;
    FState.SubscriptionsStale = false;
    if (FOnSubscriptions) FOnSubscriptions(changes);
    // Handed over: the program has tied them to its feeds.
    FState.Subscribed.clear();
}

void TAccountSync::CheckTags(TSyncResult& result) {
    auto tags = Authorized([&] { return FClient->TagList(); });
    // A folder made, renamed or removed elsewhere: the subscriptions tell
    // which feeds moved with it.
    if (LabelsOf(FState.Subscriptions, tags) != FState.Labels) ListSubscriptions(result, true, std::move(tags));
}

std::optional<TUnreadCounts> TAccountSync::ReadCounts() {
    if (FState.NoCounts) return std::nullopt;
    try {
        return Authorized([&] { return FClient->UnreadCounts(); });
    } catch (const TSyncError& error) {
        const bool unknown = error.Kind() == TSyncErrorKind::Rejected || error.Kind() == TSyncErrorKind::Malformed ||
                             error.Kind() == TSyncErrorKind::NotGoogleReader || error.StatusCode() == 501;
        if (!unknown) throw;
        // Not asked again: the lists it stands in for are.
        FState.NoCounts = true;
        return std::nullopt;
    }
}

bool TAccountSync::LabelsMayHaveMoved(const std::optional<TUnreadCounts>& counts) const {
    if (!counts || !FState.CountedLabels) return true;
    // Counts that name no label while the account has folders say nothing
    // of them.
    if (counts->Labels.empty() && !FState.Labels.empty()) return true;
    return counts->Labels != *FState.CountedLabels;
}

void TAccountSync::FetchItems(TSyncResult& result, const std::function<void(TFeedBatch&)>& onItems,
                              const std::optional<TUnreadCounts>& counts) {
    FClient->LimitPages(kPagesPerSync);
    TIdQuery since;
    if (FState.NewestSeconds > 0) since.Since = FState.NewestSeconds;
    // The list comes newest first, and ot repeats the newest second, which
    // holds every item of a server's refresh (thousands, stamped alike). A
    // small first page that is all known means nothing is new: the rest is
    // not asked for, and what is known stays known. Otherwise the whole
    // list is read, as a first sync does.
    std::vector<TItemId> sinceIds;
    bool sinceListWhole = true;
    bool sinceListRead = false;
    if (FState.NewestSeconds > 0 && counts && counts->NewestUsec > 0 && counts->NewestUsec == FState.NewestUsec) {
        // The reading list's newest item is the one of the last sync:
        // nothing new, and what is known stays known.
        sinceListWhole = false;
        sinceListRead = true;
    } else if (FState.NewestSeconds > 0) {
        TIdQuery newest = since;
        newest.PageSize = kNewestPage;
        TIdPage page = Authorized([&] { return FClient->ItemIds(newest, {}); });
        const bool allKnown =
            std::all_of(page.Ids.begin(), page.Ids.end(), [this](TItemId id) { return FState.Known.count(id) > 0; });
        if (allKnown) {
            sinceListWhole = page.Continuation.empty();
            sinceListRead = true;
            sinceIds = std::move(page.Ids);
        }
    }
    if (!sinceListRead) sinceIds = Authorized([&] { return FClient->AllItemIds(since, kMostIdsPerList); });
    TIdQuery unreadQuery;
    unreadQuery.Exclude = kReadState;
    const auto unreadIds = UnreadListNeeded(sinceIds, counts)
                               ? Authorized([&] { return FClient->AllItemIds(unreadQuery, kMostIdsPerList); })
                               : std::vector<TItemId>(FState.Unread.begin(), FState.Unread.end());
    const std::set<TItemId> unread(unreadIds.begin(), unreadIds.end());
    // Stars, like read state, are told only by the whole list; it is short.
    TIdQuery starredQuery;
    starredQuery.Stream = kStarredState;
    const auto starredIds = Authorized([&] { return FClient->AllItemIds(starredQuery, kMostIdsPerList); });

    // What the store lacks: new since the last sync, or unread or starred
    // and never delivered (an item the last answer missed, unread again
    // after it was forgotten, an old item starred elsewhere).
    const std::initializer_list<const std::vector<TItemId>*> lists{&sinceIds, &unreadIds, &starredIds};
    std::vector<TItemId> wanted;
    std::set<TItemId> wantedSet;
    for (const std::vector<TItemId>* list : lists)
        for (const TItemId id : *list)
            if (!FState.Known.count(id) && wantedSet.insert(id).second) wanted.push_back(id);

    std::map<std::string, const TSubscription*> subscriptions;
    for (const auto& s : FState.Subscriptions) subscriptions[s.Id] = &s;
    // The contents of what is wanted, at the smallest batch any server
    // takes, on top of the lists' pages.
    FClient->AllowMorePages(static_cast<int>((wanted.size() + TGReaderClient::kFirstContentsBatch - 1) /
                                             TGReaderClient::kFirstContentsBatch));
    std::int64_t newest = FState.NewestSeconds;
    Authorized([&] {
        // A retried request starts again with what is still missing.
        std::vector<TItemId> missing;
        for (const TItemId id : wanted)
            if (!FState.Known.count(id)) missing.push_back(id);
        FClient->ItemContents(missing, [&](std::vector<TApiItem>& batch) {
            std::map<std::string, TFeedBatch> feeds;
            for (const TApiItem& item : batch) {
                TFeedBatch& out = feeds[item.StreamId];
                if (!out.Document) {
                    out.StreamId = item.StreamId;
                    const auto it = subscriptions.find(item.StreamId);
                    if (it != subscriptions.end()) {
                        out.Document = NewFeedDocument(AccountFeedFrom(*it->second));
                    } else {
                        // A subscription made elsewhere since the list was read.
                        FState.SubscriptionsStale = true;
                        out.Document = NewFeedDocument({item.StreamId, item.StreamTitle, {}, item.StreamHtmlUrl, {}});
                    }
                }
                const feed::TRSSItem& added = AppendItem(*out.Document, item);
                out.Items.push_back({item.Id, items::StoredItemFromFeed(added), IsRead(item)});
                FState.Known[item.Id] = item.StreamId;
                newest = std::max(newest, SecondsOf(item));
            }
            for (auto& [stream, feedBatch] : feeds) {
                result.NewItemCount += static_cast<int>(feedBatch.Items.size());
                if (onItems) onItems(feedBatch);
            }
        });
    });

    // Read elsewhere: unread at the last sync, not now; unread again: the
    // reverse, for items delivered before this sync. One read at an earlier
    // sync was forgotten and came again just now, but the store keeps the
    // read state of an item it holds: it is told too. Only the items new
    // since the last sync arrived with their state.
    for (const TItemId id : FState.Unread)
        if (!unread.count(id))
            if (const auto it = FState.Known.find(id); it != FState.Known.end())
                result.ReadChanges.push_back({it->second, LongItemId(id), true});
    const std::set<TItemId> sinceSet(sinceIds.begin(), sinceIds.end());
    for (const TItemId id : unread)
        if (!FState.Unread.count(id) && !(wantedSet.count(id) && sinceSet.count(id)))
            if (const auto it = FState.Known.find(id); it != FState.Known.end())
                result.ReadChanges.push_back({it->second, LongItemId(id), false});
    StarChanges(result, starredIds);

    // Remember only what the next sync can meet again: unread and starred
    // items and the newest second's (ot repeats that second).
    // With only the newest page read, the rest of the second is still known.
    if (sinceListWhole) {
        std::map<TItemId, std::string> keep;
        for (const std::vector<TItemId>* list : lists)
            for (const TItemId id : *list)
                if (const auto it = FState.Known.find(id); it != FState.Known.end()) keep.insert(*it);
        FState.Known = std::move(keep);
    }
    FState.Unread = unread;
    FState.NewestSeconds = newest;
    if (counts) FState.NewestUsec = counts->NewestUsec;
}

void TAccountSync::StarChanges(TSyncResult& result, const std::vector<TItemId>& starredIds) {
    std::map<std::string, std::string> titles;
    for (const auto& s : FState.Subscriptions) titles[s.Id] = s.Title;
    const std::set<TItemId> starred(starredIds.begin(), starredIds.end());
    const auto tell = [&](TItemId id, bool isStarred) {
        if (const auto it = FState.Known.find(id); it != FState.Known.end())
            result.StarChanges.push_back({it->second, LongItemId(id), titles[it->second], isStarred});
    };
    for (const TItemId id : starred)
        if (!FState.Starred.count(id)) tell(id, true);
    for (const TItemId id : FState.Starred)
        if (!starred.count(id)) tell(id, false);
    FState.Starred = starred;
}

std::set<std::string> ApplyStarChanges(items::TItemStore& store, const std::string& account,
                                       const std::vector<TStarChange>& changes,
                                       const std::map<std::string, std::string>& feedIds) {
    std::set<std::string> waiting;
    for (const items::TPendingChange& change : store.Pending(account))
        if (change.Kind == kStar || change.Kind == kUnstar)
            for (const TItemId id : IdsOf(json::parse(change.Payload, nullptr, false))) waiting.insert(LongItemId(id));
    std::set<std::string> changed;
    for (const TStarChange& change : changes) {
        const auto feed = feedIds.find(change.StreamId);
        if (feed == feedIds.end() || waiting.count(change.Guid)) continue;
        items::TStoredItem key;
        key.Guid = change.Guid;
        if (store.SetItemStarred(feed->second, items::ItemKey(key), change.Starred, change.FeedTitle))
            changed.insert(feed->second);
    }
    return changed;
}

bool TAccountSync::UnreadListNeeded(const std::vector<TItemId>& sinceIds,
                                    const std::optional<TUnreadCounts>& counts) const {
    if (FState.NewestSeconds == 0 || !counts) return true;
    for (const TItemId id : sinceIds)
        if (!FState.Known.count(id)) return true;
    std::map<std::string, std::int64_t> expected;
    for (const TItemId id : FState.Unread) {
        const auto it = FState.Known.find(id);
        if (it == FState.Known.end()) return true;
        ++expected[it->second];
    }
    std::map<std::string, std::int64_t> feeds;
    for (const auto& [stream, count] : counts->Counts)
        if (stream.starts_with("feed/") && count > 0) feeds[stream] = count;
    return feeds != expected;
}

TSyncResult TAccountSync::Sync(const std::function<void(TFeedBatch&)>& onItems) {
    TSyncResult result;
    const int requestsBefore = FPastRequests + FClient->RequestCount();
    const TTraffic before = FPastTraffic + FClient->Traffic();
    try {
        if (!FClient->SignedIn()) SignIn();
        SendQueue(result);
        ++FState.SyncsSinceSubscriptionList;
        const bool asked = std::exchange(FListAsked, false);
        const std::optional<TUnreadCounts> counts = ReadCounts();
        if (FState.SubscriptionsStale || asked || FState.SyncsSinceSubscriptionList >= kSubscriptionListEvery)
            ListSubscriptions(result, asked);
        else if (LabelsMayHaveMoved(counts))
            CheckTags(result);
        const bool listed = result.Subscriptions.Listed;
        FetchItems(result, onItems, counts);
        if (FState.SubscriptionsStale && !listed) ListSubscriptions(result);
        if (counts) FState.CountedLabels = counts->Labels;
        FBackoff.Succeeded();
        result.Ok = true;
    } catch (const TSyncError& error) {
        result.Error = error;
        result.NextAttempt = FBackoff.Failed(error, FClock());
    }
    SaveState();
    result.Requests = FPastRequests + FClient->RequestCount() - requestsBefore;
    result.Traffic = FPastTraffic + FClient->Traffic() - before;
    result.BytesReceived = result.Traffic.Body;
    return result;
}

void TAccountSync::SaveState() const {
    if (FStatePath.empty()) return;
    const std::string temporary = FStatePath + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << FState.ToJson();
        out.flush();
        if (!out) return;
    }
    std::rename(temporary.c_str(), FStatePath.c_str());
}

}  // namespace greader
