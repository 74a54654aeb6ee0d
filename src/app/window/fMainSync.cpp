// The main window and its feed-server accounts: one sync runner per account
// whose password is known, the results applied to the account's folder, and
// what the user does in that folder kept as changes for the server.
//
// An account's feeds are <item> elements like any other, with the server's
// stream id in a "stream" attribute, so the tree, the counts, the page, the
// search and the notifications treat them as local feeds. The polling
// thread never fetches them: the server does, and the sync brings its items.
#include "fMain.h"

#include <QDir>

#include <nlohmann/json.hpp>

#include <deque>
#include <filesystem>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <set>

#include "AccountList.h"
#include "AccountSyncRunner.h"
#include "ChangeQueue.h"
#include "Convert.h"
#include "DateTime.h"
#include "FeedList.h"
#include "FeedUpdate.h"
#include "NotifyController.h"
#include "GReaderMapping.h"
#include "ItemBase.h"
#include "ItemStore.h"
#include "Opml.h"
#include "ReadStateController.h"
#include "UpdateController.h"
#include "uvxLanguage.h"

namespace {

constexpr char kStreamAttribute[] = "stream";
// On a feed subscribed from here that the server refused: its words.
constexpr char kRefusedAttribute[] = "refused";
// The shortest pause between two syncs of an account, whatever the update
// interval says: a sync asks the server for several lists.
constexpr int kShortestSyncIntervalSeconds = 30;

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

QString Message(const char* name, const std::vector<plat::FormatArg>& args, const QString& fallback) {
    return LangTextQ(name, args, fallback);
}

std::string SyncStatePath(const std::string& accountId) {
    return QDir::current().absoluteFilePath(Q("sync-" + accountId + ".json")).toStdString();
}

std::string FolderCaption(const QTreeWidgetItem* node) {
    return static_cast<const TFolderNode*>(node)->Folder().Attribute("caption").value_or("");
}

// The failure in plain words, by what the user can do about it.
QString FailureText(const TAccountSyncEnded& ended) {
    using greader::TSyncErrorKind;
    switch (ended.ErrorKind.value_or(TSyncErrorKind::Rejected)) {
        case TSyncErrorKind::WrongPassword:
        case TSyncErrorKind::Unauthorized:
            return Message("AccountPasswordRefused", {}, QStringLiteral("The server refused the password."));
        case TSyncErrorKind::Unreachable:
            return Message("AccountUnreachable", {}, QStringLiteral("The server cannot be reached."));
        case TSyncErrorKind::TimedOut:
            return Message("AccountTimedOut", {}, QStringLiteral("The server did not answer in time."));
        case TSyncErrorKind::Server:
            return Message("AccountServerTrouble", {}, QStringLiteral("The server has trouble answering."));
        default:
            return Message("AccountSyncFailed", {ended.Error}, Q(ended.Error));
    }
}

std::vector<greader::TItemId> ItemIdsOfKeys(const std::vector<std::string>& keys) {
    // An account item's key is its guid, and its guid the server's id.
    std::vector<greader::TItemId> ids;
    for (const std::string& key : keys)
        if (key.starts_with("g:"))
            if (const auto id = greader::ParseItemId(std::string_view(key).substr(2))) ids.push_back(*id);
    return ids;
}

}  // namespace

// ---------------------------------------------------------------------------
// Runners

void TFormMain::ConnectAccountSync() {
    connect(this, &TFormMain::accountReady, this, [this](const QString& id, const QString& password) {
        Guarded([&] { StartAccountSync(id.toStdString(), password.toStdString()); });
    });
    connect(this, &TFormMain::accountRemoved, this, [this](const QString& qid) {
        Guarded([&] {
            const std::string id = qid.toStdString();
            StopAccountSync(id);
            std::error_code ignored;
            std::filesystem::remove(SyncStatePath(id), ignored);
            std::filesystem::remove(SyncStatePath(id) + ".tmp", ignored);
            FItems->With([id](items::TItemStore& store) {
                for (const items::TPendingChange& change : store.Pending(id)) store.RemovePending(change.Id);
            });
        });
    });
}

