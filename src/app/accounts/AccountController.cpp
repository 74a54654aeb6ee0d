// The accounts' syncs: one runner per account whose password is known, and
// what each sync brings applied to the account's folder.
#include "AccountController.h"

#include <QDateTime>
#include <QDir>

#include <filesystem>

#include "AccountList.h"
#include "AccountSyncRunner.h"
#include "DateTime.h"
#include "FeedUpdate.h"
#include "ItemStore.h"
#include "PasswordVault.h"
#include "ReadStateController.h"
#include "SubscriptionMerge.h"
#include "uvxLanguage.h"
#include "QtText.h"

namespace {

// The shortest pause between two syncs of an account, whatever the update
// interval says: a sync asks the server for several lists.
constexpr int kShortestSyncIntervalSeconds = 30;

using plat::Q;

std::string SyncStatePath(const std::string& accountId) {
    return QDir::current().absoluteFilePath(Q("sync-" + accountId + ".json")).toStdString();
}

// The failure in plain words, by what the user can do about it.
QString FailureText(const TAccountSyncEnded& ended) {
    using greader::TSyncErrorKind;
    switch (ended.ErrorKind.value_or(TSyncErrorKind::Rejected)) {
        case TSyncErrorKind::WrongPassword:
        case TSyncErrorKind::Unauthorized:
            return LangTextQ("AccountPasswordRefused", {}, QStringLiteral("The server refused the password."));
        case TSyncErrorKind::Unreachable:
            return LangTextQ("AccountUnreachable", {}, QStringLiteral("The server cannot be reached."));
        case TSyncErrorKind::TimedOut:
            return LangTextQ("AccountTimedOut", {}, QStringLiteral("The server did not answer in time."));
        case TSyncErrorKind::Server:
            return LangTextQ("AccountServerTrouble", {}, QStringLiteral("The server has trouble answering."));
        default:
            return LangTextQ("AccountSyncFailed", {ended.Error}, Q(ended.Error));
    }
}

}  // namespace

TAccountController::TAccountController(TAccountHost host, QObject* parent)
    : QObject(parent), FHost(std::move(host)), FVault(new TPasswordVault(QStringLiteral("accounts"), this)) {
    // A secret store that prompts is said to, not waited on in silence.
    connect(FVault, &TPasswordVault::storeWaiting, this, [this](const QString& text) { FHost.ShowStatus(text); });
    connect(this, &TAccountController::accountReady, this, [this](const QString& id, const QString& password) {
        ++FPasswordsGiven[id];
        Guarded([&] { StartSync(id.toStdString(), password.toStdString()); });
    });
    connect(this, &TAccountController::accountRemoved, this,
            [this](const QString& id) { Guarded([&] { Forget(id.toStdString()); }); });
    connect(this, &TAccountController::accountPasswordRefused, this,
            [this](const QString& id) { PasswordRefused(id); });
}

TAccountController::~TAccountController() { StopSyncs(); }

// ---------------------------------------------------------------------------
// Runners

void TAccountController::Forget(const std::string& id) {
    StopSync(id);
    std::error_code ignored;
    std::filesystem::remove(SyncStatePath(id), ignored);
    std::filesystem::remove(SyncStatePath(id) + ".tmp", ignored);
    FHost.Items().With([id](items::TItemStore& store) {
        for (const items::TPendingChange& change : store.Pending(id)) store.RemovePending(change.Id);
    });
}

void TAccountController::StartSync(const std::string& accountId, const std::string& password) {
    if (FHost.Closed()) return;
    if (const auto running = FSyncs.find(accountId); running != FSyncs.end()) {
        running->second->SetPassword(password);
        running->second->SyncNow();
        return;
    }
    const auto record = accountlist::RecordOf(List().FindAccount(accountId));
    if (!record) return;
    // Refusals kept from before a restart show until the user acts on them.
    for (const feedlist::TListEntry* feed : AccountFeeds(accountId)) ShowSubscriptionRefused(feed);

    TAccountSyncRunner::THost host;
    host.ApplySubscriptions = [this, accountId](const greader::TSubscriptionChanges& changes) {
        ApplySubscriptions(accountId, changes);
    };
    host.FeedFor = [this, accountId](const std::string& stream, const std::string& title) {
        return FeedFor(accountId, stream, title);
    };
    host.FeedIds = [this, accountId] { return FeedIds(accountId); };
    host.ApplyBatch = [this](const TAccountBatchApplied& batch) { ApplyBatch(batch); };
    host.AlertWords = FHost.AlertWords;
    host.Started = [this, accountId] { ShowState(accountId, true, QString()); };
    host.Ended = [this, accountId](const TAccountSyncEnded& ended) { SyncEnded(accountId, ended); };

    greader::TAccount account{accountId, record->Address, record->User, password};
    auto runner = std::make_unique<TAccountSyncRunner>(std::move(account), FHost.Items().Base(),
                                                       SyncStatePath(accountId), std::move(host));
    runner->SetDeadline(FRequestDeadline);
    runner->SyncNow();
    FSyncs[accountId] = std::move(runner);
}

