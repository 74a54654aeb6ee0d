// The stored copy of an account's feed. The server hands out only the items
// that are new since the last sync, so the copy is the new items followed
// by those of the previous copy: the page, the search and the counts then
// work on it exactly as on a local feed's last download.
#pragma once

#include <string>

#include "FeedDocument.h"

namespace accountsync {

// Items a copy keeps at most; the item store keeps as many per feed, so
// every item the store counts unread is on the page that marks it read.
inline constexpr int kStoredCopyItems = 1000;

// Appends to `fresh` the items of the copy at `path` that it does not hold
// already (same guid), up to `limit` items in all. A missing or unreadable
// copy adds nothing: the next sync rebuilds from what it delivers.
void AppendPreviousItems(feed::TFeedDocument& fresh, const std::string& path, int limit = kStoredCopyItems);

// Copies what a stored copy carries of an item into an empty item.
void CopyItem(const feed::TRSSItem& from, feed::TRSSItem& to);

}  // namespace accountsync
