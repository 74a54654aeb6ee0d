// OPML 1.0/2.0 subscription lists, the format every feed reader imports and
// exports. Plain C++ over the XML layer; the main window adds the feeds.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace opml {

// A malformed file, or a well-formed file that is not OPML.
class OpmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One feed outline. `url` is empty for a leaf outline without xmlUrl.
struct Outline {
    std::string url;
    std::string caption;
    // The captions of the folder outlines around it, outermost first.
    std::vector<std::string> folders = {};
};

// Every leaf outline of the body in document order, each with the path of
// folders it stands in. The caption is `text`, else `title`, else empty.
std::vector<Outline> ReadString(std::string_view text);
std::vector<Outline> ReadFile(const std::string& fileName);

// Writes an OPML 2.0 file (atomically): one outline per feed with
// type="rss", text and title from the caption, and xmlUrl, inside outlines
// for its folders (feeds of one folder path share one folder outline).
void WriteFile(const std::string& fileName, const std::vector<Outline>& feeds, std::string_view title);

// The address to subscribe to for an outline's xmlUrl: what Add Feed takes
// (http and https, feed: links), written absolute. nullopt for anything
// else: file:, javascript: and data: addresses, or a relative one, which in
// a file handed over from elsewhere would name something on this computer.
std::optional<std::string> FeedAddress(std::string_view xmlUrl);

// What an import adds: outlines with a feed address (as FeedAddress gives
// it) that is neither in the list already nor repeated earlier in the file,
// in file order. Everything else counts as skipped; `refused` counts the
// skipped outlines whose address is not one Quillet subscribes to.
struct ImportPlan {
    std::vector<Outline> toAdd;
    int skipped = 0;
    int refused = 0;
};
ImportPlan PlanImport(const std::vector<Outline>& outlines, const std::vector<std::string>& existingUrls);

}  // namespace opml
