#include "UpdateRig.h"

#include <QJsonObject>

#include <stdexcept>

#include "AccountController.h"
#include "FeedListXml.h"
#include "FeedTree.h"
#include "FeedUpdate.h"
#include "Opml.h"
#include "Options.h"
#include "uvxLanguage.h"

namespace apptest {

TUpdateRig::TUpdateRig() : FOptions(std::make_unique<TOptions>()) {
    FOptions->ConfigDocument().LoadFromFile("config.xml");
    GlobalLanguage().Scan("languages");
    GlobalLanguage().SetLCID(1033);  // the messages, in English
    FStored = std::make_unique<feedlist::TStoredFeedList>(FList, FOptions->GetConfigNode(feedlist::kItemsPath),
                                                          FOptions->GetConfigNode(feedlist::kCounterPath));
    FStored->Load();
    FTree = new TFeedTree(&FWindow);
    FTree->Follow(&FList);
    auto ids = [this] {
        std::vector<std::string> result;
        for (const feedlist::TListEntry* feed : FList.Feeds()) result.push_back(feedlist::IdText(feed->Feed()));
        return result;
    };
    auto status = [this](const QString& text) { FStatus = text; };

    TReadStateHost items;
    items.ShowStatus = status;
    items.FeedList = &FList;
    items.FeedIds = ids;
    items.VisibleFeedsAfterCurrent = ids;
    items.CurrentFeedId = [this] { return Selected; };
    items.ShowFeed = [this](const std::string& id) { Selected = id; };
    items.CountsChanged = [](const std::vector<std::string>&) {};
    items.FeedItemsRead = [this](const std::string& id, const std::vector<std::string>& keys) {
        if (FAccounts) FAccounts->FeedsRead(id, keys);
    };
    items.FeedItemsUnread = [this](const std::string& id) {
        if (FAccounts) FAccounts->FeedsUnread(id);
    };
    items.FeedCaption = [this](const std::string& id) { return QString::fromStdString(Feed(id).Caption); };
    items.Closing = [] { return false; };
    FItems = std::make_unique<TReadStateController>(std::move(items), &FWindow);
    FItems->Open();

    TNotifyController::THost notify;
    notify.Options = [this] { return FOptions.get(); };
    notify.FeedList = &FList;
    notify.SelectedFeed = [this] { return FList.FindFeed(Selected); };
    notify.ShowStatus = status;
    notify.ScheduleConfigSave = [] {};
    notify.ShowBalloon = [](const QString&, const QString&, int) {};
    FNotify = new TNotifyController(std::move(notify), &FWindow);

    TFeedHealthController::THost health;
    health.Options = [this] { return FOptions.get(); };
    health.ShowStatus = status;
    health.Guarded = [](const std::function<void()>& handler) { handler(); };
    health.FeedIds = ids;
    health.FeedList = &FList;
    health.FeedName = [this](const std::string& id) { return QString::fromStdString(Feed(id).Caption); };
    health.ShowFeedState = [this](const std::string& id) { FUpdates->ShowFeedState(id); };
    health.SetFeedAddress = [](const std::string&, const std::string&) {};
    health.UpdateFeed = [this](const std::string& id) { FUpdates->UpdateFeed(id); };
    health.EditFeed = health.DeleteFeed = [](const std::string&) {};
    health.ChooseFeedOnPage = [](const std::string&, const std::string&, const QString&) { return std::string(); };
    health.Fetched = [this](const std::string& id, const schedule::TAnswerHints& answer,
                            std::chrono::system_clock::time_point at) {
        if (FUpdates) FUpdates->Fetched(id, answer, at);
    };
    FHealth = new TFeedHealthController(std::move(health), &FWindow);

    TUpdateController::THost host;
    host.Options = [this] { return FOptions.get(); };
    host.Closed = [] { return false; };
    host.FeedList = &FList;
    host.ListVersion = [this] { return FTree->ListVersion(); };
    host.SyncAccount = [this](const std::string& accountId) {
        if (FAccounts) FAccounts->Sync(accountId);
    };
    host.RowText = [this](const std::string& id) {
        const QTreeWidgetItem* row = FTree->FindFeedNodeById(id);
        return row ? row->text(0).toStdString() : std::string();
    };
    host.ShowRowState = [this](const std::string& id, const QIcon& icon, const QString& toolTip, const QString& failure,
                               const QString& attention) {
        FRows[id] = {icon, toolTip};
        if (auto* row = static_cast<TFeedNode*>(FTree->FindFeedNodeById(id)))
            row->ShowState(icon, toolTip, failure, attention);
    };
    host.RefreshIfShown = [this](const std::string& id) {
        if (id == Selected) FRefreshed.push_back(id);
    };
    host.ShowStatus = status;
    host.StatusText = [this] { return FStatus; };
    host.ScheduleConfigSave = [] {};
    host.EnableUpdateAll = [this](bool enabled) { FUpdateAllEnabled = enabled; };
    host.TreeIcon = [this](const QString& path) { return FTree->Icon(path); };
    host.AwaitingScreen = [] { return false; };
    FUpdates = std::make_unique<TUpdateController>(std::move(host), *FItems, *FNotify, *FHealth);
    FUpdates->Stop();

    // The list's changes as the window wires them; an account's part only
    // with a rig that has accounts.
    TFeedListController::THost feeds;
    feeds.Reload = [this] { FStored->Load(); };
    feeds.Save = [this] { FOptions->Save(); };
    feeds.ScheduleSave = [] {};
    feeds.AccountIdOf = [](const feedlist::TListEntry* entry) { return TAccountController::AccountIdOf(entry); };
    feeds.AccountNode = [this](const std::string& id) { return FAccounts ? FAccounts->AccountFolder(id) : nullptr; };
    feeds.AddAccountFeed = [this](const std::string& url, const feedlist::TListEntry* folder,
                                  const std::string& caption) { return FAccounts->AddFeed(url, folder, caption); };
    feeds.ImportToAccount = [this](const std::vector<opml::Outline>& outlines, const feedlist::TListEntry* account) {
        return FAccounts->Import(outlines, account);
    };
    feeds.MayMove = [this](const feedlist::TListEntry* entry, const feedlist::TListEntry* parent) {
        return !FAccounts || FAccounts->EntryMoving(entry, parent);
    };
    feeds.Renamed = [this](const feedlist::TListEntry* entry, const std::string& oldCaption) {
        if (FAccounts) FAccounts->EntryRenamed(entry, oldCaption);
    };
    feeds.ApplyingSync = [this] { return FAccounts && FAccounts->ApplyingSync(); };
    feeds.Update = [this](const std::string& id) { FUpdates->UpdateFeed(id); };
    feeds.FeedDeleting = [this](const std::string& id) {
        FeedGone(id);
        if (IsValidFeedId(id)) FUpdates->StoredCopyChanged(id);
    };
    feeds.ForgetItems = [this](std::vector<std::string> ids) { FItems->ForgetFeeds(std::move(ids)); };
    feeds.Guarded = [](const std::function<void()>& handler) { handler(); };
    FFeeds = std::make_unique<TFeedListController>(*FTree, std::move(feeds));
}

TUpdateRig::~TUpdateRig() { FUpdates.reset(); }

void TUpdateRig::FeedGone(const std::string& id) {
    const QString text = QString::fromStdString(id);
    FUpdates->FeedDeleted(text);
    FHealth->FeedDeleted(text);
    FNotify->FeedDeleted(text);
    if (id == Selected) Selected.clear();
}

bool TUpdateRig::ShowOnPage(const std::string& id) {
    Selected = id;
    FItems->ShowPage(Feed(id), [this](const QJsonObject&) { return ++FPageSerial; });
    FItems->PageShown(FPageSerial);
    return FItems->ShownPage().FeedId == id && FItems->ShownPage().Marked;
}

TFeedNode& TUpdateRig::RowOf(const std::string& id) const {
    auto* row = static_cast<TFeedNode*>(FTree->FindFeedNodeById(id));
    if (!row) throw std::runtime_error("no row of feed " + id);
    return *row;
}

void TUpdateRig::Save() { FOptions->Save(); }

const feedlist::TListEntry* TUpdateRig::AddStoredFeed(
    const std::vector<std::pair<std::string, std::string>>& attributes, const feedlist::TListEntry* folder) {
    xml::Document scratch;
    xml::Node element = scratch.CreateDocumentElement("item");
    for (const auto& [name, value] : attributes) element.SetAttribute(name, value);
    feedlist::TFeedEntry feed = feedlist::ReadFeedEntry(element);
    if (FList.FindFeed(feed.Id)) feed.Id = 0;  // taken: the list numbers it, as a load would
    return FList.AddFeed(folder ? *folder : FList.Root(), std::move(feed));
}

const feedlist::TFeedEntry& TUpdateRig::Feed(const std::string& id) const {
    const feedlist::TListEntry* entry = FList.FindFeed(id);
    if (!entry) throw std::runtime_error("no feed " + id + " in the list");
    return entry->Feed();
}

TUpdateRig::TRowState TUpdateRig::Row(const std::string& id) const {
    const auto it = FRows.find(id);
    return it == FRows.end() ? TRowState{} : it->second;
}

}  // namespace apptest
