#include "UpdateRig.h"

#include <stdexcept>

#include "FeedListXml.h"
#include "FeedTree.h"
#include "Options.h"
#include "uvxLanguage.h"

namespace apptest {

// The list's shape as the tree would report it: any change counts.
class TUpdateRig::TVersion : public feedlist::TFeedListObserver {
public:
    std::uint64_t Value = 1;
    void EntryInserted(const feedlist::TListEntry&) override { ++Value; }
    void EntryRemoving(const feedlist::TListEntry&) override { ++Value; }
    void EntryMoved(const feedlist::TListEntry&, const feedlist::TListEntry&, std::size_t) override { ++Value; }
    void EntryChanged(const feedlist::TListEntry&) override { ++Value; }
    void ListReset() override { ++Value; }
};

TUpdateRig::TUpdateRig() : FOptions(std::make_unique<TOptions>()), FVersion(std::make_unique<TVersion>()) {
    FOptions->ConfigDocument().LoadFromFile("config.xml");
    GlobalLanguage().Scan("languages");
    GlobalLanguage().SetLCID(1033);  // the messages, in English
    FStored = std::make_unique<feedlist::TStoredFeedList>(FList, FOptions->GetConfigNode(feedlist::kItemsPath),
                                                          FOptions->GetConfigNode(feedlist::kCounterPath));
    FStored->Load();
    FList.AddObserver(FVersion.get());
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
    items.FeedItemsRead = [](const std::string&, const std::vector<std::string>&) {};
    items.FeedItemsUnread = [](const std::string&) {};
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
    host.ListVersion = [this] { return FVersion->Value; };
    host.SyncAccount = [](const std::string&) {};
    host.RowText = [this](const std::string& id) { return TFeedTree::FeedDisplayText(Feed(id)).toStdString(); };
    host.ShowRowState = [this](const std::string& id, const QIcon& icon, const QString& toolTip, const QString&,
                               const QString&) {
        FRows[id] = {icon, toolTip};
    };
    host.RefreshIfShown = [this](const std::string& id) {
        if (id == Selected) FRefreshed.push_back(id);
    };
    host.ShowStatus = status;
    host.StatusText = [this] { return FStatus; };
    host.ScheduleConfigSave = [] {};
    host.EnableUpdateAll = [](bool) {};
    host.TreeIcon = [](const QString& path) { return QIcon(path); };
    host.AwaitingScreen = [] { return false; };
    FUpdates = std::make_unique<TUpdateController>(std::move(host), *FItems, *FNotify, *FHealth);
    FUpdates->Stop();
}

TUpdateRig::~TUpdateRig() {
    FUpdates.reset();
    FList.RemoveObserver(FVersion.get());
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
