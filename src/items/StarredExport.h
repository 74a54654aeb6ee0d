// Starred items as an RSS 2.0 file another reader can subscribe to or
// import: one item per star, newest star first, each naming its feed in
// <source>. Written through the feed model's own generator, so the file is
// what Quillet itself reads back, and replaced atomically.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ItemStore.h"

namespace items {

// A feed as the feed list knows it now, by feed id: a feed still there is
// named as it is called today, a deleted one as the store last heard.
struct TFeedLabel {
    std::string Caption;
    std::string Url;
};
using TFeedLabels = std::map<std::string, TFeedLabel>;

inline constexpr const char* kStarredChannelTitle = "Starred items";

// What the file says of itself: the channel's link (the program's page)
// and the feeds as they are called now.
struct TStarredChannel {
    std::string Link;
    TFeedLabels Feeds;
};

// Raises std::runtime_error when the file cannot be written; an existing
// file is then left as it was.
void WriteStarredFeed(const std::vector<TStarredItem>& starred, const std::string& path,
                      const TStarredChannel& channel = {});
// Every starred item of the store; returns how many were written.
int ExportStarred(TItemStore& store, const std::string& path, const TStarredChannel& channel = {});

}  // namespace items
