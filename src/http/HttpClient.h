// The one HTTP GET that fetches a feed.
//
// A feed's text is fetched with a plain HTTP/1.1 GET: nothing is kept between
// fetches (no connection reuse, no cookies), redirects are not followed and
// every status outside 2xx is an error whose message is the status line as the
// server sent it ("HTTP/1.1 404 Not Found"), because that message is what the
// user sees in the status bar (a 304 answering a conditional request is the
// one exception). https is refused with "IOHandler value is not valid" unless
// the user switched secure feeds on.
//
// A fetch is also a good citizen of the web: it offers every compression
// libcurl can decode, and it can ask "has this changed since?" with the
// validators of an earlier answer, so that an unchanged feed costs a few
// hundred bytes instead of its whole text.
//
// On top of that a fetch can never hang the polling thread for ever: it has a
// connect time-out, a stall time-out, an overall deadline, a minimum transfer
// rate once the answer has begun, a cap on the (decoded) body size, and
// another thread can cancel it at any moment.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace http {

enum class HttpFailure {
    Other,      // refused, unreachable, a broken connection, a bad address
    Status,     // the server answered outside 2xx
    TimedOut,   // a connect, stall, rate or overall deadline ran out
    Tls,        // the TLS handshake or the certificate failed
    Cancelled,  // Cancel() was called
    TooLarge,   // the body passed the size cap
};

// Why a fetch that got no answer at all failed, as far as the network
// library can tell; the feed's health tells its causes apart by it.
enum class NetworkCause {
    None,          // an answer came (or the fetch never started)
    HostNotFound,  // the name does not resolve
    Unreachable,   // refused, no route, the connection broke
    TimedOut,
    Certificate,  // the certificate is not valid for the host (or not trusted)
    Tls,          // the TLS handshake failed otherwise
    Other,
};
// The cause a libcurl result code (CURLcode) stands for.
NetworkCause NetworkCauseOf(int curlCode);

// One redirect answer: its status and the address its Location named,
// resolved against the address that gave it.
struct TRedirect {
    int StatusCode = 0;
    std::string Location;
    // 301 and 308 say the resource moved for good; 302, 303 and 307 do not.
    bool Permanent() const { return StatusCode == 301 || StatusCode == 308; }
    bool operator==(const TRedirect&) const = default;
};

// Every failure of a fetch. StatusCode() is the HTTP status for a response
// outside 2xx and 0 for everything else (network errors, time-outs, refused
// addresses, cancellation, oversized bodies).
class HttpError : public std::runtime_error {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    explicit HttpError(const std::string& message, int statusCode = 0,
                       std::optional<TimePoint> retryAfter = std::nullopt, std::string body = {})
        : std::runtime_error(message), FStatusCode(statusCode), FRetryAfter(retryAfter), FBody(std::move(body)) {}
    int StatusCode() const { return FStatusCode; }
    // When a 429 or 503 answer said when to come back (Retry-After), that
    // moment, never more than kMaxRetryAfter after the answer arrived.
    std::optional<TimePoint> RetryAfter() const { return FRetryAfter; }
    // The start of the body of an answer outside 2xx: at most
    // kMaxErrorBodySize bytes from Send(), kErrorPageHeadSize from Fetch()
    // (enough to recognise a bot-protection page, no more).
    const std::string& Body() const { return FBody; }
    // What kind of failure, for callers that must tell a time-out or a TLS
    // failure from an unreachable address without reading the message.
    HttpFailure Failure() const { return FStatusCode != 0 ? HttpFailure::Status : FFailure; }

    HttpError(HttpFailure failure, const std::string& message) : HttpError(message) { FFailure = failure; }
    HttpError(HttpFailure failure, NetworkCause cause, const std::string& message) : HttpError(failure, message) {
        FCause = cause;
    }
    NetworkCause Cause() const { return FCause; }
    // The redirect answers on the way, in order; with redirects not followed
    // the last one is the answer this error reports, its Location resolved.
    const std::vector<TRedirect>& Redirects() const { return FRedirects; }
    void SetRedirects(std::vector<TRedirect> redirects) { FRedirects = std::move(redirects); }

private:
    int FStatusCode;
    std::optional<TimePoint> FRetryAfter;
    std::string FBody;
    HttpFailure FFailure = HttpFailure::Other;
    NetworkCause FCause = NetworkCause::None;
    std::vector<TRedirect> FRedirects;
};