void TFormMain::StartAccountSync(const std::string& accountId, const std::string& password) {
    if (!FOptions || FClosed) return;
    if (const auto running = FAccountSyncs.find(accountId); running != FAccountSyncs.end()) {
        running->second->SetPassword(password);
        running->second->SyncNow();
        return;
    }
    const auto record =
        accountlist::RecordOf(accountlist::AccountFolder(FOptions->GetConfigNode(feedlist::kItemsPath), accountId));
    if (!record) return;
    // Refusals kept from before a restart show until the user acts on them.
    for (QTreeWidgetItem* node : FeedNodesUnder(AccountNode(accountId))) ShowSubscriptionRefused(node);

    TAccountSyncRunner::THost host;
    host.ApplySubscriptions = [this, accountId](const greader::TSubscriptionChanges& changes) {
        ApplyAccountSubscriptions(accountId, changes);
    };
    host.FeedFor = [this, accountId](const std::string& stream, const std::string& title) {
        return AccountFeedFor(accountId, stream, title);
    };
    host.FeedIds = [this, accountId] { return AccountFeedIds(accountId); };
    host.ApplyBatch = [this](const TAccountBatchApplied& batch) { ApplyAccountBatch(batch); };
    host.AlertWords = [this] { return FNotify->RefreshAlertWords(); };
    host.Started = [this, accountId] { ShowAccountState(accountId, true, QString()); };
    host.Ended = [this, accountId](const TAccountSyncEnded& ended) { AccountSyncEnded(accountId, ended); };

    greader::TAccount account{accountId, record->Address, record->User, password};
    auto runner = std::make_unique<TAccountSyncRunner>(std::move(account), FItems->Base(), SyncStatePath(accountId),
                                                       std::move(host));
    runner->SetDeadline(AccountRequestDeadline);
    runner->SyncNow();
    FAccountSyncs[accountId] = std::move(runner);
}

void TFormMain::StopAccountSync(const std::string& accountId) {
    const auto found = FAccountSyncs.find(accountId);
    if (found == FAccountSyncs.end()) return;
    std::unique_ptr<TAccountSyncRunner> runner = std::move(found->second);
    FAccountSyncs.erase(found);
    runner.reset();  // cancels its request and joins its thread
    // A sync cut short is no longer under way; a failure stays shown.
    if (QTreeWidgetItem* node = AccountNode(accountId)) {
        auto* folder = static_cast<TFolderNode*>(node);
        folder->ShowState(folder->ToolTip().isEmpty() ? QIcon() : FUpdates->FailedIcon(), folder->ToolTip());
        TreeView->viewport()->update();
    }
}

void TFormMain::StopAccountSyncs() {
    while (!FAccountSyncs.empty()) StopAccountSync(FAccountSyncs.begin()->first);
}

void TFormMain::SyncAccount(const std::string& accountId) {
    if (const auto found = FAccountSyncs.find(accountId); found != FAccountSyncs.end()) found->second->SyncNow();
}

bool TFormMain::AccountSyncing(const std::string& accountId) const {
    const auto found = FAccountSyncs.find(accountId);
    return found != FAccountSyncs.end() && found->second->Busy();
}

std::string TFormMain::AccountIdOf(QTreeWidgetItem* node) const {
    for (QTreeWidgetItem* up = node; up; up = up->parent()) {
        if (!IsFolderNode(up)) continue;
        const xml::Node folder = static_cast<TFolderNode*>(up)->Folder();
        if (accountlist::IsAccountFolder(folder)) return folder.Attribute("account").value_or("");
    }
    return {};
}

QTreeWidgetItem* TFormMain::AccountNode(const std::string& accountId) const {
    QTreeWidgetItem* root = RootNode();
    if (!root || accountId.empty()) return nullptr;
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem* child = root->child(i);
        if (IsFolderNode(child) && static_cast<TFolderNode*>(child)->Folder().Attribute("account") == accountId)
            return child;
    }
    return nullptr;
}

std::string TFormMain::AccountLabelOf(QTreeWidgetItem* folder) const {
    if (!IsFolderNode(folder) || accountlist::IsAccountFolder(static_cast<TFolderNode*>(folder)->Folder())) return {};
    return FolderCaption(folder);
}

