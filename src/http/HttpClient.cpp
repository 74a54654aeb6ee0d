#include "HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

namespace http {

namespace {

constexpr const char* kAcceptHeader = "Accept: text/html, */*";
constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
constexpr const char* kHttpsRefused = "IOHandler value is not valid";
constexpr const char* kCancelled = "Download cancelled";
// How often the transfer loop looks at the cancel flag and the stall clock
// when the network is quiet; Cancel() also wakes the loop directly.
constexpr int kPollIntervalMs = 100;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
      throw HttpError("The network library could not be initialised");
  });
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// "60 seconds" or "1500 ms" for a time-out message.
std::string DescribeDuration(std::chrono::milliseconds duration) {
  if (duration.count() % 1000 == 0) {
    const auto seconds = duration.count() / 1000;
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
  }
  return std::to_string(duration.count()) + " ms";
}

// "32 MiB" or "1000 bytes" for the size-cap message.
std::string DescribeSize(std::size_t bytes) {
  constexpr std::size_t kMiB = 1024 * 1024;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

bool IsSuccess(long code) { return code >= 200 && code < 300; }

// Everything one transfer collects through libcurl's callbacks. The
// callbacks run on the fetching thread, inside curl_multi_perform.
struct Transfer {
  CURL* easy = nullptr;
  std::size_t maxBodySize = 0;
  std::string body;
  std::string statusLine;  // the last "HTTP/" line: the final response's
  std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();
  bool started = false;        // the final response's body has begun
  bool tooLarge = false;       // aborted by the size cap
  bool errorStatus = false;    // aborted because the status is not 2xx
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  transfer.lastActivity = std::chrono::steady_clock::now();
  std::string_view line(data, length);
  if (line.substr(0, 5) == "HTTP/") {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    transfer.statusLine = std::string(line);
  }
  return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  transfer.lastActivity = std::chrono::steady_clock::now();

  if (!transfer.started) {
    transfer.started = true;
    long code = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &code);
    // An error response's body is of no use to anyone: stop reading it (the
    // connection is never reused) and report the status line.
    if (!IsSuccess(code)) {
      transfer.errorStatus = true;
      return 0;
    }
    curl_off_t announced = -1;
    curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (announced > 0 && static_cast<std::uint64_t>(announced) > transfer.maxBodySize) {
      transfer.tooLarge = true;
      return 0;
    }
  }
  if (transfer.body.size() + length > transfer.maxBodySize) {
    transfer.tooLarge = true;
    return 0;
  }
  transfer.body.append(data, length);
  return length;
}

void Check(CURLcode code) {
  if (code != CURLE_OK) throw HttpError(curl_easy_strerror(code));
}

}  // namespace

bool IsHttpsUrl(const std::string& url) {
  std::size_t start = 0;
  while (start < url.size() && std::isspace(static_cast<unsigned char>(url[start]))) ++start;
  constexpr std::string_view kScheme = "https:";
  if (url.size() - start < kScheme.size()) return false;
  for (std::size_t i = 0; i < kScheme.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(url[start + i])) != kScheme[i]) return false;
  return true;
}

void TCancelToken::Cancel() {
  cancelled_ = true;
  std::lock_guard lock(mutex_);
  for (void* multi : active_) curl_multi_wakeup(static_cast<CURLM*>(multi));
}

void TCancelToken::Attach(void* multi) {
  std::lock_guard lock(mutex_);
  active_.push_back(multi);
}

void TCancelToken::Detach(void* multi) {
  std::lock_guard lock(mutex_);
  active_.erase(std::remove(active_.begin(), active_.end(), multi), active_.end());
}

THttpClient::THttpClient(FetchOptions options, std::shared_ptr<TCancelToken> cancelToken)
    : options_(options),
      cancelToken_(cancelToken ? std::move(cancelToken) : std::make_shared<TCancelToken>()) {}

THttpClient::~THttpClient() = default;

