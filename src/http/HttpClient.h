// The one HTTP GET that fetches a feed.
//
// A feed's text is fetched with a plain HTTP/1.1 GET: nothing is kept between
// fetches (no connection reuse, no cookies), redirects are not followed and
// every status outside 2xx is an error whose message is the status line as the
// server sent it ("HTTP/1.1 404 Not Found"), because that message is what the
// user sees in the status bar. https is refused with "IOHandler value is not
// valid" unless the user switched secure feeds on.
//
// On top of that a fetch can never hang the polling thread for ever: it has a
// connect time-out, a stall time-out, a cap on the body size, and another
// thread can cancel it at any moment.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace http {

// Every failure of a fetch. StatusCode() is the HTTP status for a response
// outside 2xx and 0 for everything else (network errors, time-outs, refused
// addresses, cancellation, oversized bodies).
class HttpError : public std::runtime_error {
 public:
  explicit HttpError(const std::string& message, int statusCode = 0)
      : std::runtime_error(message), statusCode_(statusCode) {}
  int StatusCode() const { return statusCode_; }

 private:
  int statusCode_;
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

// Cancels fetches from another thread. A client has one of its own; several
// clients can share one, so that a single Cancel() (the program exiting)
// ends every fetch in flight and refuses every later one.
class TCancelToken {
 public:
  void Cancel();
  bool Cancelled() const { return cancelled_; }

 private:
  friend class THttpClient;
  // The transfers in flight (libcurl multi handles), woken by Cancel().
  void Attach(void* multi);
  void Detach(void* multi);

  std::atomic<bool> cancelled_{false};
  std::mutex mutex_;
  std::vector<void*> active_;
};

// One client per fetch, as the update cycle uses it. Get() blocks the calling
// thread; Cancel() may be called from any other thread while it runs.
class THttpClient {
 public:
  explicit THttpClient(FetchOptions options = {},
                       std::shared_ptr<TCancelToken> cancelToken = nullptr);
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  // GET url and return the body byte for byte; throws HttpError.
  std::string Get(const std::string& url);

  // Aborts the fetch in progress (it throws "Download cancelled" within a
  // fraction of a second) and every later Get() of this client, and of every
  // client sharing its token. Thread-safe.
  void Cancel() { cancelToken_->Cancel(); }
  bool Cancelled() const { return cancelToken_->Cancelled(); }

  // Limits; the defaults suit real use, tests shorten them.
  void SetConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }
  void SetStallTimeout(std::chrono::milliseconds timeout) { stallTimeout_ = timeout; }
  void SetMaxBodySize(std::size_t bytes) { maxBodySize_ = bytes; }
  // Trust the certificates in this PEM file instead of the system's store.
  void SetCertificateAuthorityFile(std::string path) { caFile_ = std::move(path); }

 private:
  FetchOptions options_;
  std::chrono::milliseconds connectTimeout_ = kDefaultConnectTimeout;
  std::chrono::milliseconds stallTimeout_ = kDefaultStallTimeout;
  std::size_t maxBodySize_ = kDefaultMaxBodySize;
  std::string caFile_;

  std::shared_ptr<TCancelToken> cancelToken_;
};

// Convenience for a one-off fetch that nobody needs to cancel.
std::string Get(const std::string& url, const FetchOptions& options = {});

// True when url names the https scheme, in any letter case.
bool IsHttpsUrl(const std::string& url);

}  // namespace http