void TFormMain::ShowAccountState(const std::string& accountId, bool busy, const QString& failure) {
    QTreeWidgetItem* node = AccountNode(accountId);
    if (!node) return;
    const QIcon icon = busy ? FUpdates->BusyIcon() : !failure.isEmpty() ? FUpdates->FailedIcon() : QIcon();
    const QString toolTip =
        failure.isEmpty() ? QString() : failure + '\n' + QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
    // A sync starting keeps the last failure's words until it ends.
    auto* folder = static_cast<TFolderNode*>(node);
    folder->ShowState(icon, busy ? folder->ToolTip() : toolTip);
    if (node->treeWidget() == TreeView) TreeView->viewport()->update(TreeView->visualItemRect(node));
}

// ---------------------------------------------------------------------------
// Results from the server

std::map<std::string, std::string> TFormMain::AccountFeedIds(const std::string& accountId) const {
    std::map<std::string, std::string> ids;
    for (QTreeWidgetItem* node : FeedNodesUnder(AccountNode(accountId))) {
        const xml::Node item = GetFeedItem(node);
        const std::string stream = item.Attribute(kStreamAttribute).value_or("");
        if (!stream.empty()) ids.emplace(stream, item.Attribute("id").value_or(""));
    }
    return ids;
}

std::string TFormMain::AccountFeedFor(const std::string& accountId, const std::string& stream,
                                      const std::string& title) {
    QTreeWidgetItem* account = AccountNode(accountId);
    if (!account) return {};
    for (QTreeWidgetItem* node : FeedNodesUnder(account)) {
        const xml::Node item = GetFeedItem(node);
        if (item.Attribute(kStreamAttribute) == stream) return item.Attribute("id").value_or("");
    }
    // Subscribed elsewhere since the list was read: the next list gives its
    // address and folder.
    xml::Node item = AppendFeedElement("", title, ContainerElement(account));
    item.SetAttribute(kStreamAttribute, stream);
    AddFeedNode(item, account);
    ScheduleConfigSave();
    return item.Attribute("id").value_or("");
}

