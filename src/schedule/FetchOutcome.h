// What one fetch of a feed came to, in the terms the schedule and the
// feed's health need: not the transport's words but what they mean for
// when to try again and whether the user has something to do.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace schedule {

using TClock = std::chrono::system_clock;
using TTimePoint = TClock::time_point;

enum class TOutcomeKind {
    Updated,        // a feed arrived (new items or not)
    NotModified,    // 304: the stored copy is still current
    Moved,          // a permanent redirect (301, 308) to another address
    Gone,           // 410: the publisher says it will not come back
    NotFound,       // 404
    Refused,        // 401 or 403
    BotProtection,  // a challenge page of a bot-protection service
    NotAFeed,       // the address gives an HTML page or something unreadable
    HostNotFound,   // the name does not resolve
    Unreachable,    // no connection (refused, no route, no network)
    TlsInvalid,     // the certificate is not valid for the host
    TimedOut,
    ServerError,  // 5xx other than the ones above
    RateLimited,  // 429 or 503 with Retry-After
    OtherFailure,
};

struct TFetchOutcome {
    TOutcomeKind Kind = TOutcomeKind::Updated;
    TTimePoint At{};
    int Status = 0;                        // the HTTP status, 0 where none came
    std::string ServerStatus;              // the server's own words, for the tooltip
    std::string MovedTo;                   // for Moved: where the feed now answers
    std::optional<TTimePoint> RetryAfter;  // Retry-After, or the freshness end
    bool HadNewItem = false;
};

bool IsFailure(TOutcomeKind kind);

}  // namespace schedule
