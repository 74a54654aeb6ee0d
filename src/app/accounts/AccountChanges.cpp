// What the user does in an account's part of the list, kept in the item
// store as changes for its server and sent with the next sync: items read
// and unread, feeds and labels renamed, moved, deleted, subscribed to.
#include <nlohmann/json.hpp>

#include <set>

#include "AccountController.h"

#include "AccountList.h"
#include "AccountSyncRunner.h"
#include "ChangeQueue.h"
#include "FeedList.h"
#include "FeedListController.h"
#include "GReaderMapping.h"
#include "ItemBase.h"
#include "ItemStore.h"
#include "Opml.h"
#include "ReadStateController.h"
#include "SubscriptionMerge.h"

namespace {

std::vector<greader::TItemId> ItemIdsOfKeys(const std::vector<std::string>& keys) {
    // An account item's key is its guid, and its guid the server's id.
    std::vector<greader::TItemId> ids;
    for (const std::string& key : keys)
        if (key.starts_with("g:"))
            if (const auto id = greader::ParseItemId(std::string_view(key).substr(2))) ids.push_back(*id);
    return ids;
}

}  // namespace

void TAccountController::QueueChange(const std::string& accountId,
                                     const std::function<void(greader::TChangeQueue&)>& change) {
    if (accountId.empty()) return;
    // Written down now, while what the change names still exists: a store
    // still opening runs the work later, when the caller's values are gone.
    std::vector<items::TPendingChange> changes;
    greader::TChangeQueue queue(changes, accountId, [] { return ItemStoreNow(); });
    change(queue);
    if (changes.empty()) return;
    FHost.Items().With([changes = std::move(changes)](items::TItemStore& store) { store.EnqueueAll(changes); });
    // Sent with the next sync; a burst of changes waits for one.
    if (const auto found = FSyncs.find(accountId); found != FSyncs.end()) found->second->SyncAfter(FChangeDelay);
}

void TAccountController::FeedsRead(const std::string& feedId, const std::vector<std::string>& keys) {
    const std::string account = AccountIdOf(List().FindFeed(feedId));
    if (account.empty() || keys.empty()) return;
    FReadBeforeKeys[feedId] = keys;
    const auto ids = ItemIdsOfKeys(keys);
    QueueChange(account, [&](greader::TChangeQueue& queue) { queue.MarkRead(ids); });
}

void TAccountController::FeedsUnread(const std::string& feedId) {
    const auto found = FReadBeforeKeys.find(feedId);
    if (found == FReadBeforeKeys.end()) return;
    const auto ids = ItemIdsOfKeys(found->second);
    FReadBeforeKeys.erase(found);
    QueueChange(AccountIdOf(List().FindFeed(feedId)), [&](greader::TChangeQueue& queue) { queue.MarkUnread(ids); });
}

void TAccountController::QueueItemChange(const std::string& feedId, const std::string& key,
                                         void (greader::TChangeQueue::*change)(const std::vector<greader::TItemId>&)) {
    const auto ids = ItemIdsOfKeys({key});
    if (ids.empty()) return;
    QueueChange(AccountIdOf(List().FindFeed(feedId)), [&](greader::TChangeQueue& queue) { (queue.*change)(ids); });
}

void TAccountController::ItemMarked(const std::string& feedId, const std::string& key, bool read) {
    QueueItemChange(feedId, key, read ? &greader::TChangeQueue::MarkRead : &greader::TChangeQueue::MarkUnread);
}

void TAccountController::ItemStarred(const std::string& feedId, const std::string& key, bool starred) {
    QueueItemChange(feedId, key, starred ? &greader::TChangeQueue::Star : &greader::TChangeQueue::Unstar);
}

