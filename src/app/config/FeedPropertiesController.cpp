#include "FeedPropertiesController.h"

#include <algorithm>
#include <optional>

#include "Convert.h"
#include "fFeedProperties.h"
#include "QtText.h"

namespace {

using plat::Q;

int IntervalOf(const feedlist::TFeedEntry& feed) {
    return feed.IntervalSeconds && *feed.IntervalSeconds > 0 ? *feed.IntervalSeconds : 0;
}

std::string AccountOf(const feedlist::TListEntry& entry) {
    const feedlist::TListEntry* account = entry.AccountFolder();
    return account ? account->Folder().Account->Id : std::string();
}

}  // namespace

TFeedPropertiesController::TFeedPropertiesController(THost host, QObject* parent)
    : QObject(parent), FHost(std::move(host)) {
    setObjectName("FeedProperties");
}

std::vector<TFeedPropertiesController::TFolderChoice> TFeedPropertiesController::Folders() const {
    std::vector<TFolderChoice> folders;
    // Depth first in the list's order, without recursion.
    std::vector<std::pair<const feedlist::TListEntry*, int>> pending{{&FHost.FeedList->Root(), 0}};
    while (!pending.empty()) {
        const auto [entry, depth] = pending.back();
        pending.pop_back();
        folders.push_back({entry, entry->Parent() ? Q(entry->Caption()) : FHost.TopCaption, depth});
        const auto& children = entry->Children();
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if ((*it)->IsFolder()) pending.push_back({it->get(), depth + 1});
    }
    return folders;
}

std::vector<TFeedPropertiesController::TFolderChoice> TFeedPropertiesController::FoldersFor(
    const std::string& id) const {
    std::vector<TFolderChoice> folders = Folders();
    if (const feedlist::TListEntry* top = FHost.FeedList->FindFeed(id)->AccountFolder()) {
        // An account's feed stays in the account, in one of its labels.
        std::erase_if(folders, [top](const TFolderChoice& choice) {
            return choice.Folder != top && choice.Folder->Parent() != top;
        });
    }
    return folders;
}

void TFeedPropertiesController::Open(const std::string& id) {
    const feedlist::TListEntry* entry = FHost.FeedList->FindFeed(id);
    if (!entry) return;
    const feedlist::TFeedEntry& feed = entry->Feed();
    const std::vector<TFolderChoice> folders = FoldersFor(id);
    std::vector<TFormFeedProperties::TFolderEntry> entries;
    for (const TFolderChoice& folder : folders) entries.push_back({folder.Caption, folder.Depth});
    const feedlist::TListEntry* current = entry->Parent();
    TFeedProperties values;
    values.Caption = Q(feed.Caption);
    values.Url = Q(feed.Url);
    values.Folder = static_cast<int>(
        std::find_if(folders.begin(), folders.end(), [&](const TFolderChoice& f) { return f.Folder == current; }) -
        folders.begin());
    values.Notify = feed.Notify;
    values.FullArticle = feed.FullArticle;
    values.IntervalSeconds = IntervalOf(feed);
    values.FetchedByServer = !AccountOf(*entry).empty();
    // The same cause the feed's tooltip names.
    values.HealthCause = FHost.HealthCause(id);
    if (const QString failure = FHost.LastFailure(id); !failure.isEmpty() && !values.HealthCause.contains(failure))
        values.HealthCause = values.HealthCause.isEmpty() ? failure : values.HealthCause + '\n' + failure;

    TFormFeedProperties dialog(FHost.Window(), entries, values);
    if (dialog.exec() != QDialog::Accepted) return;
    // The feed may have gone, or the folders changed, while the dialog
    // was open (a deletion by another hand, an import).
    if (!FHost.FeedList->FindFeed(id)) return;
    const TFeedProperties chosen = dialog.Values();
    const std::vector<TFolderChoice> now = Folders();
    const feedlist::TListEntry* folder = chosen.Folder >= 0 && chosen.Folder < static_cast<int>(folders.size())
                                             ? folders[static_cast<std::size_t>(chosen.Folder)].Folder
                                             : nullptr;
    if (std::none_of(now.begin(), now.end(), [&](const TFolderChoice& f) { return f.Folder == folder; }))
        folder = nullptr;
    Apply(id, chosen, folder);
}

void TFeedPropertiesController::Apply(const std::string& id, const TFeedProperties& values,
                                      const feedlist::TListEntry* folder) {
    feedlist::TFeedList& list = *FHost.FeedList;
    const feedlist::TListEntry* entry = list.FindFeed(id);
    if (!entry) return;
    const bool ofAccount = !AccountOf(*entry).empty();
    if (!folder) folder = entry->Parent();

    const std::string caption = values.Caption.toStdString();
    const std::string oldCaption = entry->Feed().Caption;
    const std::string url = values.Url.toStdString();
    const std::string oldUrl = entry->Feed().Url;
    const bool newAddress = !url.empty() && oldUrl != url;
    const int interval = std::max(0, values.IntervalSeconds);
    const bool newInterval = interval != IntervalOf(entry->Feed());
    list.UpdateFeed(*entry, [&](feedlist::TFeedEntry& feed) {
        feed.Caption = caption;
        if (newAddress) {
            feed.Url = url;
            feedlist::ForgetValidators(feed);
        }
        // Edited by the user: a feed stopped after a 410 is polled again.
        feed.Stopped.clear();
        feed.Notify = values.Notify;
        feed.FullArticle = values.FullArticle;
        if (newInterval) feed.IntervalSeconds = interval > 0 ? std::optional<int>(interval) : std::nullopt;
    });
    // Polling reads the list again for a new address or interval.
    if (newAddress || newInterval) FHost.FeedListChanged();
    // A new address starts a new history.
    if (newAddress) FHost.AddressReplaced(id);

    // An account's feed changes on its server: a new address is another
    // subscription there, which carries the new name and folder too.
    if (ofAccount && newAddress)
        FHost.AccountFeedReaddressed(id, oldUrl, folder);
    else if (ofAccount && oldCaption != caption)
        FHost.AccountFeedRenamed(id, oldCaption);

    if (folder != entry->Parent()) FHost.MoveTo(id, *folder);
    FHost.Save();
}