// One request for Send(): a GET, or a POST of a form; extra header lines
// ("Authorization: GoogleLogin auth=...") go out as given. A header whose
// name or value could smuggle another line into the request is refused.
struct TRequest {
    std::string Url;
    std::string Method = "GET";  // "GET" or "POST"
    std::string Body;            // the POST body
    std::string ContentType = "application/x-www-form-urlencoded";
    std::vector<std::pair<std::string, std::string>> Headers;
};

inline constexpr std::size_t kMaxErrorBodySize = 64 * 1024;
inline constexpr std::size_t kErrorPageHeadSize = 4 * 1024;

// The validators of an earlier answer (its ETag and Last-Modified headers,
// kept as received), sent back as If-None-Match / If-Modified-Since.
struct TValidators {
    std::string ETag;
    std::string LastModified;
    bool Empty() const { return ETag.empty() && LastModified.empty(); }
    bool operator==(const TValidators&) const = default;
};

// What one fetch gives back.
struct TFetchResult {
    std::string Body;          // decoded body; "" for 304 and 204
    bool NotModified = false;  // 304 to a conditional request
    // ETag / Last-Modified of this answer, "" when absent; after a 304 the
    // validators to keep: those the 304 gave, else those that were sent.
    TValidators Validators;
    std::size_t BytesReceived = 0;  // body bytes on the wire, before decoding
    std::size_t HeaderBytes = 0;    // status lines and headers received
    // The address that answered, after any redirects followed; relative links
    // in a page are resolved against it.
    std::string EffectiveUrl;
    // The answer's Content-Type header as sent ("text/html; charset=utf-8"),
    // "" when absent: a page's encoding may be named only there.
    std::string ContentType;
    // The answer's status code (200, 204, 304 ...).
    int StatusCode = 0;
    // The redirects followed to get here, in order.
    std::vector<TRedirect> Redirects;
    // Until when the server says its answer stays fresh (Cache-Control
    // max-age, else Expires); nullopt when it says nothing or forbids caching.
    std::optional<std::chrono::system_clock::time_point> FreshUntil;
};

// The two switches the user can turn on in the settings (general\SecureFeeds,
// general\FollowRedirects). Both off is the classic behaviour.
struct FetchOptions {
    bool secureFeeds = false;      // fetch https with TLS, certificates verified
    bool followRedirects = false;  // follow up to kMaxRedirects redirects
};

