#include "SubscriptionMerge.h"

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "GReaderMapping.h"

namespace accounts {

using feedlist::TFeedEntry;
using feedlist::TFeedList;
using feedlist::TListEntry;

namespace {

void SetRefusal(TFeedEntry& feed, const std::string& words) {
    for (auto& [name, value] : feed.Other)
        if (name == kRefusedAttribute) {
            value = words;
            return;
        }
    feed.Other.emplace_back(kRefusedAttribute, words);
}

void ClearRefusal(TFeedEntry& feed) {
    std::erase_if(feed.Other, [](const auto& attribute) { return attribute.first == kRefusedAttribute; });
}

std::string FirstLabel(const greader::TAccountFeed& feed) {
    return feed.Folders.empty() ? std::string() : feed.Folders.front();
}

}  // namespace

std::string RefusalOf(const TFeedEntry& feed) {
    for (const auto& [name, value] : feed.Other)
        if (name == kRefusedAttribute) return value;
    return {};
}

std::vector<int> TMergeResult::Forgotten() const {
    std::vector<int> ids = Removed;
    ids.insert(ids.end(), Adopted.begin(), Adopted.end());
    return ids;
}

bool TMergeResult::ListChanged() const {
    return !Added.empty() || !Adopted.empty() || !Renamed.empty() || !Moved.empty() || !Readdressed.empty() ||
           !Removed.empty() || !Refused.empty() || !FoldersAdded.empty() || !FoldersRemoved.empty();
}

// Every lookup goes through an index made once, so that a list of tens of
// thousands merges in time that grows with it.
struct TSubscriptionMerge::TState {
    TFeedList& List;
    const TListEntry* Account = nullptr;
    std::string Now;
    TMergeResult Result;

    std::unordered_map<std::string, const TListEntry*> LabelFolders;
    std::unordered_map<std::string, const TListEntry*> ByStream;
    // Added here, not yet the server's: in the list's order, and by address.
    std::vector<const TListEntry*> Waiting;
    std::unordered_map<std::string, std::deque<const TListEntry*>> WaitingAt;
    std::unordered_set<const TListEntry*> Taken;
    std::unordered_set<const TListEntry*> Adopted;
    // Where each of the server's feeds belongs, in the order they were met.
    std::vector<std::pair<const TListEntry*, std::string>> Placements;

    TState(TFeedList& list, const std::string& accountId, plat::TDateTime now)
        : List(list), Account(list.FindAccount(accountId)), Now(plat::FormatISO8601(now)) {}

    // The folder of a label, made when missing; the account's own for none,
    // and for a label whose folder would nest too deep.
    const TListEntry* FolderFor(const std::string& label) {
        if (label.empty()) return Account;
        const TListEntry*& folder = LabelFolders[label];
        if (!folder) {
            folder = List.AddFolder(*Account, feedlist::NewFolder(label));
            if (!folder) return Account;
            Result.FoldersAdded.push_back(label);
        }
        return folder;
    }

    // The label a row's folder stands for: "" in the account's own folder.
    std::string LabelOf(const TListEntry& row) const {
        const TListEntry* parent = row.Parent();
        return !parent || parent->IsAccount() ? std::string() : parent->Caption();
    }

    void AddWaiting(const TListEntry* feed) {
        Taken.erase(feed);
        Waiting.push_back(feed);
        WaitingAt[greader::LooseAddress(feed->Feed().Url)].push_back(feed);
    }

    // The waiting feed of the first address that names one, taken out.
    const TListEntry* TakeWaiting(std::initializer_list<const std::string*> addresses) {
        for (const std::string* address : addresses) {
            if (address->empty()) continue;
            const auto found = WaitingAt.find(greader::LooseAddress(*address));
            if (found == WaitingAt.end()) continue;
            auto& feeds = found->second;
            while (!feeds.empty() && Taken.count(feeds.front())) feeds.pop_front();
            if (feeds.empty()) continue;
            const TListEntry* feed = feeds.front();
            feeds.pop_front();
            Taken.insert(feed);
            return feed;
        }
        return nullptr;
    }

