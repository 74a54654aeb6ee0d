// How a conversation with a Google Reader API server can fail. One
// exception type with a kind, because the caller's reaction depends on the
// kind alone: ask for the password, wait and retry, or tell the user the
// address is wrong.
#pragma once

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>

namespace greader {

enum class TSyncErrorKind {
    WrongPassword,    // the server refused the user name and password
    NotGoogleReader,  // the address answers, but not as the API
    Tls,              // the secure connection or its certificate failed
    Unreachable,      // no connection (refused, no route, unknown host)
    TimedOut,         // a connection or an answer took too long
    Unauthorized,     // the session was refused mid-sync: sign in again
    Server,           // 5xx or 429: the server's trouble, retry later
    Rejected,         // another 4xx: the server will never take this request
    Malformed,        // the answer is not what the API promises
    Cancelled,        // the program is stopping
};

const char* KindName(TSyncErrorKind kind);

class TSyncError : public std::runtime_error {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    TSyncError(TSyncErrorKind kind, const std::string& message, int statusCode = 0,
               std::optional<TimePoint> retryAfter = std::nullopt)
        : std::runtime_error(message), FKind(kind), FStatusCode(statusCode), FRetryAfter(retryAfter) {}
    TSyncErrorKind Kind() const { return FKind; }
    int StatusCode() const { return FStatusCode; }
    // When the server said when to come back.
    std::optional<TimePoint> RetryAfter() const { return FRetryAfter; }

private:
    TSyncErrorKind FKind;
    int FStatusCode;
    std::optional<TimePoint> FRetryAfter;
};

}  // namespace greader