inline constexpr long kMaxRedirects = 15;
inline constexpr std::chrono::milliseconds kDefaultConnectTimeout{30'000};
inline constexpr std::chrono::milliseconds kDefaultStallTimeout{60'000};
inline constexpr std::size_t kDefaultMaxBodySize = 32u * 1024 * 1024;
// The whole fetch, from connecting to the last byte.
inline constexpr std::chrono::milliseconds kDefaultDeadline{120'000};
// Once the answer has begun, fewer than kDefaultMinimumRate bytes per second
// averaged over a window of kDefaultRateWindow fails the fetch: far below any
// real link (a poor mobile connection still moves kilobytes per second), far
// above a server that trickles a byte now and then to keep the socket alive.
// The window is as long as the stall time-out, so a server that merely pauses
// (to build a large feed after sending its headers) is judged by that
// time-out alone, and only one still running at the window's end can fail.
inline constexpr std::size_t kDefaultMinimumRate = 64;
inline constexpr std::chrono::milliseconds kDefaultRateWindow = kDefaultStallTimeout;
// A server cannot park a feed for longer than this with Retry-After.
inline constexpr std::chrono::hours kMaxRetryAfter{24};

// Cancels fetches from another thread. A client has one of its own; several
// clients can share one, so that a single Cancel() (the program exiting)
// ends every fetch in flight and refuses every later one.
class TCancelToken {
public:
    void Cancel();
    bool Cancelled() const { return FCancelled; }

private:
    friend class THttpClient;
    // The transfers in flight (libcurl multi handles), woken by Cancel().
    void Attach(void* multi);
    void Detach(void* multi);

    std::atomic<bool> FCancelled{false};
    std::mutex FMutex;
    std::vector<void*> FActive;
};

// One client per fetch, as the update cycle uses it. Fetch() and Get() block
// the calling thread; Cancel() may be called from any other thread while they
// run.
class THttpClient {
public:
    explicit THttpClient(FetchOptions options = {}, std::shared_ptr<TCancelToken> cancelToken = nullptr);
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // GET url, conditionally when validators are given; throws HttpError.
    // A 304 to a conditional request is NotModified, not an error; one to a
    // plain request is asked again once, plainly. The deadline covers both.
    TFetchResult Fetch(const std::string& url, const TValidators& validators = {});
    // GET url and return the decoded body byte for byte; throws HttpError.
    std::string Get(const std::string& url) { return Fetch(url).Body; }
    // One request as given, under the same limits, deadline and cancel token
    // as Fetch(). Every status outside 2xx throws HttpError carrying the
    // status code and the start of the answer's body.
    TFetchResult Send(const TRequest& request);

    // Aborts the fetch in progress (it throws "Download cancelled" within a
    // fraction of a second) and every later fetch of this client, and of every
    // client sharing its token. Thread-safe.
    void Cancel() { FCancelToken->Cancel(); }
    bool Cancelled() const { return FCancelToken->Cancelled(); }

    // Limits; the defaults suit real use, tests shorten them.
    void SetConnectTimeout(std::chrono::milliseconds timeout) { FConnectTimeout = timeout; }
    void SetStallTimeout(std::chrono::milliseconds timeout) { FStallTimeout = timeout; }
    void SetMaxBodySize(std::size_t bytes) { FMaxBodySize = bytes; }
    void SetDeadline(std::chrono::milliseconds deadline) { FDeadline = deadline; }
    // After the first byte of the answer, each window must bring at least
    // bytesPerSecond * window bytes (headers and body, as on the wire); a rate
    // of 0 switches the check off.
    void SetMinimumRate(std::size_t bytesPerSecond, std::chrono::milliseconds window) {
        FMinimumRate = bytesPerSecond;
        FRateWindow = window;
    }
    // Trust the certificates in this PEM file instead of the system's store.
    void SetCertificateAuthorityFile(std::string path) { FCaFile = std::move(path); }

private:
    FetchOptions FOptions;
    std::chrono::milliseconds FConnectTimeout = kDefaultConnectTimeout;
    std::chrono::milliseconds FStallTimeout = kDefaultStallTimeout;
    std::size_t FMaxBodySize = kDefaultMaxBodySize;
    std::chrono::milliseconds FDeadline = kDefaultDeadline;
    std::size_t FMinimumRate = kDefaultMinimumRate;
    std::chrono::milliseconds FRateWindow = kDefaultRateWindow;
    std::string FCaFile;

    // One request; the deadline is shared by every request of a Fetch().
    TFetchResult FetchOnce(const TRequest& request, const TValidators& validators,
                           std::chrono::steady_clock::time_point deadline, bool keepErrorBody);

    std::shared_ptr<TCancelToken> FCancelToken;
};

// How every request names the program: "Quillet/1.2 (+https://...)". The
// program sets it once at start-up; until then requests say "Quillet".
void SetProductToken(std::string token);
std::string ProductToken();

// Convenience for a one-off fetch that nobody needs to cancel.
std::string Get(const std::string& url, const FetchOptions& options = {});

// True when url names the https scheme, in any letter case.
bool IsHttpsUrl(const std::string& url);

// The moment a Retry-After value names, read as delta-seconds or as an HTTP
// date (IMF-fixdate, RFC 850 or asctime form), received at `now`. Never
// earlier than now nor later than now + kMaxRetryAfter; nullopt when the
// value is neither form.
std::optional<std::chrono::system_clock::time_point> ParseRetryAfter(std::string_view value,
                                                                     std::chrono::system_clock::time_point now);

// The end of an answer's freshness received at `now`, from its
// Cache-Control, Expires and Date headers ("" for an absent one): max-age
// wins over Expires; Expires counts from the server's own Date, so a server
// clock that is off does not matter; no-cache, no-store and a bad or past
// Expires give nullopt. Never later than now + kMaxRetryAfter.
std::optional<std::chrono::system_clock::time_point> ParseFreshUntil(std::string_view cacheControl,
                                                                     std::string_view expires, std::string_view date,
                                                                     std::chrono::system_clock::time_point now);

}  // namespace http
