// One item as the item store takes it: plain values, so the store does not
// depend on the feed model (ItemFromFeed.h converts a parsed item).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace items {

struct TStoredItem {
    std::string Guid;
    std::string Link;
    std::string Title;
    std::string DateText;                 // the date as the feed gave it
    std::optional<std::int64_t> DateUTC;  // seconds since 1970 UTC, when readable
    std::string Author;
    std::string Body;  // the full body, else the description
};

}  // namespace items
