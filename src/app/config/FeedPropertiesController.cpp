#include "FeedPropertiesController.h"

#include <algorithm>
#include <optional>

#include "Convert.h"
#include "FullArticleSwitch.h"
#include "fFeedProperties.h"

namespace {

const char* const kNotifyAttribute = "notify";
const char* const kIntervalAttribute = "interval";
const char* const kCaptionAttribute = "caption";
const char* const kUrlAttribute = "url";
// The validators belong to the answer of one address.
const char* const kValidatorAttributes[] = {"etag", "lastmodified"};

QString Q(const std::string& text) { return QString::fromStdString(text); }

bool NotifyOf(const xml::Node& item) { return item.Attribute(kNotifyAttribute) != "False"; }

int IntervalOf(const xml::Node& item) {
    const std::optional<int> seconds = plat::TryStrToInt(item.Attribute(kIntervalAttribute).value_or(""));
    return seconds && *seconds > 0 ? *seconds : 0;
}

}  // namespace

TFeedPropertiesController::TFeedPropertiesController(THost host, QObject* parent)
    : QObject(parent), FHost(std::move(host)) {
    setObjectName("FeedProperties");
}

std::vector<TFeedPropertiesController::TFolderChoice> TFeedPropertiesController::FoldersFor(
    const std::string& id) const {
    std::vector<TFolderChoice> folders = FHost.Folders();
    const std::string account = FHost.AccountOf(id);
    if (!account.empty()) {
        // An account's feed stays in the account, in one of its labels.
        const xml::Node top = FHost.AccountFolder(account);
        std::erase_if(folders, [&top](const TFolderChoice& choice) {
            return choice.Folder != top && choice.Folder.Parent() != top;
        });
    }
    return folders;
}

void TFeedPropertiesController::Open(const std::string& id) {
    const xml::Node item = FHost.FeedItem(id);
    if (!item) return;
    const std::vector<TFolderChoice> folders = FoldersFor(id);
    std::vector<TFormFeedProperties::TFolderEntry> entries;
    for (const TFolderChoice& folder : folders) entries.push_back({folder.Caption, folder.Depth});
    const xml::Node current = FHost.FolderOf(id);
    TFeedProperties values;
    values.Caption = Q(item.Attribute(kCaptionAttribute).value_or(""));
    values.Url = Q(item.Attribute(kUrlAttribute).value_or(""));
    values.Folder = static_cast<int>(
        std::find_if(folders.begin(), folders.end(), [&](const TFolderChoice& f) { return f.Folder == current; }) -
        folders.begin());
    values.Notify = NotifyOf(item);
    values.FullArticle = ShowsFullArticle(item);
    values.IntervalSeconds = IntervalOf(item);
    values.FetchedByServer = !FHost.AccountOf(id).empty();
    // The same cause the feed's tooltip names.
    values.HealthCause = FHost.HealthCause(id);
    if (const QString failure = FHost.LastFailure(id); !failure.isEmpty() && !values.HealthCause.contains(failure))
        values.HealthCause = values.HealthCause.isEmpty() ? failure : values.HealthCause + '\n' + failure;

    TFormFeedProperties dialog(FHost.Window(), entries, values);
    if (dialog.exec() != QDialog::Accepted) return;
    // The feed may have gone, or the folders changed, while the dialog
    // was open (a deletion by another hand, an import).
    if (!FHost.FeedItem(id)) return;
    const TFeedProperties chosen = dialog.Values();
    const std::vector<TFolderChoice> now = FHost.Folders();
    xml::Node folder = chosen.Folder >= 0 && chosen.Folder < static_cast<int>(folders.size())
                           ? folders[static_cast<std::size_t>(chosen.Folder)].Folder
                           : xml::Node();
    if (std::none_of(now.begin(), now.end(), [&](const TFolderChoice& f) { return f.Folder == folder; }))
        folder = xml::Node();
    Apply(id, chosen, folder);
}

void TFeedPropertiesController::Apply(const std::string& id, const TFeedProperties& values, xml::Node folder) {
    xml::Node item = FHost.FeedItem(id);
    if (!item) return;
    const bool ofAccount = !FHost.AccountOf(id).empty();
    if (!folder) folder = FHost.FolderOf(id);

    const std::string caption = values.Caption.toStdString();
    const std::string oldCaption = item.Attribute(kCaptionAttribute).value_or("");
    if (oldCaption != caption) item.SetAttribute(kCaptionAttribute, caption);

    const std::string url = values.Url.toStdString();
    const std::string oldUrl = item.Attribute(kUrlAttribute).value_or("");
    const bool newAddress = !url.empty() && oldUrl != url;
    if (newAddress) {
        item.SetAttribute(kUrlAttribute, url);
        FHost.FeedListChanged();
        for (const char* name : kValidatorAttributes)
            if (item.HasAttribute(name)) item.RemoveAttribute(name);
        // A new address starts a new history.
        FHost.AddressReplaced(id);
    }

    // An account's feed changes on its server: a new address is another
    // subscription there, which carries the new name and folder too.
    if (ofAccount && newAddress)
        FHost.AccountFeedReaddressed(id, oldUrl, folder);
    else if (ofAccount && oldCaption != caption)
        FHost.AccountFeedRenamed(id, oldCaption);

    // Edited by the user: a feed stopped after a 410 is polled again.
    if (item.HasAttribute("stopped")) item.RemoveAttribute("stopped");

    if (values.Notify != NotifyOf(item)) item.SetAttribute(kNotifyAttribute, plat::BoolToStr(values.Notify));
    if (values.FullArticle != ShowsFullArticle(item)) SetShowsFullArticle(item, values.FullArticle);

    const int interval = std::max(0, values.IntervalSeconds);
    if (interval != IntervalOf(item)) {
        if (interval > 0)
            item.SetAttribute(kIntervalAttribute, std::to_string(interval));
        else
            item.RemoveAttribute(kIntervalAttribute);
        FHost.FeedListChanged();
    }

    FHost.ShowCaption(id);
    if (folder != FHost.FolderOf(id)) FHost.MoveTo(id, folder);
    FHost.Save();
}