void TFormMain::ApplyAccountSubscriptions(const std::string& accountId, const greader::TSubscriptionChanges& changes) {
    QTreeWidgetItem* account = AccountNode(accountId);
    if (!account) return;
    // A list of tens of thousands is applied in time that grows with it:
    // every lookup goes through an index made once, and the folders' sums,
    // the filter and the save follow once at the end.
    FApplyingSync = true;
    struct TRestore {
        TFormMain& Form;
        QTreeWidgetItem* Account;
        ~TRestore() {
            Form.FApplyingSync = false;
            Form.EndDeferredFolderCaptions(Account);
        }
    } restore{*this, account};
    BeginDeferredFolderCaptions();

    std::unordered_map<std::string, QTreeWidgetItem*> labelFolders;
    for (int i = 0; i < account->childCount(); ++i)
        if (IsFolderNode(account->child(i))) labelFolders.emplace(FolderCaption(account->child(i)), account->child(i));
    const auto folderFor = [&](const std::string& label) {
        if (label.empty()) return account;
        QTreeWidgetItem*& folder = labelFolders[label];
        if (!folder) folder = AddFolder(label, account);
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
        waitingAt[greader::LooseAddress(GetFeedItem(node).Attribute("url").value_or(""))].push_back(node);
    };
    for (QTreeWidgetItem* node : FeedNodesUnder(account)) {
        const xml::Node item = GetFeedItem(node);
        const std::string stream = item.Attribute(kStreamAttribute).value_or("");
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
        xml::Node item = GetFeedItem(node);
        item.SetAttribute(kStreamAttribute, stream);
        if (item.HasAttribute(kRefusedAttribute)) item.RemoveAttribute(kRefusedAttribute);
        const std::string id = item.Attribute("id").value_or("");
        FUpdates->MarkFeedUpdated(id);
        if (IsValidFeedId(id)) {
            FUpdates->StoredCopyChanged(id);
            std::error_code ignored;
            std::filesystem::remove(StoredCopyPath(id), ignored);
            FItems->ForgetFeed(id);
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
            GetFeedItem(node).SetAttribute(kRefusedAttribute, outcome.Error);
            ShowSubscriptionRefused(node);
        } else if (byStream.count(outcome.Stream)) {
            // The account follows that feed already: the node was a second one.
            DeleteFeed(node);
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
            idCounter = FOptions->GetConfigNode(feedlist::kCounterPath);
            idCounter->SetText(
                std::to_string(feedlist::NextFeedId(*idCounter, FOptions->GetConfigNode(feedlist::kItemsPath))));
        }
        // The counter's own element holds no feed to walk.
        return feedlist::AppendFeed(idCounter->Parent(), *idCounter, ContainerElement(folder), url, title, now);
    };
    const auto follow = [&](const greader::TAccountFeed& feed, QTreeWidgetItem* node) {
        const std::string label = feed.Folders.empty() ? std::string() : feed.Folders.front();
        if (!node) {
            QTreeWidgetItem* folder = folderFor(label);
            xml::Node item = appendFeed(feed.Url, feed.Title, folder);
            item.SetAttribute(kStreamAttribute, feed.Id);
            byStream[feed.Id] = AddFeedNode(item, folder);
            return;
        }
        xml::Node item = GetFeedItem(node);
        if (!feed.Url.empty()) item.SetAttribute("url", feed.Url);
        if (adopted.count(node)) {
            // A name or folder given here while it waited wins, and goes to
            // the server; the node keeps its place.
            const std::string caption = item.Attribute("caption").value_or("");
            const std::string here = AccountLabelOf(node->parent());
            if (!caption.empty() && caption != feed.Title)
                QueueAccountChange(accountId, [&](greader::TChangeQueue& queue) { queue.Rename(feed.Id, caption); });
            if (here != label)
                QueueAccountChange(accountId, [&](greader::TChangeQueue& queue) { queue.Move(feed.Id, label, here); });
            if (caption.empty()) item.SetAttribute("caption", feed.Title);
            UpdateNodeCaption(node);
            return;
        }
        item.SetAttribute("caption", feed.Title);
        UpdateNodeCaption(node);
        QTreeWidgetItem* folder = folderFor(label);
        if (node->parent() != folder) MoveNode(node, folder);
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
            DeleteFeed(found->second, &itemsToForget);
    FItems->ForgetFeeds(std::move(itemsToForget));
    // A refusal read from the list saved before a restart shows again.
    for (QTreeWidgetItem* node : waiting)
        if (!taken.count(node)) ShowSubscriptionRefused(node);

    // Folders whose label has gone, once they are empty.
    if (changes.Listed) {
        const std::set<std::string> labels(changes.Labels.begin(), changes.Labels.end());
        for (int i = account->childCount() - 1; i >= 0; --i) {
            QTreeWidgetItem* child = account->child(i);
            if (IsFolderNode(child) && child->childCount() == 0 && !labels.count(FolderCaption(child))) {
                static_cast<TFolderNode*>(child)->Folder().Remove();
                // Never the next row: it would be shown and counted read.
                if (TreeView->currentItem() == child) TreeView->setCurrentItem(account);
                delete child;
            }
        }
    }
    ScheduleConfigSave();
}

void TFormMain::ShowSubscriptionRefused(QTreeWidgetItem* node) {
    const std::string why = GetFeedItem(node).Attribute(kRefusedAttribute).value_or("");
    if (why.empty() || static_cast<TFeedNode*>(node)->Failed()) return;
    FUpdates->MarkFeedFailed(GetFeedItem(node).Attribute("id").value_or(""),
                             Message("AccountSubscribeRefused", {why}, Q(why)).toStdString());
}

void TFormMain::ApplyAccountBatch(const TAccountBatchApplied& batch) {
    QTreeWidgetItem* node = FindFeedNodeById(batch.FeedId);
    if (!node) {
        // Deleted while its items were on the way.
        std::error_code ignored;
        std::filesystem::remove(StoredCopyPath(batch.FeedId), ignored);
        FItems->ForgetFeed(batch.FeedId);
        return;
    }
    xml::Node item = GetFeedItem(node);
    FUpdates->StoredCopyChanged(batch.FeedId);
    FItems->With([item, id = batch.FeedId](items::TItemStore& store) mutable {
        item.SetAttribute("unread", std::to_string(store.UnreadCount(id)));
    });
    item.SetAttribute("lastupdate", plat::FormatISO8601(plat::Now()));
    UpdateNodeCaption(node);
    if (batch.Document && !batch.Fresh.empty())
        FNotify->AnnounceNewItems(item, *batch.Document, static_cast<int>(batch.Fresh.size()), &batch.Fresh,
                                  &batch.Verdicts);
    ScheduleConfigSave();
}

void TFormMain::AccountSyncEnded(const std::string& accountId, const TAccountSyncEnded& ended) {
    QTreeWidgetItem* account = AccountNode(accountId);
    if (!ended.ReadChangedFeeds.empty()) {
        FItems->With([this, ids = ended.ReadChangedFeeds](items::TItemStore& store) {
            for (const std::string& id : ids) {
                QTreeWidgetItem* node = FindFeedNodeById(id);
                if (!node) continue;
                GetFeedItem(node).SetAttribute("unread", std::to_string(store.UnreadCount(id)));
                UpdateNodeCaption(node);
            }
        });
        TreeView->viewport()->update();
        ScheduleConfigSave();
    }
    if (!ended.Rejected.empty())
        SetStatusText(0, Message("AccountChangesRejected", {ended.Rejected.front()}, Q(ended.Rejected.front())));

    const auto kind = ended.ErrorKind;
    if (kind == greader::TSyncErrorKind::Cancelled) return;
    const auto runner = FAccountSyncs.find(accountId);
    if (ended.Ok) {
        ShowAccountState(accountId, false, QString());
        if (account) SetStatusText(0, Message("AccountSynced", {FolderCaption(account)}, Q(FolderCaption(account))));
        if (runner != FAccountSyncs.end())
            runner->second->SyncAfter(
                std::chrono::seconds(std::max(FUpdates->UpdateIntervalSeconds(), kShortestSyncIntervalSeconds)));
    } else {
        const QString failure = FailureText(ended);
        ShowAccountState(accountId, false, failure);
        if (account)
            SetStatusText(0, Message("FailedFeed", {FolderCaption(account) + " - " + failure.toStdString()}, failure));
        if (kind == greader::TSyncErrorKind::WrongPassword || kind == greader::TSyncErrorKind::Unauthorized) {
            // Asked once: the account waits for the password to be typed
            // again (accountReady), never retried with the refused one.
            QMetaObject::invokeMethod(
                this, [this, accountId] { StopAccountSync(accountId); }, Qt::QueuedConnection);
            emit accountPasswordRefused(Q(accountId));
        } else if (ended.NextAttempt && runner != FAccountSyncs.end()) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*ended.NextAttempt -
                                                                                    std::chrono::system_clock::now());
            runner->second->SyncAfter(std::max(wait, std::chrono::milliseconds(0)));
        }
    }
    if (OnAccountSynced) OnAccountSynced(accountId, ended);
}

