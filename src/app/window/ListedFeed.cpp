#include "ListedFeed.h"

#include "Address.h"
#include "FeedList.h"
#include "FeedTree.h"

std::optional<QString> ListedFeedName(const feedlist::TFeedList& list, const std::string& url,
                                      const std::string& exceptId) {
    const std::string wanted = discover::ComparableUrl(url);
    for (const feedlist::TListEntry* feed : list.Feeds()) {
        if (feedlist::IdText(feed->Feed()) != exceptId && discover::ComparableUrl(feed->Feed().Url) == wanted)
            return TFeedTree::FeedDisplayText(feed->Feed());
    }
    return std::nullopt;
}
