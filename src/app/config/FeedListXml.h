// The feed list's stored form in config.xml, and the only code that knows
// it: <item> elements for feeds and <folder caption="…" expanded="…">
// elements holding more of both in internal\feedlist\items, an account's
// folder marked account="ID" with its address and user, and the next id in
// internal\feedlist\autoincrement\id. Every list written by an earlier
// version loads, and a list loaded and saved unchanged is written as it was.
#pragma once

#include <string>
#include <unordered_map>
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
void WriteFolderEntry(const TFolderEntry& folder, xml::Node element);

// Keeps the list's elements in config.xml in step with the list: each
// change is written to its own element as it is made, so the option store
// holds the list as it would be saved at any moment and a save writes no
// more than the rows that changed.
class TStoredFeedList : public TFeedListObserver {
public:
    // Follows `list` from now on; `items` and `counter` are the feed list's
    // element and the id counter in config.xml.
    TStoredFeedList(TFeedList& list, xml::Node items, xml::Node counter);
    ~TStoredFeedList() override;
    TStoredFeedList(const TStoredFeedList&) = delete;
    TStoredFeedList& operator=(const TStoredFeedList&) = delete;

    // Fills the list from the elements. A list that loaded as written keeps
    // its elements (and anything else in them); one the loader had to mend
    // (ids given again, folders flattened) is written afresh.
    TLoadNotes Load();

    void EntryInserted(const TListEntry& entry) override;
    void EntryRemoving(const TListEntry& entry) override;
    void EntryMoved(const TListEntry& entry, const TListEntry& oldParent, std::size_t oldIndex) override;
    void EntryChanged(const TListEntry& entry) override;
    void ListReset() override;

private:
    // Pairs each row with its element, walking both in the list's order;
    // false where they differ.
    bool Bind();
    void Rewrite();
    // Puts a row's element where the row now is among its siblings.
    void Place(const TListEntry& entry, xml::Node element);
    void WriteCounter();

    TFeedList& FList;
    xml::Node FItems;
    xml::Node FCounter;
    std::unordered_map<const TListEntry*, xml::Node> FElements;
    bool FLoading = false;
};

}  // namespace feedlist
