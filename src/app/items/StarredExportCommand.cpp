#include "StarredExportCommand.h"

#include <filesystem>
#include <stdexcept>

#include "AppInfo.h"
#include "ConfigCommands.h"
#include "FeedList.h"

namespace {

std::string Exported(int count, const std::string& file) {
    return std::to_string(count) + (count == 1 ? " starred item" : " starred items") + " exported to " + file;
}

}  // namespace

items::TFeedLabels FeedLabels(const feedlist::TFeedList& list) {
    items::TFeedLabels labels;
    for (const feedlist::TListEntry* entry : list.Feeds())
        labels[feedlist::IdText(entry->Feed())] = {entry->Feed().Caption, entry->Feed().Url};
    return labels;
}

std::string ExportStarredItems(items::TItemStore* store, const feedlist::TFeedList& list, const std::string& file) {
    if (!store) throw std::runtime_error("the item base is not open yet or cannot be used; try again in a moment");
    return Exported(items::ExportStarred(*store, file, {kHomePageURL, FeedLabels(list)}), file);
}

std::string ExportStarredFromHome(const std::string& configFile, const std::string& itemsFile,
                                  const std::string& file) {
    feedlist::TFeedList list;
    if (std::filesystem::exists(configFile)) configcmd::ReadFeedList(configFile, list);
    // Opening a base that is not there would create one.
    if (!std::filesystem::exists(itemsFile)) {
        items::WriteStarredFeed({}, file, {kHomePageURL, {}});
        return Exported(0, file);
    }
    items::TOpenResult opened = items::TItemStore::Open(itemsFile);
    // A base set aside as damaged leaves a new, empty one: no export of that.
    if (!opened.Store || !opened.Message.empty()) throw std::runtime_error(opened.Message);
    return ExportStarredItems(opened.Store.get(), list, file);
}
