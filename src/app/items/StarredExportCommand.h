// The starred items' export as the command line asks for it: through the
// running window (the instance request "export-starred FILE") or, with no
// window running, straight from the home's files. Either way the feeds
// still listed are named as they are called now.
#pragma once

#include <string>

#include "StarredExport.h"

namespace feedlist {
class TFeedList;
}

// Every feed of the list by id: its caption and address.
items::TFeedLabels FeedLabels(const feedlist::TFeedList& list);

// Writes the store's starred items to `file`. Returns the line to print
// ("12 starred items exported to FILE"); raises std::runtime_error with the
// reason, also when `store` is null (the base is opening or unusable).
std::string ExportStarredItems(items::TItemStore* store, const feedlist::TFeedList& list, const std::string& file);

// The same with no window: the feed list from configFile and the items
// from itemsFile, where they exist (a home without a base has no stars).
std::string ExportStarredFromHome(const std::string& configFile, const std::string& itemsFile, const std::string& file);
