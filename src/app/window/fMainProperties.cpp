// The main window's side of the Feed Properties dialog: filling it from a
// feed's <item> element and applying what OK gives.
//
// The element keeps two optional attributes for it: notify="False" silences
// a feed's announcements (absent or "True" announces), and interval holds
// the seconds between two fetches of this feed (absent follows the options).
// Attributes are written only when their value changes, so a list from
// before them is saved as it was read.
#include "fMain.h"

#include <algorithm>

#include "Convert.h"
#include "FeedHealthController.h"
#include "UpdateController.h"
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

std::vector<QTreeWidgetItem*> TFormMain::FolderChoices() const {
    std::vector<QTreeWidgetItem*> folders;
    // Depth first in the tree's order, without recursion.
    std::vector<QTreeWidgetItem*> pending{RootNode()};
    while (!pending.empty()) {
        QTreeWidgetItem* node = pending.back();
        pending.pop_back();
        if (!node) continue;
        folders.push_back(node);
        for (int i = node->childCount() - 1; i >= 0; --i)
            if (IsFolderNode(node->child(i))) pending.push_back(node->child(i));
    }
    return folders;
}

void TFormMain::OpenFeedProperties(QTreeWidgetItem* node) {
    Guarded([&] {
        const xml::Node item = GetFeedItem(node);
        if (!item) return;
        const std::string id = item.Attribute("id").value_or("");
        std::vector<QTreeWidgetItem*> folders = FolderChoices();
        const std::string account = AccountIdOf(node);
        if (!account.empty()) {
            // An account's feed stays in the account, in one of its labels.
            QTreeWidgetItem* top = AccountNode(account);
            std::erase_if(folders, [top](QTreeWidgetItem* folder) { return folder != top && folder->parent() != top; });
        }
        std::vector<TFormFeedProperties::TFolderEntry> entries;
        for (QTreeWidgetItem* folder : folders) {
            int depth = 0;
            for (QTreeWidgetItem* up = folder->parent(); up; up = up->parent()) ++depth;
            const QString caption =
                IsFolderNode(folder)
                    ? Q(static_cast<TFolderNode*>(folder)->Folder().Attribute(kCaptionAttribute).value_or(""))
                    : folder->text(0);
            entries.push_back({caption, depth});
        }
        TFeedProperties values;
        values.Caption = Q(item.Attribute(kCaptionAttribute).value_or(""));
        values.Url = Q(item.Attribute(kUrlAttribute).value_or(""));
        values.Folder = static_cast<int>(std::find(folders.begin(), folders.end(), node->parent()) - folders.begin());
        values.Notify = NotifyOf(item);
        values.IntervalSeconds = IntervalOf(item);
        values.FetchedByServer = !account.empty();
        // The same cause the feed's tooltip names.
        values.HealthCause = FFeedHealth->Cause(id);
        if (auto* feed = static_cast<TFeedNode*>(node); feed->Failed() && !values.HealthCause.contains(feed->Failure()))
            values.HealthCause =
                values.HealthCause.isEmpty() ? feed->Failure() : values.HealthCause + '\n' + feed->Failure();

        TFormFeedProperties dialog(this, entries, values);
        if (dialog.exec() != QDialog::Accepted) return;
        // The feed may have gone, or the folders changed, while the dialog
        // was open (a deletion by another hand, an import).
        node = FindFeedNodeById(id);
        if (!node) return;
        const TFeedProperties chosen = dialog.Values();
        const std::vector<QTreeWidgetItem*> now = FolderChoices();
        QTreeWidgetItem* folder = chosen.Folder >= 0 && chosen.Folder < static_cast<int>(folders.size())
                                      ? folders[static_cast<std::size_t>(chosen.Folder)]
                                      : node->parent();
        if (std::find(now.begin(), now.end(), folder) == now.end()) folder = node->parent();
        ApplyFeedProperties(node, chosen, folder);
    });
}

void TFormMain::ApplyFeedProperties(QTreeWidgetItem* node, const TFeedProperties& values, QTreeWidgetItem* folder) {
    xml::Node item = GetFeedItem(node);
    if (!item) return;
    const std::string id = item.Attribute("id").value_or("");
    const bool ofAccount = !AccountIdOf(node).empty();

    const std::string caption = values.Caption.toStdString();
    const std::string oldCaption = item.Attribute(kCaptionAttribute).value_or("");
    if (oldCaption != caption) item.SetAttribute(kCaptionAttribute, caption);

    const std::string url = values.Url.toStdString();
    const std::string oldUrl = item.Attribute(kUrlAttribute).value_or("");
    const bool newAddress = !url.empty() && oldUrl != url;
    if (newAddress) {
        item.SetAttribute(kUrlAttribute, url);
        ++FFeedListVersion;
        for (const char* name : kValidatorAttributes)
            if (item.HasAttribute(name)) item.RemoveAttribute(name);
        // A new address starts a new history.
        FFeedHealth->AddressReplaced(id);
        FUpdates->AddressChanged(id);
    }

    // An account's feed changes on its server: a new address is another
    // subscription there, which carries the new name and folder too.
    if (ofAccount && newAddress)
        AccountFeedReaddressed(node, oldUrl, folder ? folder : node->parent());
    else if (ofAccount && oldCaption != caption)
        AccountNodeRenamed(node, oldCaption);

    // Edited by the user: a feed stopped after a 410 is polled again.
    if (item.HasAttribute("stopped")) item.RemoveAttribute("stopped");

    if (values.Notify != NotifyOf(item)) item.SetAttribute(kNotifyAttribute, plat::BoolToStr(values.Notify));

    const int interval = std::max(0, values.IntervalSeconds);
    if (interval != IntervalOf(item)) {
        if (interval > 0)
            item.SetAttribute(kIntervalAttribute, std::to_string(interval));
        else
            item.RemoveAttribute(kIntervalAttribute);
        ++FFeedListVersion;
    }

    UpdateNodeCaption(node);
    if (folder && folder != node->parent()) MoveNode(node, folder);
    FOptions->Save();
    FFeedHealth->Refresh();
}
