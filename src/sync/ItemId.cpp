#include <algorithm>
#include <charconv>
#include <cstdio>

#include "GReaderTypes.h"
#include "SyncError.h"

namespace greader {

namespace {

constexpr std::string_view kLongPrefix = "tag:google.com,2005:reader/item/";

}  // namespace

std::optional<TItemId> ParseItemId(std::string_view text) {
    if (text.starts_with(kLongPrefix)) {
        text.remove_prefix(kLongPrefix.size());
        if (text.empty() || text.size() > 16) return std::nullopt;
        TItemId id = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id, 16);
        if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
        return id;
    }
    if (text.empty()) return std::nullopt;
    if (text.front() == '-') {
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
        return static_cast<TItemId>(value);
    }
    TItemId id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return id;
}

std::string LongItemId(TItemId id) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(id));
    return std::string(kLongPrefix) + hex;
}

std::string DecimalItemId(TItemId id) {
    // The signed reading: what the servers that use negative ids expect, and
    // the same digits as the unsigned one below 2^63.
    return std::to_string(static_cast<std::int64_t>(id));
}

bool TApiItem::HasCategory(std::string_view id) const {
    return std::find(Categories.begin(), Categories.end(), id) != Categories.end();
}

const char* KindName(TSyncErrorKind kind) {
    switch (kind) {
        case TSyncErrorKind::WrongPassword:
            return "WrongPassword";
        case TSyncErrorKind::NotGoogleReader:
            return "NotGoogleReader";
        case TSyncErrorKind::Tls:
            return "Tls";
        case TSyncErrorKind::Unreachable:
            return "Unreachable";
        case TSyncErrorKind::TimedOut:
            return "TimedOut";
        case TSyncErrorKind::Unauthorized:
            return "Unauthorized";
        case TSyncErrorKind::Server:
            return "Server";
        case TSyncErrorKind::Rejected:
            return "Rejected";
        case TSyncErrorKind::Malformed:
            return "Malformed";
        case TSyncErrorKind::Cancelled:
            return "Cancelled";
    }
    return "?";
}

}  // namespace greader