// ---------------------------------------------------------------------------
// Changes for the server

void TFormMain::QueueAccountChange(const std::string& accountId,
                                   const std::function<void(greader::TChangeQueue&)>& change) {
    if (accountId.empty()) return;
    // Written down now, while what the change names still exists: a store
    // still opening runs the work later, when the caller's values are gone.
    std::vector<items::TPendingChange> changes;
    greader::TChangeQueue queue(changes, accountId, [] { return ItemStoreNow(); });
    change(queue);
    if (changes.empty()) return;
    FItems->With([changes = std::move(changes)](items::TItemStore& store) { store.EnqueueAll(changes); });
    // Sent with the next sync; a burst of changes waits for one.
    if (const auto found = FAccountSyncs.find(accountId); found != FAccountSyncs.end())
        found->second->SyncAfter(AccountChangeDelay);
}

void TFormMain::AccountFeedsRead(const std::string& feedId, const std::vector<std::string>& keys) {
    QTreeWidgetItem* node = FindFeedNodeById(feedId);
    const std::string account = AccountIdOf(node);
    if (account.empty() || keys.empty()) return;
    FReadBeforeKeys[feedId] = keys;
    const auto ids = ItemIdsOfKeys(keys);
    QueueAccountChange(account, [&](greader::TChangeQueue& queue) { queue.MarkRead(ids); });
}

void TFormMain::AccountFeedsUnread(const std::string& feedId) {
    const auto found = FReadBeforeKeys.find(feedId);
    if (found == FReadBeforeKeys.end()) return;
    const auto ids = ItemIdsOfKeys(found->second);
    FReadBeforeKeys.erase(found);
    QueueAccountChange(AccountIdOf(FindFeedNodeById(feedId)),
                       [&](greader::TChangeQueue& queue) { queue.MarkUnread(ids); });
}

