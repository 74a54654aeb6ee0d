// A server's subscription list made the account's folders and feeds: the
// label folders it names, the answers to subscriptions sent from here, the
// feeds matched by stream or loosely by address, added, renamed, moved and
// removed.
#include <QTreeWidgetItem>

#include <deque>
#include <filesystem>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "AccountController.h"
#include "ChangeQueue.h"
#include "DateTime.h"
#include "FeedList.h"
#include "FeedUpdate.h"
#include "GReaderMapping.h"
#include "ReadStateController.h"
#include "SubscriptionMerge.h"

void TAccountController::ApplySubscriptions(const std::string& accountId,
                                            const greader::TSubscriptionChanges& changes) {
    QTreeWidgetItem* account = AccountNode(accountId);
    if (!account) return;
    // A list of tens of thousands is applied in time that grows with it:
    // every lookup goes through an index made once, and the folders' sums,
    // the filter and the save follow once at the end.
    FApplyingSync = true;
    struct TRestore {
        TAccountController& Accounts;
        QTreeWidgetItem* Account;
        ~TRestore() {
            Accounts.FApplyingSync = false;
            Accounts.FHost.EndDeferredCaptions(Account);
        }
    } restore{*this, account};
    FHost.BeginDeferredCaptions();

    std::unordered_map<std::string, QTreeWidgetItem*> labelFolders;
    for (int i = 0; i < account->childCount(); ++i)
        if (FHost.IsFolder(account->child(i)))
            labelFolders.emplace(FolderCaption(account->child(i)), account->child(i));
    const auto folderFor = [&](const std::string& label) {
        if (label.empty()) return account;
        QTreeWidgetItem*& folder = labelFolders[label];
        if (!folder) folder = FHost.AddFolder(label, account);
        return folder;
    };
    if (changes.Listed)
        for (const std::string& label : changes.Labels) folderFor(label);

    std::unordered_map<std::string, QTreeWidgetItem*> byStream;
    // Added here, not yet the server's: in the tree's order, and by address.
    std::vector<QTreeWidgetItem*> waiting;
    std::unordered_map<std::string, std::deque<QTreeWidgetItem*>> waitingAt;
    std::unordered_set<QTreeWidgetItem*> taken;
    const auto addWaiting = [&](QTreeWidgetItem* node) {
        taken.erase(node);
        waiting.push_back(node);
        waitingAt[greader::LooseAddress(FHost.FeedItem(node).Attribute("url").value_or(""))].push_back(node);
    };
    for (QTreeWidgetItem* node : FHost.FeedNodesUnder(account)) {
        const xml::Node item = FHost.FeedItem(node);
        const std::string stream = item.Attribute(accounts::kStreamAttribute).value_or("");
        if (!stream.empty())
            byStream.emplace(stream, node);
        else
            addWaiting(node);
    }
    // The waiting node of the first address that names one, taken out.
    const auto takeWaiting = [&](std::initializer_list<std::string> addresses) -> QTreeWidgetItem* {
        for (const std::string& address : addresses) {
            if (address.empty()) continue;
            const auto found = waitingAt.find(greader::LooseAddress(address));
            if (found == waitingAt.end()) continue;
            auto& nodes = found->second;
            while (!nodes.empty() && taken.count(nodes.front())) nodes.pop_front();
            if (nodes.empty()) continue;
            QTreeWidgetItem* node = nodes.front();
            nodes.pop_front();
            taken.insert(node);
            return node;
        }
        return nullptr;
    };
    std::set<QTreeWidgetItem*> adopted;
    // Subscribed from here: the node becomes the server's feed where it
    // stands, and what it held before comes again from the server.
    const auto adopt = [&](QTreeWidgetItem* node, const std::string& stream) {
        xml::Node item = FHost.FeedItem(node);
        item.SetAttribute(accounts::kStreamAttribute, stream);
        if (item.HasAttribute(accounts::kRefusedAttribute)) item.RemoveAttribute(accounts::kRefusedAttribute);
        FHost.MarkFeedUpdated(node);
        const std::string id = item.Attribute("id").value_or("");
        if (IsValidFeedId(id)) {
            FHost.StoredCopyChanged(id);
            std::error_code ignored;
            std::filesystem::remove(StoredCopyPath(id), ignored);
            FHost.Items().ForgetFeed(id);
            item.SetAttribute("unread", "0");
        }
        byStream[stream] = node;
        adopted.insert(node);
    };
    // The streams the server answered for subscriptions sent from here.
    std::map<std::string, QTreeWidgetItem*> expected;
    for (const greader::TSubscribeOutcome& outcome : changes.Subscribed) {
        QTreeWidgetItem* node = takeWaiting({outcome.Url});
        if (!node) continue;
        if (outcome.Stream.empty()) {
            // Refused: the node stays, failing, for the user to mend or delete.
            FHost.FeedItem(node).SetAttribute(accounts::kRefusedAttribute, outcome.Error);
            ShowSubscriptionRefused(node);
        } else if (byStream.count(outcome.Stream)) {
            // The account follows that feed already: the node was a second one.
            FHost.DeleteFeed(node, nullptr);
        } else {
            expected.emplace(outcome.Stream, node);
        }
    }
    // The next id comes from walking every feed of the list: that is done
    // once, and the counter, then above every id, numbers the rest.
    std::optional<xml::Node> idCounter;
    const std::string now = plat::FormatISO8601(plat::Now());
    const auto appendFeed = [&](const std::string& url, const std::string& title, QTreeWidgetItem* folder) {
        if (!idCounter) {
            idCounter = FHost.IdCounter();
            idCounter->SetText(std::to_string(feedlist::NextFeedId(*idCounter, FHost.FeedList())));
        }
        // The counter's own element holds no feed to walk.
        return feedlist::AppendFeed(idCounter->Parent(), *idCounter, FHost.ContainerElement(folder), url, title, now);
    };
    const auto follow = [&](const greader::TAccountFeed& feed, QTreeWidgetItem* node) {
        const std::string label = feed.Folders.empty() ? std::string() : feed.Folders.front();
        if (!node) {
            QTreeWidgetItem* folder = folderFor(label);
            xml::Node item = appendFeed(feed.Url, feed.Title, folder);
            item.SetAttribute(accounts::kStreamAttribute, feed.Id);
            byStream[feed.Id] = FHost.AddFeedNode(item, folder);
            return;
        }
        xml::Node item = FHost.FeedItem(node);
        if (!feed.Url.empty()) item.SetAttribute("url", feed.Url);
        if (adopted.count(node)) {
            // A name or folder given here while it waited wins, and goes to
            // the server; the node keeps its place.
            const std::string caption = item.Attribute("caption").value_or("");
            const std::string here = AccountLabelOf(node->parent());
            if (!caption.empty() && caption != feed.Title)
                QueueChange(accountId, [&](greader::TChangeQueue& queue) { queue.Rename(feed.Id, caption); });
            if (here != label)
                QueueChange(accountId, [&](greader::TChangeQueue& queue) { queue.Move(feed.Id, label, here); });
            if (caption.empty()) item.SetAttribute("caption", feed.Title);
            FHost.UpdateCaption(node);
            return;
        }
        item.SetAttribute("caption", feed.Title);
        FHost.UpdateCaption(node);
        QTreeWidgetItem* folder = folderFor(label);
        if (node->parent() != folder) FHost.MoveNode(node, folder);
    };
    // By stream first: the feed's own, or the one answered for a
    // subscription; then, for the rest, by address loosely (the server's
    // address or its site's against the one typed here).
    std::vector<const greader::TAccountFeed*> unmatched;
    for (const auto* list : {&changes.Added, &changes.Changed})
        for (const greader::TAccountFeed& feed : *list) {
            if (const auto found = byStream.find(feed.Id); found != byStream.end()) {
                follow(feed, found->second);
            } else if (const auto sent = expected.find(feed.Id); sent != expected.end()) {
                adopt(sent->second, feed.Id);
                follow(feed, sent->second);
                expected.erase(sent);
            } else {
                unmatched.push_back(&feed);
            }
        }
    // An answered stream the list does not name (a server that answers the
    // address it was given): the node is matched by address instead.
    for (const auto& [stream, node] : expected) addWaiting(node);
    for (const greader::TAccountFeed* feed : unmatched) {
        QTreeWidgetItem* node = takeWaiting({feed->Url, feed->HtmlUrl});
        if (node) adopt(node, feed->Id);
        follow(*feed, node);
    }
    std::vector<std::string> itemsToForget;
    for (const auto& feed : changes.Removed)
        if (const auto found = byStream.find(feed.Id); found != byStream.end())
            FHost.DeleteFeed(found->second, &itemsToForget);
    FHost.Items().ForgetFeeds(std::move(itemsToForget));
    // A refusal read from the list saved before a restart shows again.
    for (QTreeWidgetItem* node : waiting)
        if (!taken.count(node)) ShowSubscriptionRefused(node);

    // Folders whose label has gone, once they are empty.
    if (changes.Listed) {
        const std::set<std::string> labels(changes.Labels.begin(), changes.Labels.end());
        for (int i = account->childCount() - 1; i >= 0; --i) {
            QTreeWidgetItem* child = account->child(i);
            if (FHost.IsFolder(child) && child->childCount() == 0 && !labels.count(FolderCaption(child))) {
                FHost.FolderElement(child).Remove();
                // Never the next row: it would be shown and counted read.
                if (FHost.CurrentNode() == child) FHost.SetCurrentNode(account);
                delete child;
            }
        }
    }
    FHost.ScheduleSave();
}
