// Edits of the typed feed list that more than one caller makes: a new
// feed's record, folders found by name, OPML in and out. They change only
// the list; its stored form follows (FeedListXml.h), and the window's tree
// shows the result.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "FeedListModel.h"
#include "Opml.h"

namespace feedlist {

inline constexpr const char* kItemsPath = "internal\\feedlist\\items";
inline constexpr const char* kCounterPath = "internal\\feedlist\\autoincrement\\id";

// A new feed's record: not read yet, last updated `lastUpdate`.
TFeedEntry NewFeed(const std::string& url, const std::string& caption, const std::string& lastUpdate);

// The first folder named `caption` directly in `container`, made at its end
// (open) when there is none; null when it would nest too deep.
const TListEntry* FolderNamed(TFeedList& list, const TListEntry& container, const std::string& caption);

// The addresses of the list's feeds, for opml::PlanImport.
std::vector<std::string> FeedAddresses(const TFeedList& list);

// Writes planned outlines into the list a part at a time, so that a caller
// can keep its thread answering between parts; the parts together give what
// one Import gives. Folders are merged with folders of the same names;
// paths deeper than kMaxFolderDepth go into the deepest folder allowed.
class TImportWriter {
public:
    TImportWriter(TFeedList& list, std::string lastUpdate);
    // The new feeds of `outlines[from, to)`.
    std::vector<const TListEntry*> Write(const std::vector<opml::Outline>& outlines, std::size_t from, std::size_t to);
    int Flattened() const { return FFlattened; }

private:
    TFeedList& FList;
    std::string FLastUpdate;
    // The folder of each path met so far: a folder of thousands of feeds is
    // searched for its subfolders once, not once per feed.
    std::map<std::vector<std::string>, const TListEntry*> FContainers;
    int FFlattened = 0;
};

// Adds the outlines whose address is new to the list. Returns the new
// feeds, how many outlines were skipped and how many feeds went into a
// shallower folder than the file's.
struct TImport {
    std::vector<const TListEntry*> Added;
    int Skipped = 0;
    int Refused = 0;  // of the skipped: not an address Add Feed takes
    int Flattened = 0;
};
TImport Import(TFeedList& list, const std::vector<opml::Outline>& outlines, const std::string& lastUpdate);

// The feeds as outlines with their folder paths, in the list's order.
// `titleOf` gives a caption for a feed without one (its stored title).
std::vector<opml::Outline> Outlines(const TFeedList& list,
                                    const std::function<std::string(const TFeedEntry& feed)>& titleOf);

}  // namespace feedlist