void TAccountController::StopSync(const std::string& accountId) {
    const auto found = FSyncs.find(accountId);
    if (found == FSyncs.end()) return;
    std::unique_ptr<TAccountSyncRunner> runner = std::move(found->second);
    FSyncs.erase(found);
    runner.reset();  // cancels its request and joins its thread
    // A sync cut short is no longer under way; a failure stays shown.
    if (AccountFolder(accountId)) {
        const QString toolTip = FHost.AccountRowToolTip(accountId);
        FHost.ShowAccountRow(
            accountId, toolTip.isEmpty() ? TAccountHost::TRowState::Plain : TAccountHost::TRowState::Failed, toolTip);
    }
}

void TAccountController::StopSyncs() {
    while (!FSyncs.empty()) StopSync(FSyncs.begin()->first);
}

void TAccountController::Sync(const std::string& accountId) {
    if (const auto found = FSyncs.find(accountId); found != FSyncs.end()) found->second->SyncNow();
}

bool TAccountController::Idle(const std::string& accountId) const {
    const auto found = FSyncs.find(accountId);
    return found == FSyncs.end() || found->second->Idle();
}

std::string TAccountController::FolderCaption(const feedlist::TListEntry* entry) {
    return entry && entry->IsFolder() ? entry->Caption() : std::string();
}

bool TAccountController::IsFolder(const feedlist::TListEntry* entry) {
    return entry && entry->IsFolder() && entry->Parent();
}

const feedlist::TFeedEntry* TAccountController::FeedOf(const feedlist::TListEntry* entry) {
    return entry && entry->IsFeed() ? &entry->Feed() : nullptr;
}

std::string TAccountController::AccountIdOf(const feedlist::TListEntry* entry) {
    const feedlist::TListEntry* account = entry ? entry->AccountFolder() : nullptr;
    return account ? account->Folder().Account->Id : std::string();
}

const feedlist::TListEntry* TAccountController::AccountFolder(const std::string& accountId) const {
    return accountId.empty() ? nullptr : List().FindAccount(accountId);
}

std::vector<const feedlist::TListEntry*> TAccountController::AccountFeeds(const std::string& accountId) const {
    const feedlist::TListEntry* account = AccountFolder(accountId);
    return account ? feedlist::FeedsUnder(*account) : std::vector<const feedlist::TListEntry*>();
}

std::string TAccountController::AccountLabelOf(const feedlist::TListEntry* folder) {
    if (!folder || !folder->IsFolder() || folder->IsAccount() || !folder->Parent()) return {};
    return folder->Caption();
}

const feedlist::TListEntry* TAccountController::LabelFolder(const feedlist::TListEntry& account,
                                                            const std::string& label) {
    if (label.empty()) return &account;
    for (const auto& child : account.Children())
        if (child->IsFolder() && child->Caption() == label) return child.get();
    return FHost.AddFolder(label, account);
}

void TAccountController::CountUnread(const std::string& feedId) {
    FHost.Items().With([this, feedId](items::TItemStore& store) {
        const feedlist::TListEntry* feed = List().FindFeed(feedId);
        if (!feed) return;
        const long long unread = store.UnreadCount(feedId);
        if (feed->Feed().Unread != unread)
            List().UpdateFeed(*feed, [unread](feedlist::TFeedEntry& entry) { entry.Unread = unread; });
    });
}

void TAccountController::ShowState(const std::string& accountId, bool busy, const QString& failure) {
    if (!AccountFolder(accountId)) return;
    using TRowState = TAccountHost::TRowState;
    const TRowState state = busy ? TRowState::Busy : !failure.isEmpty() ? TRowState::Failed : TRowState::Plain;
    const QString toolTip =
        failure.isEmpty() ? QString() : failure + '\n' + QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
    // A sync starting keeps the last failure's words until it ends.
    FHost.ShowAccountRow(accountId, state, busy ? FHost.AccountRowToolTip(accountId) : toolTip);
}

// ---------------------------------------------------------------------------
// Results from the server

std::map<std::string, std::string> TAccountController::FeedIds(const std::string& accountId) const {
    std::map<std::string, std::string> ids;
    for (const feedlist::TListEntry* entry : AccountFeeds(accountId)) {
        const feedlist::TFeedEntry& feed = entry->Feed();
        if (!feed.Stream.empty()) ids.emplace(feed.Stream, feedlist::IdText(feed));
    }
    return ids;
}