void TFormMain::AccountNodeRenamed(QTreeWidgetItem* node, const std::string& oldCaption) {
    const std::string account = AccountIdOf(node);
    if (account.empty()) return;
    if (IsFolderNode(node)) {
        const std::string now = AccountLabelOf(node);
        if (!now.empty() && now != oldCaption)
            QueueAccountChange(account, [&](greader::TChangeQueue& queue) { queue.RenameLabel(oldCaption, now); });
        return;
    }
    const xml::Node item = GetFeedItem(node);
    const std::string stream = item.Attribute(kStreamAttribute).value_or("");
    const std::string caption = item.Attribute("caption").value_or("");
    if (!stream.empty() && !caption.empty() && caption != oldCaption)
        QueueAccountChange(account, [&](greader::TChangeQueue& queue) { queue.Rename(stream, caption); });
}

void TFormMain::AccountNodeDeleting(QTreeWidgetItem* node, bool withContents) {
    const std::string account = AccountIdOf(node);
    if (account.empty()) return;
    if (IsFolderNode(node)) {
        const std::string label = AccountLabelOf(node);
        if (label.empty()) return;  // the account itself goes by its settings
        QueueAccountChange(account, [&](greader::TChangeQueue& queue) {
            if (withContents)
                for (QTreeWidgetItem* feed : FeedNodesUnder(node))
                    if (const auto stream = GetFeedItem(feed).Attribute(kStreamAttribute); stream && !stream->empty())
                        queue.Unsubscribe(*stream);
            queue.DeleteLabel(label);
        });
        return;
    }
    const std::string stream = GetFeedItem(node).Attribute(kStreamAttribute).value_or("");
    if (!stream.empty()) QueueAccountChange(account, [&](greader::TChangeQueue& queue) { queue.Unsubscribe(stream); });
}

bool TFormMain::AccountNodeMoving(QTreeWidgetItem* node, QTreeWidgetItem* parent) {
    if (FApplyingSync) return true;
    const std::string from = AccountIdOf(node->parent());
    const std::string to = AccountIdOf(parent);
    if (from.empty() && to.empty()) return true;
    // The account's own folder stays where it is, and nothing leaves an
    // account by a move: its feeds are the server's.
    if (IsFolderNode(node) && accountlist::IsAccountFolder(static_cast<TFolderNode*>(node)->Folder()))
        return parent == RootNode();
    if (!from.empty() && from != to) return false;
    if (!from.empty()) {
        // Within the account: labels are one level deep.
        if (IsFolderNode(node)) return false;
        if (IsFolderNode(parent) && parent != AccountNode(to) && parent->parent() != AccountNode(to)) return false;
        const std::string stream = GetFeedItem(node).Attribute(kStreamAttribute).value_or("");
        const std::string oldLabel = AccountLabelOf(node->parent());
        const std::string newLabel = AccountLabelOf(parent);
        if (!stream.empty() && oldLabel != newLabel)
            QueueAccountChange(to, [&](greader::TChangeQueue& queue) { queue.Move(stream, oldLabel, newLabel); });
        return true;
    }
    // Move to account: local feeds are subscribed to on the server, into
    // the label of the folder they go to (or of the folder moved in).
    if (IsFolderNode(parent) && parent != AccountNode(to) && parent->parent() != AccountNode(to)) return false;
    const std::string label = IsFolderNode(node) ? FolderCaption(node) : AccountLabelOf(parent);
    if (IsFolderNode(node) && parent != AccountNode(to)) return false;
    for (QTreeWidgetItem* feed : FeedNodesUnder(node))
        if (!GetFeedItem(feed).Attribute("url").value_or("").empty()) {
            const xml::Node item = GetFeedItem(feed);
            QueueAccountChange(to, [&](greader::TChangeQueue& queue) {
                queue.Subscribe(item.Attribute("url").value_or(""), item.Attribute("caption").value_or(""), label);
            });
        }
    return true;
}

