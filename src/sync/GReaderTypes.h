// The Google Reader API's own values, as the server sends them: streams
// ("feed/12", "user/-/label/Tech"), item ids, tags and items. The mapping
// (GReaderMapping.h) turns them into the feed model and the item store's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace greader {

// An item id. Servers write it in a long form
// ("tag:google.com,2005:reader/item/000662245f63b021", 16 hex digits) and
// a short decimal form ("1796758218977313", negative on servers that use
// signed 64-bit numbers); both name the same 64 bits, kept here.
using TItemId = std::uint64_t;

std::optional<TItemId> ParseItemId(std::string_view text);
std::string LongItemId(TItemId id);
std::string DecimalItemId(TItemId id);

// What answers cost: bodies as they came over the wire (compressed when
// the server compresses), the headers, and the bodies once decoded.
struct TTraffic {
    std::size_t Body = 0;
    std::size_t Headers = 0;
    std::size_t Decoded = 0;
    std::size_t OnWire() const { return Body + Headers; }
    TTraffic& operator+=(const TTraffic& other) {
        Body += other.Body;
        Headers += other.Headers;
        Decoded += other.Decoded;
        return *this;
    }
    TTraffic operator+(const TTraffic& other) const { return TTraffic(*this) += other; }
    TTraffic operator-(const TTraffic& other) const {
        return {Body - other.Body, Headers - other.Headers, Decoded - other.Decoded};
    }
};

inline constexpr const char* kReadingList = "user/-/state/com.google/reading-list";
inline constexpr const char* kReadState = "user/-/state/com.google/read";
inline constexpr const char* kStarredState = "user/-/state/com.google/starred";
inline constexpr const char* kLabelPrefix = "user/-/label/";

struct TCategoryRef {
    std::string Id;     // "user/-/label/Tech"
    std::string Label;  // "Tech", where the server gives it
    bool operator==(const TCategoryRef&) const = default;
};

struct TSubscription {
    std::string Id;  // "feed/12"
    std::string Title;
    std::string Url;      // the feed's address
    std::string HtmlUrl;  // the site's address
    std::vector<TCategoryRef> Categories;
    bool operator==(const TSubscription&) const = default;
};

struct TTag {
    std::string Id;    // "user/-/label/Tech", "user/-/state/com.google/starred"
    std::string Type;  // "folder", "tag" or "" (states)
};

struct TEnclosure {
    std::string Url;
    std::string Type;
    std::int64_t Length = 0;
};

struct TApiItem {
    TItemId Id = 0;
    std::string StreamId;  // origin.streamId: the subscription it came from
    std::string StreamTitle;
    std::string StreamHtmlUrl;
    std::string Title;
    std::string Link;  // the first alternate href
    std::string Summary;
    std::string Content;
    std::string Author;
    std::int64_t Published = 0;  // seconds since 1970 UTC; 0 when absent
    std::int64_t TimestampUsec = 0;
    std::vector<std::string> Categories;
    std::vector<TEnclosure> Enclosures;

    bool HasCategory(std::string_view id) const;
};

// What stream/items/ids is asked.
struct TIdQuery {
    std::string Stream = kReadingList;
    std::string Exclude;                // xt: "user/-/state/com.google/read" for unread only
    std::optional<std::int64_t> Since;  // ot: items newer than this (seconds since 1970)
    int PageSize = 10000;               // n
};

// unread-count as a whole. Besides the counts, a server names there every
// label it has (folders and tags) and the stamp of the newest item in each
// stream: enough to tell an unchanged account without asking more.
struct TUnreadCounts {
    std::map<std::string, std::int64_t> Counts;  // by stream id; streams without any may be absent
    std::set<std::string> Labels;                // "user/-/label/…" ids
    std::int64_t NewestUsec = 0;                 // of the reading list; 0 where the server gives none
};

struct TIdPage {
    std::vector<TItemId> Ids;
    std::string Continuation;  // "" on the last page
};

}  // namespace greader