void TAccountController::EntryRenamed(const feedlist::TListEntry* entry, const std::string& oldCaption) {
    const std::string account = AccountIdOf(entry);
    if (account.empty()) return;
    if (IsFolder(entry)) {
        const std::string now = AccountLabelOf(entry);
        if (!now.empty() && now != oldCaption)
            QueueChange(account, [&](greader::TChangeQueue& queue) { queue.RenameLabel(oldCaption, now); });
        return;
    }
    const feedlist::TFeedEntry* feed = FeedOf(entry);
    if (!feed) return;
    const std::string& stream = feed->Stream;
    const std::string& caption = feed->Caption;
    if (!stream.empty() && !caption.empty() && caption != oldCaption)
        QueueChange(account, [&](greader::TChangeQueue& queue) { queue.Rename(stream, caption); });
}

void TAccountController::EntryDeleting(const feedlist::TListEntry* entry, bool withContents) {
    const std::string account = AccountIdOf(entry);
    if (account.empty()) return;
    if (IsFolder(entry)) {
        const std::string label = AccountLabelOf(entry);
        if (label.empty()) return;  // the account itself goes by its settings
        QueueChange(account, [&](greader::TChangeQueue& queue) {
            if (withContents)
                for (const feedlist::TListEntry* row : feedlist::FeedsUnder(*entry))
                    if (!row->Feed().Stream.empty()) queue.Unsubscribe(row->Feed().Stream);
            queue.DeleteLabel(label);
        });
        return;
    }
    const feedlist::TFeedEntry* feed = FeedOf(entry);
    const std::string stream = feed ? feed->Stream : std::string();
    if (!stream.empty()) QueueChange(account, [&](greader::TChangeQueue& queue) { queue.Unsubscribe(stream); });
}

bool TAccountController::EntryMoving(const feedlist::TListEntry* entry, const feedlist::TListEntry* parent) {
    if (FApplyingSync) return true;
    if (!entry || !parent) return false;
    const std::string from = AccountIdOf(entry->Parent());
    const std::string to = AccountIdOf(parent);
    if (from.empty() && to.empty()) return true;
    // The account's own folder stays where it is, and nothing leaves an
    // account by a move: its feeds are the server's.
    if (entry->IsAccount()) return parent == &List().Root();
    const feedlist::TListEntry* target = AccountFolder(to);
    // Labels are one level deep.
    const bool labelDeep = IsFolder(parent) && parent != target && parent->Parent() != target;
    if (!from.empty() && from != to) return false;
    if (!from.empty()) {
        if (IsFolder(entry) || labelDeep) return false;
        const feedlist::TFeedEntry* feed = FeedOf(entry);
        const std::string stream = feed ? feed->Stream : std::string();
        const std::string oldLabel = AccountLabelOf(entry->Parent());
        const std::string newLabel = AccountLabelOf(parent);
        if (!stream.empty() && oldLabel != newLabel)
            QueueChange(to, [&](greader::TChangeQueue& queue) { queue.Move(stream, oldLabel, newLabel); });
        return true;
    }
    // Move to account: local feeds are subscribed to on the server, into
    // the label of the folder they go to (or of the folder moved in).
    if (labelDeep) return false;
    const std::string label = IsFolder(entry) ? FolderCaption(entry) : AccountLabelOf(parent);
    if (IsFolder(entry) && parent != target) return false;
    for (const feedlist::TListEntry* row : feedlist::FeedsUnder(*entry))
        if (const feedlist::TFeedEntry& feed = row->Feed(); !feed.Url.empty())
            QueueChange(to, [&](greader::TChangeQueue& queue) { queue.Subscribe(feed.Url, feed.Caption, label); });
    return true;
}