std::string TAccountController::FeedFor(const std::string& accountId, const std::string& stream,
                                        const std::string& title) {
    const feedlist::TListEntry* account = AccountFolder(accountId);
    if (!account) return {};
    for (const feedlist::TListEntry* entry : feedlist::FeedsUnder(*account))
        if (entry->Feed().Stream == stream) return feedlist::IdText(entry->Feed());
    // Subscribed elsewhere since the list was read: the next list gives its
    // address and folder.
    const feedlist::TListEntry* added = FHost.AppendFeed("", title, *account);
    if (!added) return {};
    List().UpdateFeed(*added, [&stream](feedlist::TFeedEntry& feed) { feed.Stream = stream; });
    FHost.ScheduleSave();
    return feedlist::IdText(added->Feed());
}

void TAccountController::ShowSubscriptionRefused(const feedlist::TListEntry* entry) {
    const feedlist::TFeedEntry* feed = FeedOf(entry);
    const std::string why = feed ? accounts::RefusalOf(*feed) : std::string();
    if (why.empty() || FHost.FeedFailed(feedlist::IdText(*feed))) return;
    FHost.MarkFeedFailed(feedlist::IdText(*feed), LangTextQ("AccountSubscribeRefused", {why}, Q(why)).toStdString());
}

void TAccountController::ApplyBatch(const TAccountBatchApplied& batch) {
    const feedlist::TListEntry* feed = List().FindFeed(batch.FeedId);
    if (!feed) {
        // Deleted while its items were on the way.
        std::error_code ignored;
        std::filesystem::remove(StoredCopyPath(batch.FeedId), ignored);
        FHost.Items().ForgetFeed(batch.FeedId);
        return;
    }
    FHost.StoredCopyChanged(batch.FeedId);
    List().UpdateFeed(*feed, [](feedlist::TFeedEntry& entry) { entry.LastUpdate = plat::FormatISO8601(plat::Now()); });
    CountUnread(batch.FeedId);
    // Looked up again: the store's answer may come after the feed went.
    if (batch.Document && !batch.Fresh.empty())
        if (const feedlist::TListEntry* shown = List().FindFeed(batch.FeedId))
            FHost.AnnounceNewItems(shown->Feed(), *batch.Document, batch.Fresh, batch.Verdicts);
    if (FHost.ItemsArrived) FHost.ItemsArrived(batch.FeedId);
    FHost.ScheduleSave();
}

void TAccountController::SyncEnded(const std::string& accountId, const TAccountSyncEnded& ended) {
    const feedlist::TListEntry* account = AccountFolder(accountId);
    if (!ended.ReadChangedFeeds.empty()) {
        for (const std::string& id : ended.ReadChangedFeeds) CountUnread(id);
        FHost.RepaintTree();
        FHost.ScheduleSave();
    }
    if (!ended.StarChangedFeeds.empty()) emit starsChanged();
    if (!ended.Rejected.empty())
        FHost.ShowStatus(LangTextQ("AccountChangesRejected", {ended.Rejected.front()}, Q(ended.Rejected.front())));

    const auto kind = ended.ErrorKind;
    if (kind == greader::TSyncErrorKind::Cancelled) return;
    const auto runner = FSyncs.find(accountId);
    if (ended.Ok) {
        ShowState(accountId, false, QString());
        if (account) FHost.ShowStatus(LangTextQ("AccountSynced", {FolderCaption(account)}, Q(FolderCaption(account))));
        if (runner != FSyncs.end())
            runner->second->SyncAfter(
                std::chrono::seconds(std::max(FHost.UpdateIntervalSeconds(), kShortestSyncIntervalSeconds)));
    } else {
        const QString failure = FailureText(ended);
        ShowState(accountId, false, failure);
        if (account)
            FHost.ShowStatus(
                LangTextQ("FailedFeed", {FolderCaption(account) + " - " + failure.toStdString()}, failure));
        if (kind == greader::TSyncErrorKind::WrongPassword || kind == greader::TSyncErrorKind::Unauthorized) {
            // Asked once: the account waits for the password to be typed
            // again (accountReady), never retried with the refused one.
            QMetaObject::invokeMethod(
                this, [this, accountId] { StopSync(accountId); }, Qt::QueuedConnection);
            emit accountPasswordRefused(Q(accountId));
        } else if (ended.NextAttempt && runner != FSyncs.end()) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*ended.NextAttempt -
                                                                                    std::chrono::system_clock::now());
            runner->second->SyncAfter(std::max(wait, std::chrono::milliseconds(0)));
        }
    }
    if (OnSynced) OnSynced(accountId, ended);
}
