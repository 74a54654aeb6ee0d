#include "ItemFromFeed.h"

#include <cmath>

#include "FeedDocument.h"

namespace items {

namespace {

// TDateTime counts days from 30 December 1899; 1970-01-01 is day 25569.
constexpr double kUnixEpochDays = 25569.0;

}  // namespace

TStoredItem StoredItemFromFeed(const feed::TRSSItem& item) {
    TStoredItem stored;
    stored.Guid = item.GUID().GUID();
    stored.Link = item.Link();
    stored.Title = item.Title();
    if (item.PubDate().Modified()) {
        stored.DateText = item.PubDate().ToRFC822();
        stored.DateUTC = static_cast<std::int64_t>(std::llround((item.PubDate().UTC() - kUnixEpochDays) * 86400.0));
    }
    stored.Author = item.Author().Name.empty() ? item.Author().EMail : item.Author().Name;
    stored.Body = item.Body();
    return stored;
}

std::vector<TStoredItem> StoredItemsFromFeed(const feed::TFeedDocument& document) {
    std::vector<TStoredItem> stored;
    const feed::TRSSItems& list = document.Items();
    stored.reserve(static_cast<std::size_t>(list.Count()));
    for (int i = 0; i < list.Count(); ++i) stored.push_back(StoredItemFromFeed(list[i]));
    return stored;
}

}  // namespace items
