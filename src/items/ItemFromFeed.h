// The bridge from the feed model to the item store, kept apart so that the
// store itself knows nothing of feeds.
#pragma once

#include <vector>

#include "FeedTypes.h"
#include "StoredItem.h"

namespace feed {
class TFeedDocument;
}

namespace items {

// The item's guid, link, title, date (the text in RFC 822 form and the UTC
// instant, only when the feed gave one), author (name, else address) and
// body (the full body where there is one, else the description).
TStoredItem StoredItemFromFeed(const feed::TRSSItem& item);
// Every item of a parsed document, in its order.
std::vector<TStoredItem> StoredItemsFromFeed(const feed::TFeedDocument& document);

}  // namespace items
