// What the user does in an account's part of the tree, kept in the item
// store as changes for its server and sent with the next sync: items read
// and unread, feeds and labels renamed, moved, deleted, subscribed to.
#include <QTreeWidgetItem>

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
    QTreeWidgetItem* node = FHost.RowOf(List().FindFeed(feedId));
    const std::string account = AccountIdOf(node);
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
    QueueChange(AccountIdOf(FHost.RowOf(List().FindFeed(feedId))),
                [&](greader::TChangeQueue& queue) { queue.MarkUnread(ids); });
}

void TAccountController::NodeRenamed(QTreeWidgetItem* node, const std::string& oldCaption) {
    const std::string account = AccountIdOf(node);
    if (account.empty()) return;
    if (IsFolder(node)) {
        const std::string now = AccountLabelOf(node);
        if (!now.empty() && now != oldCaption)
            QueueChange(account, [&](greader::TChangeQueue& queue) { queue.RenameLabel(oldCaption, now); });
        return;
    }
    const feedlist::TFeedEntry* feed = FeedOf(node);
    if (!feed) return;
    const std::string& stream = feed->Stream;
    const std::string& caption = feed->Caption;
    if (!stream.empty() && !caption.empty() && caption != oldCaption)
        QueueChange(account, [&](greader::TChangeQueue& queue) { queue.Rename(stream, caption); });
}

void TAccountController::NodeDeleting(QTreeWidgetItem* node, bool withContents) {
    const std::string account = AccountIdOf(node);
    if (account.empty()) return;
    if (IsFolder(node)) {
        const std::string label = AccountLabelOf(node);
        if (label.empty()) return;  // the account itself goes by its settings
        QueueChange(account, [&](greader::TChangeQueue& queue) {
            if (withContents)
                for (QTreeWidgetItem* row : FHost.FeedNodesUnder(node))
                    if (const feedlist::TFeedEntry* feed = FeedOf(row); feed && !feed->Stream.empty())
                        queue.Unsubscribe(feed->Stream);
            queue.DeleteLabel(label);
        });
        return;
    }
    const feedlist::TFeedEntry* feed = FeedOf(node);
    const std::string stream = feed ? feed->Stream : std::string();
    if (!stream.empty()) QueueChange(account, [&](greader::TChangeQueue& queue) { queue.Unsubscribe(stream); });
}

bool TAccountController::NodeMoving(QTreeWidgetItem* node, QTreeWidgetItem* parent) {
    if (FApplyingSync) return true;
    const std::string from = AccountIdOf(node->parent());
    const std::string to = AccountIdOf(parent);
    if (from.empty() && to.empty()) return true;
    // The account's own folder stays where it is, and nothing leaves an
    // account by a move: its feeds are the server's.
    if (const feedlist::TListEntry* entry = FHost.EntryOf(node); entry && entry->IsAccount())
        return parent == FHost.Root();
    if (!from.empty() && from != to) return false;
    if (!from.empty()) {
        // Within the account: labels are one level deep.
        if (IsFolder(node)) return false;
        if (IsFolder(parent) && parent != AccountNode(to) && parent->parent() != AccountNode(to)) return false;
        const feedlist::TFeedEntry* feed = FeedOf(node);
        const std::string stream = feed ? feed->Stream : std::string();
        const std::string oldLabel = AccountLabelOf(node->parent());
        const std::string newLabel = AccountLabelOf(parent);
        if (!stream.empty() && oldLabel != newLabel)
            QueueChange(to, [&](greader::TChangeQueue& queue) { queue.Move(stream, oldLabel, newLabel); });
        return true;
    }
    // Move to account: local feeds are subscribed to on the server, into
    // the label of the folder they go to (or of the folder moved in).
    if (IsFolder(parent) && parent != AccountNode(to) && parent->parent() != AccountNode(to)) return false;
    const std::string label = IsFolder(node) ? FolderCaption(node) : AccountLabelOf(parent);
    if (IsFolder(node) && parent != AccountNode(to)) return false;
    for (QTreeWidgetItem* row : FHost.FeedNodesUnder(node))
        if (const feedlist::TFeedEntry* feed = FeedOf(row); feed && !feed->Url.empty())
            QueueChange(to, [&](greader::TChangeQueue& queue) { queue.Subscribe(feed->Url, feed->Caption, label); });
    return true;
}

void TAccountController::FeedReaddressed(QTreeWidgetItem* node, const std::string& oldUrl, QTreeWidgetItem* folder) {
    const std::string account = AccountIdOf(node);
    if (account.empty()) return;
    if (AccountIdOf(folder) != account) folder = node->parent();  // nothing leaves an account by a move
    const feedlist::TListEntry* entry = FHost.EntryOf(node);
    if (!entry || !entry->IsFeed()) return;
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
    FHost.MarkFeedUpdated(node);
}

TImportResult TAccountController::Import(const std::vector<opml::Outline>& outlines, QTreeWidgetItem* account) {
    const std::string accountId = AccountIdOf(account);
    if (accountId.empty()) return {};
    // What the account follows already, by the address it shows.
    std::vector<std::string> known;
    std::set<std::string> knownLoose;
    for (QTreeWidgetItem* node : FHost.FeedNodesUnder(account)) {
        known.push_back(FeedOf(node) ? FeedOf(node)->Url : std::string());
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
    // Queued before the nodes are made: a crash in between leaves
    // subscriptions the next list brings, never nodes waiting for nothing.
    QueueChange(accountId, [&](greader::TChangeQueue& queue) {
        for (const opml::Outline& outline : plan.toAdd) queue.Subscribe(outline.url, outline.caption, labelOf(outline));
    });
    FHost.BeginBatch();
    for (const opml::Outline& outline : plan.toAdd) {
        QTreeWidgetItem* folder = LabelFolder(account, labelOf(outline));
        FHost.AppendFeed(outline.url, outline.caption, *FHost.EntryOf(folder));
    }
    FHost.EndBatch();
    account->setExpanded(true);
    FHost.SaveNow();
    return {static_cast<int>(plan.toAdd.size()), plan.skipped, plan.refused};
}

QTreeWidgetItem* TAccountController::AddFeed(const std::string& url, QTreeWidgetItem* folder,
                                             const std::string& caption) {
    const std::string account = AccountIdOf(folder);
    folder = FHost.TargetFolder(folder);
    if (IsFolder(folder) && folder != AccountNode(account) && folder->parent() != AccountNode(account))
        folder = AccountNode(account);
    QTreeWidgetItem* node = FHost.RowOf(FHost.AppendFeed(url, caption, *FHost.EntryOf(folder)));
    const std::string label = AccountLabelOf(folder);
    QueueChange(account, [&](greader::TChangeQueue& queue) { queue.Subscribe(url, caption, label); });
    FHost.SaveNow();
    return node;
}