    // Subscribed from here: the feed becomes the server's where it stands.
    void Adopt(const TListEntry* feed, const std::string& stream) {
        List.UpdateFeed(*feed, [&](TFeedEntry& entry) {
            entry.Stream = stream;
            ClearRefusal(entry);
            entry.Unread = 0;
        });
        Result.Adopted.push_back(feed->Feed().Id);
        ByStream[stream] = feed;
        Adopted.insert(feed);
    }

    void Follow(const greader::TAccountFeed& server, const TListEntry* feed) {
        const std::string label = FirstLabel(server);
        if (!feed) {
            TFeedEntry entry;
            entry.Url = server.Url;
            entry.Caption = server.Title;
            entry.LastUpdate = Now;
            entry.Stream = server.Id;
            const TListEntry* added = List.AddFeed(*FolderFor(label), std::move(entry));
            if (!added) return;
            ByStream[server.Id] = added;
            Result.Added.push_back(added->Feed().Id);
            return;
        }
        const TFeedEntry& now = feed->Feed();
        const bool readdressed = !server.Url.empty() && server.Url != now.Url;
        if (Adopted.count(feed)) {
            // A name or label given here while it waited wins, and goes to
            // the server; the feed keeps its place.
            const std::string here = LabelOf(*feed);
            if (!now.Caption.empty() && now.Caption != server.Title)
                Result.ToSend.push_back({TServerChange::TKind::Rename, server.Id, now.Caption, {}, {}});
            if (here != label) Result.ToSend.push_back({TServerChange::TKind::Move, server.Id, {}, label, here});
            const bool named = now.Caption.empty();
            if (readdressed || named)
                List.UpdateFeed(*feed, [&](TFeedEntry& entry) {
                    if (readdressed) entry.Url = server.Url;
                    if (named) entry.Caption = server.Title;
                });
            if (readdressed) Result.Readdressed.push_back(now.Id);
            if (named) Result.Renamed.push_back(now.Id);
            return;
        }
        const bool renamed = now.Caption != server.Title;
        if (readdressed || renamed)
            List.UpdateFeed(*feed, [&](TFeedEntry& entry) {
                if (readdressed) entry.Url = server.Url;
                entry.Caption = server.Title;
            });
        if (readdressed) Result.Readdressed.push_back(now.Id);
        if (renamed) Result.Renamed.push_back(now.Id);
        Placements.emplace_back(feed, label);
    }
};

TSubscriptionMerge::TSubscriptionMerge(TFeedList& list, const std::string& accountId, plat::TDateTime now)
    : F(std::make_unique<TState>(list, accountId, now)) {}

TSubscriptionMerge::~TSubscriptionMerge() = default;

const TMergeResult& TSubscriptionMerge::Result() const { return F->Result; }

void TSubscriptionMerge::MergeServerFolders(const greader::TSubscriptionChanges& changes) {
    if (!F->Account) return;
    // The first of two folders of one name holds the label.
    for (const auto& child : F->Account->Children())
        if (child->IsFolder()) F->LabelFolders.emplace(child->Caption(), child.get());
    if (changes.Listed)
        for (const std::string& label : changes.Labels) F->FolderFor(label);
}

void TSubscriptionMerge::MergeServerFeeds(const greader::TSubscriptionChanges& changes) {
    TState& s = *F;
    if (!s.Account) return;
    const std::vector<const TListEntry*> feeds = FeedsUnder(*s.Account);
    s.ByStream.reserve(feeds.size() + changes.Added.size());
    for (const TListEntry* feed : feeds) {
        if (!feed->Feed().Stream.empty())
            s.ByStream.emplace(feed->Feed().Stream, feed);
        else
            s.AddWaiting(feed);
    }
    std::vector<const TListEntry*> doomed;
    // The streams the server answered for subscriptions sent from here.
    std::map<std::string, const TListEntry*> expected;
    for (const greader::TSubscribeOutcome& outcome : changes.Subscribed) {
        const TListEntry* feed = s.TakeWaiting({&outcome.Url});
        if (!feed) continue;
        if (outcome.Stream.empty()) {
            // Refused: the feed stays, failing, for the user to mend or delete.
            s.List.UpdateFeed(*feed, [&](TFeedEntry& entry) { SetRefusal(entry, outcome.Error); });
            s.Result.Refused.push_back(feed->Feed().Id);
        } else if (s.ByStream.count(outcome.Stream)) {
            // The account follows that feed already: this was a second one.
            doomed.push_back(feed);
        } else {
            expected.emplace(outcome.Stream, feed);
        }
    }
    // By stream first: the feed's own, or the one answered for a
    // subscription; then, for the rest, by address loosely (the server's
    // address or its site's against the one typed here).
    std::vector<const greader::TAccountFeed*> unmatched;
    for (const auto* list : {&changes.Added, &changes.Changed})
        for (const greader::TAccountFeed& server : *list) {
            if (const auto found = s.ByStream.find(server.Id); found != s.ByStream.end()) {
                s.Follow(server, found->second);
            } else if (const auto sent = expected.find(server.Id); sent != expected.end()) {
                s.Adopt(sent->second, server.Id);
                s.Follow(server, sent->second);
                expected.erase(sent);
            } else {
                unmatched.push_back(&server);
            }
        }
    // An answered stream the list does not name (a server that answers the
    // address it was given): the feed is matched by address instead.
    for (const auto& [stream, feed] : expected) s.AddWaiting(feed);
    for (const greader::TAccountFeed* server : unmatched) {
        const TListEntry* feed = s.TakeWaiting({&server->Url, &server->HtmlUrl});
        if (feed) s.Adopt(feed, server->Id);
        s.Follow(*server, feed);
    }
    for (const greader::TAccountFeed& server : changes.Removed)
        if (const auto found = s.ByStream.find(server.Id); found != s.ByStream.end()) doomed.push_back(found->second);
    // A refusal read from the list saved before a restart shows again.
    for (const TListEntry* feed : s.Waiting)
        if (!s.Taken.count(feed) && !RefusalOf(feed->Feed()).empty()) s.Result.Refused.push_back(feed->Feed().Id);

    std::unordered_set<const TListEntry*> gone;
    std::erase_if(doomed, [&gone](const TListEntry* feed) { return !gone.insert(feed).second; });
    std::erase_if(s.Placements, [&gone](const auto& placement) { return gone.count(placement.first) > 0; });
    for (const TListEntry* feed : doomed) s.Result.Removed.push_back(feed->Feed().Id);
    s.List.RemoveAll(doomed);
}

void TSubscriptionMerge::PlaceFeedsInFolders(const greader::TSubscriptionChanges& changes) {
    TState& s = *F;
    if (!s.Account) return;
    for (const auto& [feed, label] : s.Placements) {
        const TListEntry* folder = s.FolderFor(label);
        if (feed->Parent() != folder && s.List.Move(*feed, *folder)) s.Result.Moved.push_back(feed->Feed().Id);
    }
    if (!changes.Listed) return;
    // Folders whose label has gone, once they are empty.
    const std::unordered_set<std::string> labels(changes.Labels.begin(), changes.Labels.end());
    std::vector<const TListEntry*> emptied;
    for (const auto& child : s.Account->Children())
        if (child->IsFolder() && child->ChildCount() == 0 && !labels.count(child->Caption()))
            emptied.push_back(child.get());
    for (const TListEntry* folder : emptied) s.Result.FoldersRemoved.push_back(folder->Caption());
    s.List.RemoveAll(emptied);
}

TMergeResult ApplySubscriptionList(TFeedList& list, const std::string& accountId,
                                   const greader::TSubscriptionChanges& changes, plat::TDateTime now) {
    TSubscriptionMerge merge(list, accountId, now);
    merge.MergeServerFolders(changes);
    merge.MergeServerFeeds(changes);
    merge.PlaceFeedsInFolders(changes);
    return merge.Result();
}

}  // namespace accounts
