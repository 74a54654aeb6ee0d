#include "AccountRig.h"

#include "AccountList.h"
#include "FeedList.h"

namespace apptest {

TAccountRig::TAccountRig() {
    TAccountHost host;
    host.Closed = [] { return false; };
    host.FeedList = &List();
    host.SaveNow = [this] { Save(); };
    host.ScheduleSave = [] {};
    host.Items = [this]() -> TReadStateController& { return Items(); };
    host.ShowStatus = [this](const QString& text) { ShowStatus(text); };
    host.ShowError = [this](const std::exception& error) { FErrors.push_back(error.what()); };
    host.UpdateIntervalSeconds = [this] { return Updates().UpdateIntervalSeconds(); };
    host.AlertWords = [this] { return Notify().RefreshAlertWords(); };
    host.AnnounceNewItems = [this](const feedlist::TFeedEntry& feed, const feed::TFeedDocument& document,
                                   const std::vector<int>& fresh, const TAlertVerdicts& verdicts) {
        Notify().AnnounceNewItems(feed, document, static_cast<int>(fresh.size()), &fresh, &verdicts);
    };
    host.AppendFeed = [this](const std::string& url, const std::string& caption, const feedlist::TListEntry& folder) {
        return Feeds().AppendFeed(url, caption, &folder);
    };
    host.AddFolder = [this](const std::string& caption, const feedlist::TListEntry& parent) {
        return Feeds().AddFolder(caption, &parent);
    };
    host.DeleteFolder = [this](const feedlist::TListEntry& folder, bool withContents) {
        Feeds().DeleteFolder(&folder, withContents);
    };
    host.FeedGone = [this](const std::string& id) { FeedGone(id); };
    host.BeginBatch = [this] { Tree().BeginBatch(); };
    host.EndBatch = [this] { Tree().EndBatch(); };
    host.RepaintTree = [] {};
    host.MarkFeedUpdated = [this](const std::string& id) { Updates().MarkFeedUpdated(id); };
    host.MarkFeedFailed = [this](const std::string& id, const std::string& failure) {
        Updates().MarkFeedFailed(id, failure);
    };
    host.FeedFailed = [this](const std::string& id) { return !Updates().RowState(id).Failure.isEmpty(); };
    host.StoredCopyChanged = [this](const std::string& id) { Updates().StoredCopyChanged(id); };
    host.ShowAccountRow = [this](const std::string& accountId, TAccountHost::TRowState state, const QString& toolTip) {
        TFolderNode* row = AccountRow(accountId);
        if (!row) return;
        using TRowState = TAccountHost::TRowState;
        const QIcon icon = state == TRowState::Busy     ? Updates().BusyIcon()
                           : state == TRowState::Failed ? Updates().FailedIcon()
                                                        : QIcon();
        row->ShowState(icon, toolTip, state == TRowState::Failed ? toolTip : QString());
    };
    host.AccountRowToolTip = [this](const std::string& accountId) {
        const TFolderNode* row = AccountRow(accountId);
        return row ? row->ToolTip() : QString();
    };
    FAccountController = std::make_unique<TAccountController>(std::move(host));
    FAccountController->SetPasswordPrompt([](const QString&) { return std::optional<QString>(); });
    FAccounts = FAccountController.get();
    FAccountController->Start();

    TFeedPropertiesController::THost properties;
    properties.FeedList = &List();
    properties.TopCaption = QStringLiteral("Quillet");
    properties.HealthCause = [this](const std::string& id) { return Health().Cause(id); };
    properties.LastFailure = [this](const std::string& id) { return Updates().RowState(id).Failure; };
    properties.AddressReplaced = [this](const std::string& id) {
        Health().AddressReplaced(id);
        Updates().AddressChanged(id);
    };
    properties.FeedListChanged = [this] { Tree().NoteListChanged(); };
    properties.AccountFeedRenamed = [this](const std::string& id, const std::string& oldCaption) {
        Accounts().EntryRenamed(List().FindFeed(id), oldCaption);
    };
    properties.AccountFeedReaddressed = [this](const std::string& id, const std::string& oldUrl,
                                               const feedlist::TListEntry* folder) {
        Accounts().FeedReaddressed(List().FindFeed(id), oldUrl, folder);
    };
    properties.MoveTo = [this](const std::string& id, const feedlist::TListEntry& folder) {
        Feeds().MoveNode(List().FindFeed(id), &folder);
    };
    properties.Save = [this] { Save(); };
    properties.Window = [this] { return &Window(); };
    FProperties = new TFeedPropertiesController(std::move(properties), &Window());
}

TAccountRig::~TAccountRig() {
    delete FProperties;
    FAccounts = nullptr;
    FAccountController.reset();
}

TFolderNode* TAccountRig::AccountRow(const std::string& accountId) {
    return static_cast<TFolderNode*>(Tree().RowOf(List().FindAccount(accountId)));
}

TFeedNode* TAccountRig::AccountFeed(const std::string& accountId, const std::string& caption) {
    for (QTreeWidgetItem* row : Tree().FeedNodesUnder(AccountRow(accountId)))
        if (TFeedTree::FeedOf(row)->Caption == caption) return static_cast<TFeedNode*>(row);
    return nullptr;
}

}  // namespace apptest
