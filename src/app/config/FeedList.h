// The feed list as config.xml keeps it: <item> elements for feeds and
// <folder caption="…" expanded="…"> elements holding more of both, in the
// feed list's items element, with the next id beside it in autoincrement.
// These functions change only the document; the window shows the result,
// and the command line uses them without a window.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "FeedListModel.h"  // kMaxFolderDepth
#include "Opml.h"
#include "XmlDom.h"

namespace feedlist {

inline constexpr const char* kItemsPath = "internal\\feedlist\\items";
inline constexpr const char* kCounterPath = "internal\\feedlist\\autoincrement\\id";

bool IsFeed(const xml::Node& element);
bool IsFolder(const xml::Node& element);

// Every <item> under `items`, in folders too, in the list's order.
std::vector<xml::Node> AllFeeds(const xml::Node& items);

// The id for the next feed: the counter, but never below one more than the
// largest id in the list (an edited list must not hand out an id in use).
int NextFeedId(const xml::Node& counter, const xml::Node& items);

// Hands out the ids of new feeds: the list is read once, then each id is
// one more than the last, and the counter in config.xml follows every one.
class TFeedIds {
public:
    TFeedIds(const xml::Node& items, xml::Node counter);
    int Take();

private:
    xml::Node FCounter;
    int FNext;
};

// Appends a feed to `container` (the list or a folder) with the next id,
// its attributes in their stored order, and advances the counter.
xml::Node AppendFeed(TFeedIds& ids, xml::Node container, const std::string& url, const std::string& caption,
                     const std::string& lastUpdate);
// The same for a single feed (reads the whole list for its id).
xml::Node AppendFeed(const xml::Node& items, xml::Node counter, xml::Node container, const std::string& url,
                     const std::string& caption, const std::string& lastUpdate);

// How many folders `container` stands in, itself included: 0 for the list.
int FolderDepth(const xml::Node& container);
// Whether `element` (a feed or a folder with all it holds) may move into
// `container`: folders then nest no deeper than kMaxFolderDepth, or no
// deeper than they do now (a list saved by an older version may).
bool FitsInto(const xml::Node& element, const xml::Node& container);

// The first folder named `caption` directly in `container`, made at its end
// when there is none.
xml::Node FolderNamed(xml::Node container, const std::string& caption);

// Adds the outlines whose address is new to the list, in folders of the
// same names (merged with folders already there). Folders deeper than
// kMaxFolderDepth are merged into the deepest allowed one. Returns the new
// <item> elements, how many outlines were skipped and how many feeds went
// into a shallower folder than the file's.
struct TImport {
    std::vector<xml::Node> Added;
    int Skipped = 0;
    int Refused = 0;  // of the skipped: not an address Add Feed takes
    int Flattened = 0;
};
TImport Import(const xml::Node& items, const xml::Node& counter, const std::vector<opml::Outline>& outlines,
               const std::string& lastUpdate);

// The addresses of the list's feeds, for opml::PlanImport.
std::vector<std::string> FeedAddresses(const xml::Node& items);

// Writes planned outlines into the list a part at a time, so that a caller
// can keep its thread answering between parts; the parts together give what
// one Import gives.
class TImportWriter {
public:
    TImportWriter(xml::Node items, const xml::Node& counter, std::string lastUpdate);
    // The new <item> elements of `outlines[from, to)`.
    std::vector<xml::Node> Write(const std::vector<opml::Outline>& outlines, std::size_t from, std::size_t to);
    int Flattened() const { return FFlattened; }

private:
    xml::Node FItems;
    TFeedIds FIds;
    std::string FLastUpdate;
    // The container of each folder path met so far: a folder of thousands
    // of feeds is searched for its subfolders once, not once per feed.
    std::map<std::vector<std::string>, xml::Node> FContainers;
    int FFlattened = 0;
};

// The feeds as outlines with their folder paths, in the list's order.
// `titleOf` gives a caption for a feed without one (its stored title).
std::vector<opml::Outline> Outlines(const xml::Node& items,
                                    const std::function<std::string(const xml::Node& item)>& titleOf);

}  // namespace feedlist