void TFormMain::AccountFeedReaddressed(QTreeWidgetItem* node, const std::string& oldUrl, QTreeWidgetItem* folder) {
    const std::string account = AccountIdOf(node);
    if (account.empty()) return;
    if (AccountIdOf(folder) != account) folder = node->parent();  // nothing leaves an account by a move
    xml::Node item = GetFeedItem(node);
    const std::string stream = item.Attribute(kStreamAttribute).value_or("");
    if (stream.empty()) {
        // Still waiting: a subscription to the old address not sent yet
        // must not be sent at all.
        FItems->With([account, oldUrl](items::TItemStore& store) {
            for (const items::TPendingChange& change : store.Pending(account)) {
                if (change.Kind != greader::kSubscribe) continue;
                const auto payload = nlohmann::json::parse(change.Payload, nullptr, false);
                if (payload.is_object() && payload.value("url", "") == oldUrl) store.RemovePending(change.Id);
            }
        });
    }
    const std::string url = item.Attribute("url").value_or("");
    const std::string caption = item.Attribute("caption").value_or("");
    const std::string label = AccountLabelOf(folder);
    QueueAccountChange(account, [&](greader::TChangeQueue& queue) {
        if (!stream.empty()) queue.Unsubscribe(stream);
        queue.Subscribe(url, caption, label);
    });
    for (const char* name : {kStreamAttribute, kRefusedAttribute})
        if (item.HasAttribute(name)) item.RemoveAttribute(name);
    FUpdates->MarkFeedUpdated(item.Attribute("id").value_or(""));
}

QTreeWidgetItem* TFormMain::AccountLabelFolder(QTreeWidgetItem* account, const std::string& label) {
    if (label.empty()) return account;
    for (int i = 0; i < account->childCount(); ++i)
        if (IsFolderNode(account->child(i)) && FolderCaption(account->child(i)) == label) return account->child(i);
    return AddFolder(label, account);
}

TFormMain::TImportResult TFormMain::ImportToAccount(const std::vector<opml::Outline>& outlines,
                                                    QTreeWidgetItem* account) {
    const std::string accountId = AccountIdOf(account);
    if (accountId.empty()) return {};
    // What the account follows already, by the address it shows.
    std::vector<std::string> known;
    std::set<std::string> knownLoose;
    for (QTreeWidgetItem* node : FeedNodesUnder(account)) {
        known.push_back(GetFeedItem(node).Attribute("url").value_or(""));
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
    QueueAccountChange(accountId, [&](greader::TChangeQueue& queue) {
        for (const opml::Outline& outline : plan.toAdd) queue.Subscribe(outline.url, outline.caption, labelOf(outline));
    });
    feedlist::TFeedIds ids(FOptions->GetConfigNode(feedlist::kItemsPath),
                           FOptions->GetConfigNode(feedlist::kCounterPath));
    for (const opml::Outline& outline : plan.toAdd) {
        QTreeWidgetItem* folder = AccountLabelFolder(account, labelOf(outline));
        AddFeedNode(AppendFeedElement(outline.url, outline.caption, ContainerElement(folder), &ids), folder);
    }
    account->setExpanded(true);
    FOptions->Save();
    return {static_cast<int>(plan.toAdd.size()), plan.skipped, plan.refused};
}

QTreeWidgetItem* TFormMain::AddAccountFeed(const std::string& url, QTreeWidgetItem* folder,
                                           const std::string& caption) {
    const std::string account = AccountIdOf(folder);
    folder = TargetFolder(folder);
    if (IsFolderNode(folder) && folder != AccountNode(account) && folder->parent() != AccountNode(account))
        folder = AccountNode(account);
    QTreeWidgetItem* node = AddFeedNode(AppendFeedElement(url, caption, ContainerElement(folder)), folder);
    const std::string label = AccountLabelOf(folder);
    QueueAccountChange(account, [&](greader::TChangeQueue& queue) { queue.Subscribe(url, caption, label); });
    FOptions->Save();
    return node;
}

void TFormMain::FillMoveToAccountMenu() {
    MenuMoveToAccount->clear();
    QTreeWidgetItem* moving = TreeView->currentItem();
    if (!moving || moving == RootNode() || !AccountIdOf(moving).empty()) return;
    for (const xml::Node& folder : accountlist::AccountFolders(FOptions->GetConfigNode(feedlist::kItemsPath))) {
        QTreeWidgetItem* account = AccountNode(folder.Attribute("account").value_or(""));
        if (!account) continue;
        QAction* action = MenuMoveToAccount->addAction(Q(folder.Attribute("caption").value_or("")));
        connect(action, &QAction::triggered, this,
                [this, moving, account] { Guarded([&] { MoveNode(moving, account); }); });
    }
}