void TAccountController::FeedReaddressed(const feedlist::TListEntry* entry, const std::string& oldUrl,
                                         const feedlist::TListEntry* folder) {
    const std::string account = AccountIdOf(entry);
    if (account.empty() || !entry->IsFeed()) return;
    if (AccountIdOf(folder) != account) folder = entry->Parent();  // nothing leaves an account by a move
    const std::string stream = entry->Feed().Stream;
    if (stream.empty()) {
        // Still waiting: a subscription to the old address not sent yet
        // must not be sent at all.
        FHost.Items().With([account, oldUrl](items::TItemStore& store) {
            for (const items::TPendingChange& change : store.Pending(account)) {
                if (change.Kind != greader::kSubscribe) continue;
                const auto payload = nlohmann::json::parse(change.Payload, nullptr, false);
                if (payload.is_object() && payload.value("url", "") == oldUrl) store.RemovePending(change.Id);
            }
        });
    }
    const std::string url = entry->Feed().Url;
    const std::string caption = entry->Feed().Caption;
    const std::string label = AccountLabelOf(folder);
    QueueChange(account, [&](greader::TChangeQueue& queue) {
        if (!stream.empty()) queue.Unsubscribe(stream);
        queue.Subscribe(url, caption, label);
    });
    List().UpdateFeed(*entry, [](feedlist::TFeedEntry& feed) {
        feed.Stream.clear();
        feedlist::SetAttribute(feed.Other, accounts::kRefusedAttribute, std::nullopt);
    });
    FHost.MarkFeedUpdated(feedlist::IdText(entry->Feed()));
}

TImportResult TAccountController::Import(const std::vector<opml::Outline>& outlines,
                                         const feedlist::TListEntry* account) {
    const std::string accountId = AccountIdOf(account);
    if (accountId.empty()) return {};
    // What the account follows already, by the address it shows.
    std::vector<std::string> known;
    std::set<std::string> knownLoose;
    for (const feedlist::TListEntry* entry : feedlist::FeedsUnder(*account)) {
        known.push_back(entry->Feed().Url);
        knownLoose.insert(greader::LooseAddress(known.back()));
    }
    opml::ImportPlan plan = opml::PlanImport(outlines, known);
    std::erase_if(plan.toAdd, [&](const opml::Outline& outline) {
        const bool twice = !knownLoose.insert(greader::LooseAddress(outline.url)).second;
        plan.skipped += twice ? 1 : 0;
        return twice;
    });
    // Labels are one level deep: a feed goes into its nearest folder's.
    const auto labelOf = [](const opml::Outline& outline) {
        return outline.folders.empty() ? std::string() : outline.folders.back();
    };
    // Queued before the feeds are added: a crash in between leaves
    // subscriptions the next list brings, never feeds waiting for nothing.
    QueueChange(accountId, [&](greader::TChangeQueue& queue) {
        for (const opml::Outline& outline : plan.toAdd) queue.Subscribe(outline.url, outline.caption, labelOf(outline));
    });
    FHost.BeginBatch();
    for (const opml::Outline& outline : plan.toAdd)
        if (const feedlist::TListEntry* folder = LabelFolder(*account, labelOf(outline)))
            FHost.AppendFeed(outline.url, outline.caption, *folder);
    FHost.EndBatch();
    FHost.SaveNow();
    return {static_cast<int>(plan.toAdd.size()), plan.skipped, plan.refused};
}

const feedlist::TListEntry* TAccountController::AddFeed(const std::string& url, const feedlist::TListEntry* where,
                                                        const std::string& caption) {
    const std::string accountId = AccountIdOf(where);
    const feedlist::TListEntry* account = AccountFolder(accountId);
    if (!account) return nullptr;
    // Into the folder selected, or the selected feed's; labels are one
    // level deep.
    const feedlist::TListEntry* folder = where->IsFeed() ? where->Parent() : where;
    if (folder != account && folder->Parent() != account) folder = account;
    const feedlist::TListEntry* added = FHost.AppendFeed(url, caption, *folder);
    const std::string label = AccountLabelOf(folder);
    QueueChange(accountId, [&](greader::TChangeQueue& queue) { queue.Subscribe(url, caption, label); });
    FHost.SaveNow();
    return added;
}
