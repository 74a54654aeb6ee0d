// The feed list's stored form in config.xml, and the only code that knows
// it: <item> elements for feeds and <folder caption="…" expanded="…">
// elements holding more of both in internal\feedlist\items, an account's
// folder marked account="ID" with its address and user, and the next id in
// internal\feedlist\autoincrement\id. Every list written by an earlier
// version loads, and a list loaded and saved unchanged is written as it was.
#pragma once

#include <string>
#include <vector>

#include "FeedListModel.h"
#include "XmlDom.h"

namespace feedlist {

struct TLoadNotes {
    // Folders nested deeper than the list keeps; their contents were taken
    // into the deepest folder kept.
    int FlattenedFolders = 0;
    // Feeds whose id was missing, not a number or used twice: each got a
    // new one (its stored copy is fetched again).
    std::vector<std::string> Renumbered;
};

// Fills `list` from the feed list element and the id counter (either may
// be null: an empty list, ids from 1).
TLoadNotes LoadFeedList(TFeedList& list, const xml::Node& items, const xml::Node& counter);

// Writes `list` into the feed list element (its children replaced) and the
// counter.
void SaveFeedList(const TFeedList& list, xml::Node items, xml::Node counter);

// One feed's <item> element as a record, read as the list loader reads it.
TFeedEntry ReadFeedEntry(const xml::Node& element);

// Writes a record back into its <item> element: only the attributes whose
// value changed are set or removed, so the others keep their place and the
// very text they were written in, and new ones follow in the usual order.
void WriteFeedEntry(const TFeedEntry& feed, xml::Node element);

}  // namespace feedlist
