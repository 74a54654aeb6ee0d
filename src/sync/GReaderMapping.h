// From the API's values to Quillet's: a subscription becomes an account
// feed with folders, server items become items of a feed document (the
// same model and RSS 2.0 stored copy as a local feed) and items for the
// item store, with their read state.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FeedDocument.h"
#include "GReaderTypes.h"
#include "StoredItem.h"

namespace greader {

// A subscription as the feed list shows it: its folders are the names of
// its labels ("user/-/label/Tech" is the folder "Tech").
struct TAccountFeed {
    std::string Id;  // the stream, "feed/12"
    std::string Title;
    std::string Url;
    std::string HtmlUrl;
    std::vector<std::string> Folders;
    bool operator==(const TAccountFeed&) const = default;
};

TAccountFeed AccountFeedFrom(const TSubscription& subscription);
// "Tech" for "user/-/label/Tech" or "user/1234/label/Tech"; "" for anything else.
std::string LabelName(std::string_view category);
// An address reduced to what names the feed whatever the server did to it:
// the scheme, a "www." host prefix, a default port, a fragment and trailing
// slashes go, the host is in lower case. Two addresses that reduce alike are
// taken for one feed when a subscription sent from here is looked for in the
// server's list.
std::string LooseAddress(std::string_view url);
// The item carries the read state (of this user, "-", or a numbered one).
bool IsRead(const TApiItem& item);

// An empty document whose channel is the feed's.
std::unique_ptr<feed::TFeedDocument> NewFeedDocument(const TAccountFeed& feed);
// Appends the item: title, link, guid (the long item id, not a link),
// description and content, author, date, the first enclosure, and the
// item's own categories (labels and states are the account's, not the item's).
feed::TRSSItem& AppendItem(feed::TFeedDocument& document, const TApiItem& item);
// The store's item, read through the same document item a stored copy
// would give, so both meet under the same identity.
items::TStoredItem StoredItemFrom(const TApiItem& item);

}  // namespace greader