std::string THttpClient::Get(const std::string& url) {
  // Without secure feeds there is no TLS layer at all: refuse before any
  // connection is attempted, with the message Quillet has always given.
  if (!options_.secureFeeds && IsHttpsUrl(url)) throw HttpError(kHttpsRefused);
  if (Cancelled()) throw HttpError(kCancelled);

  InitCurlOnce();
  // Declared before the handles, so they outlive everything libcurl may touch.
  Transfer transfer;
  char errorText[CURL_ERROR_SIZE] = "";
  std::unique_ptr<curl_slist, SlistDeleter> headers(curl_slist_append(nullptr, kAcceptHeader));
  if (!headers) throw HttpError("Out of memory");

  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!easy || !multi) throw HttpError("The network library could not create a transfer");
  transfer.easy = easy.get();
  transfer.maxBodySize = maxBodySize_;

  const char* protocols = options_.secureFeeds ? "http,https" : "http";
  CURL* e = easy.get();
  Check(curl_easy_setopt(e, CURLOPT_URL, url.c_str()));
  Check(curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, protocols));
  Check(curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, protocols));
  Check(curl_easy_setopt(e, CURLOPT_DEFAULT_PROTOCOL, "http"));
  Check(curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)));
  Check(curl_easy_setopt(e, CURLOPT_HTTPGET, 1L));
  Check(curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get()));
  Check(curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent));
  // Nothing is shared between fetches: a fresh handle, no connection kept,
  // cookies live in this handle's memory only.
  Check(curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L));
  Check(curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L));
  Check(curl_easy_setopt(e, CURLOPT_COOKIEFILE, ""));
  // No proxy, whatever the environment says: the feed's address is fetched
  // directly, so a stray http_proxy variable cannot redirect feed traffic.
  Check(curl_easy_setopt(e, CURLOPT_PROXY, ""));
  Check(curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, options_.followRedirects ? 1L : 0L));
  Check(curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects));
  Check(curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeout_.count())));
  Check(curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L));
  Check(curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L));
  Check(curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L));
  if (!caFile_.empty()) Check(curl_easy_setopt(e, CURLOPT_CAINFO, caFile_.c_str()));
  Check(curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText));
  Check(curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader));
  Check(curl_easy_setopt(e, CURLOPT_HEADERDATA, &transfer));
  Check(curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody));
  Check(curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer));

  if (curl_multi_add_handle(multi.get(), e) != CURLM_OK)
    throw HttpError("The network library could not start the transfer");
  cancelToken_->Attach(multi.get());
  // Whatever happens below, the token stops referring to the transfer and
  // the handle leaves the multi stack before either is destroyed.
  struct Detach {
    TCancelToken& token;
    CURLM* multi;
    CURL* easy;
    ~Detach() {
      token.Detach(multi);
      curl_multi_remove_handle(multi, easy);
    }
  } detach{*cancelToken_, multi.get(), e};

  // Drive the transfer ourselves rather than with curl_easy_perform, so that
  // cancellation and the stall clock are looked at several times a second.
  bool stalled = false;
  CURLcode result = CURLE_OK;
  for (;;) {
    if (Cancelled()) throw HttpError(kCancelled);
    int running = 0;
    const CURLMcode step = curl_multi_perform(multi.get(), &running);
    if (step != CURLM_OK) throw HttpError(curl_multi_strerror(step));
    if (running == 0) {
      int queued = 0;
      const CURLMsg* message = curl_multi_info_read(multi.get(), &queued);
      result = message != nullptr && message->msg == CURLMSG_DONE ? message->data.result
                                                                    : CURLE_RECV_ERROR;
      break;
    }
    if (std::chrono::steady_clock::now() - transfer.lastActivity > stallTimeout_) {
      stalled = true;
      break;
    }
    const CURLMcode wait = curl_multi_poll(multi.get(), nullptr, 0, kPollIntervalMs, nullptr);
    if (wait != CURLM_OK) throw HttpError(curl_multi_strerror(wait));
  }

  if (Cancelled()) throw HttpError(kCancelled);
  if (stalled)
    throw HttpError("Timed out: no data received from the server for " +
                    DescribeDuration(stallTimeout_));
  if (transfer.tooLarge)
    throw HttpError("The response is too large: a feed may not exceed " +
                    DescribeSize(maxBodySize_));

  long code = 0;
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
  if (result == CURLE_OK || transfer.errorStatus) {
    if (IsSuccess(code)) return std::move(transfer.body);
    const std::string statusLine =
        transfer.statusLine.empty() ? "HTTP/1.1 " + std::to_string(code) : transfer.statusLine;
    throw HttpError(statusLine, static_cast<int>(code));
  }
  // A redirect to https while secure feeds are off ends like an https address.
  if (result == CURLE_UNSUPPORTED_PROTOCOL && !options_.secureFeeds) {
    char* redirect = nullptr;
    curl_easy_getinfo(e, CURLINFO_EFFECTIVE_URL, &redirect);
    if (redirect != nullptr && IsHttpsUrl(redirect)) throw HttpError(kHttpsRefused);
  }
  throw HttpError(errorText[0] != '\0' ? std::string(errorText) : curl_easy_strerror(result));
}

std::string Get(const std::string& url, const FetchOptions& options) {
  THttpClient client(options);
  return client.Get(url);
}

}  // namespace http
