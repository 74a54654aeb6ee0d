#include "HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "Text.h"

namespace http {

namespace {

// Feed types first, then XML a feed may be served as, then anything: a
// server that negotiates gives the feed rather than the site's page, and
// one that does not still answers.
constexpr const char* kAcceptHeader =
    "Accept: application/rss+xml, application/atom+xml, application/feed+json, "
    "application/rdf+xml;q=0.9, application/xml;q=0.9, text/xml;q=0.9, application/json;q=0.8, "
    "*/*;q=0.5";
constexpr const char* kDefaultProductToken = "Quillet";
constexpr const char* kHttpsRefused = "IOHandler value is not valid";
constexpr const char* kCancelled = "Download cancelled";
// How often the transfer loop looks at the cancel flag and the stall clock
// when the network is quiet; Cancel() also wakes the loop directly.
constexpr int kPollIntervalMs = 100;

std::mutex productMutex;
std::string& ProductTokenStorage() {
    static std::string token = kDefaultProductToken;
    return token;
}

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

// "If-None-Match: <value>", or nothing when the value could smuggle another
// header or line into the request (validators come from a stored file and
// from earlier answers, neither of which is trusted).
std::optional<std::string> ConditionalHeader(std::string_view name, const std::string& value) {
    if (value.empty()) return std::nullopt;
    for (const char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
    return std::string(name) + ": " + value;
}

// The value of a "Name: value" header line when its name is `name` (any
// letter case), surrounding blanks and the line end removed.
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || line[name.size()] != ':' || !plat::StartsWithNoCase(line, name))
        return std::nullopt;
    std::string_view value = line.substr(name.size() + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    return plat::TrimRight(value);
}

// Everything one transfer collects through libcurl's callbacks. The
// callbacks run on the fetching thread, inside curl_multi_perform.
struct Transfer {
    using Clock = std::chrono::steady_clock;

    CURL* easy = nullptr;
    std::size_t maxBodySize = 0;
    std::string body;
    // Of the final response: every status line (a redirect, a 100 Continue)
    // starts these afresh.
    std::string statusLine;
    TValidators validators;
    std::string retryAfter;
    // Every response's status and Location, redirects and the final one.
    std::vector<std::pair<int, std::string>> responses;
    std::string cacheControl, expires, date;  // for the answer's freshness

    Clock::time_point lastActivity = Clock::now();
    std::optional<Clock::time_point> firstByte;  // of any response header
    std::size_t headerBytes = 0;
    bool started = false;        // the final response's body has begun
    bool tooLarge = false;       // aborted by the size cap
    bool errorStatus = false;    // the status is not 2xx
    bool keepErrorBody = false;  // keep the start of an error answer's body
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    transfer.lastActivity = Transfer::Clock::now();
    if (!transfer.firstByte) transfer.firstByte = transfer.lastActivity;
    transfer.headerBytes += length;
    std::string_view line(data, length);
    if (line.substr(0, 5) == "HTTP/") {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        transfer.statusLine = std::string(line);
        transfer.validators = {};
        transfer.retryAfter.clear();
        transfer.cacheControl.clear();
        transfer.expires.clear();
        transfer.date.clear();
        int code = 0;
        const std::size_t space = line.find(' ');
        for (std::size_t i = space == std::string_view::npos ? line.size() : space + 1;
             i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) && code < 1000; ++i)
            code = code * 10 + (line[i] - '0');
        transfer.responses.emplace_back(code, std::string());
    } else if (auto location = HeaderValue(line, "Location")) {
        if (!transfer.responses.empty()) transfer.responses.back().second = std::string(*location);
    } else if (auto cacheControl = HeaderValue(line, "Cache-Control")) {
        // Several lines are one list.
        if (!transfer.cacheControl.empty()) transfer.cacheControl += ", ";
        transfer.cacheControl += std::string(*cacheControl);
    } else if (auto expires = HeaderValue(line, "Expires")) {
        transfer.expires = std::string(*expires);
    } else if (auto date = HeaderValue(line, "Date")) {
        transfer.date = std::string(*date);
    } else if (auto etag = HeaderValue(line, "ETag")) {
        transfer.validators.ETag = std::string(*etag);
    } else if (auto modified = HeaderValue(line, "Last-Modified")) {
        transfer.validators.LastModified = std::string(*modified);
    } else if (auto retry = HeaderValue(line, "Retry-After")) {
        transfer.retryAfter = std::string(*retry);
    }
    return length;
}

// Receives the body after libcurl has undone any content encoding, so the
// size cap counts decoded bytes: a small compressed answer that inflates
// past it is stopped here, a piece at a time, before it can fill memory.
size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    transfer.lastActivity = Transfer::Clock::now();

    if (!transfer.started) {
        transfer.started = true;
        long code = 0;
        curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &code);
        // An error response's body is of no use to anyone: stop reading it (the
        // connection is never reused) and report the status line.
        if (!IsSuccess(code)) transfer.errorStatus = true;
        curl_off_t announced = -1;
        curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (!transfer.errorStatus && announced > 0 && static_cast<std::uint64_t>(announced) > transfer.maxBodySize) {
            transfer.tooLarge = true;
            return 0;
        }
    }
    if (transfer.errorStatus) {
        // An API explains a refusal in its body, a bot-protection service
        // names itself in its page's head: the start of it is enough.
        const std::size_t limit = transfer.keepErrorBody ? kMaxErrorBodySize : kErrorPageHeadSize;
        if (transfer.body.size() >= limit) return 0;
        transfer.body.append(data, std::min(length, limit - transfer.body.size()));
        return length;
    }
    if (transfer.body.size() + length > transfer.maxBodySize) {
        transfer.tooLarge = true;
        return 0;
    }
    transfer.body.append(data, length);
    return length;
}

// Body bytes as they arrived on the wire, before any content decoding.
std::size_t WireBodyBytes(CURL* easy) {
    curl_off_t bytes = 0;
    curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &bytes);
    return bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
}

// The minimum transfer rate, judged over consecutive windows from the first
// byte of the answer on: the time a server takes to start answering is the
// connect and stall time-outs' business, and a long window lets an honest
// link pause without failing.
class MinimumRate {
public:
    using Clock = std::chrono::steady_clock;

    MinimumRate(std::size_t bytesPerSecond, std::chrono::milliseconds window)
        : bytesPerSecond_(bytesPerSecond), window_(window) {}

    // False once a whole window has brought fewer bytes than the rate asks.
    // received counts every byte of the answer so far.
    bool Holds(std::optional<Clock::time_point> firstByte, Clock::time_point now, std::size_t received) {
        if (!firstByte || bytesPerSecond_ == 0 || window_.count() <= 0) return true;
        if (!judging_) {
            judging_ = true;
            windowStart_ = *firstByte;
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - windowStart_);
        if (elapsed < window_) return true;
        // A followed redirect starts the body count afresh.
        const std::size_t progress = received >= bytesAtWindowStart_ ? received - bytesAtWindowStart_ : received;
        const auto needed =
            static_cast<std::uint64_t>(bytesPerSecond_) * static_cast<std::uint64_t>(elapsed.count()) / 1000;
        if (progress < needed) return false;
        windowStart_ = now;
        bytesAtWindowStart_ = received;
        return true;
    }

private:
    std::size_t bytesPerSecond_;
    std::chrono::milliseconds window_;
    bool judging_ = false;  // the first window has begun
    Clock::time_point windowStart_{};
    std::size_t bytesAtWindowStart_ = 0;
};

void Check(CURLcode code) {
    if (code != CURLE_OK) throw HttpError(curl_easy_strerror(code));
}

// A header line "Name: value" when neither part could break the request
// apart (a line end, a control character, a colon in the name).
std::optional<std::string> ExtraHeader(const std::string& name, const std::string& value) {
    if (name.empty()) return std::nullopt;
    for (const char c : name)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f || c == ':') return std::nullopt;
    for (const char c : value)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) return std::nullopt;
    return name + ": " + value;
}

bool IsTlsFailure(CURLcode code) {
    switch (code) {
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CLIENTCERT:
            return true;
        default:
            return false;
    }
}

bool IsRedirectStatus(int code) { return code == 301 || code == 302 || code == 303 || code == 307 || code == 308; }

// A Location resolved against the address that sent it; as written when
// the two cannot be put together.
std::string ResolveLocation(const std::string& base, const std::string& location) {
    CURLU* handle = curl_url();
    if (handle == nullptr) return location;
    std::string resolved = location;
    if (curl_url_set(handle, CURLUPART_URL, base.c_str(), CURLU_DEFAULT_SCHEME) == CURLUE_OK &&
        curl_url_set(handle, CURLUPART_URL, location.c_str(), 0) == CURLUE_OK) {
        char* text = nullptr;
        if (curl_url_get(handle, CURLUPART_URL, &text, 0) == CURLUE_OK && text != nullptr) {
            resolved = text;
            curl_free(text);
        }
    }
    curl_url_cleanup(handle);
    return resolved;
}

// The redirect answers of one transfer, each Location resolved against the
// address before it.
std::vector<TRedirect> RedirectsOf(const std::string& url, const Transfer& transfer) {
    std::vector<TRedirect> redirects;
    std::string base = url;
    for (const auto& [code, location] : transfer.responses) {
        if (!IsRedirectStatus(code) || location.empty()) continue;
        base = ResolveLocation(base, location);
        redirects.push_back({code, base});
    }
    return redirects;
}

}  // namespace

NetworkCause NetworkCauseOf(int curlCode) {
    const auto code = static_cast<CURLcode>(curlCode);
    switch (code) {
        case CURLE_OK:
            return NetworkCause::None;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return NetworkCause::HostNotFound;
        case CURLE_COULDNT_CONNECT:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            return NetworkCause::Unreachable;
        case CURLE_OPERATION_TIMEDOUT:
            return NetworkCause::TimedOut;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            return NetworkCause::Certificate;
        default:
            return IsTlsFailure(code) ? NetworkCause::Tls : NetworkCause::Other;
    }
}

void SetProductToken(std::string token) {
    // A token that could break the request line is not taken.
    for (const char c : token)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return;
    std::lock_guard lock(productMutex);
    ProductTokenStorage() = token.empty() ? kDefaultProductToken : std::move(token);
}

std::string ProductToken() {
    std::lock_guard lock(productMutex);
    return ProductTokenStorage();
}

bool IsHttpsUrl(const std::string& url) { return plat::StartsWithNoCase(plat::TrimLeft(url), "https:"); }

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
    : options_(options), cancelToken_(cancelToken ? std::move(cancelToken) : std::make_shared<TCancelToken>()) {}

THttpClient::~THttpClient() = default;

TFetchResult THttpClient::Fetch(const std::string& url, const TValidators& validators) {
    const auto deadline = std::chrono::steady_clock::now() + deadline_;
    TRequest request;
    request.Url = url;
    try {
        return FetchOnce(request, validators, deadline, false);
    } catch (const HttpError& error) {
        // A 304 to a question that was not asked: some servers and caches answer
        // one to every client that ever fetched before. Ask once more, plainly;
        // a second 304 is an error like any other status outside 2xx.
        if (error.StatusCode() != 304) throw;
    }
    return FetchOnce(request, {}, deadline, false);
}

TFetchResult THttpClient::Send(const TRequest& request) {
    if (request.Method != "GET" && request.Method != "POST")
        throw HttpError("Unsupported request method " + request.Method);
    return FetchOnce(request, {}, std::chrono::steady_clock::now() + deadline_, true);
}

TFetchResult THttpClient::FetchOnce(const TRequest& request, const TValidators& validators,
                                    std::chrono::steady_clock::time_point deadline, bool keepErrorBody) {
    const std::string& url = request.Url;
    // Without secure feeds there is no TLS layer at all: refuse before any
    // connection is attempted, with the message Quillet has always given.
    if (!options_.secureFeeds && IsHttpsUrl(url)) throw HttpError(kHttpsRefused);
    if (Cancelled()) throw HttpError(HttpFailure::Cancelled, kCancelled);

    InitCurlOnce();
    // Declared before the handles, so they outlive everything libcurl may touch.
    Transfer transfer;
    char errorText[CURL_ERROR_SIZE] = "";
    std::unique_ptr<curl_slist, SlistDeleter> headers(curl_slist_append(nullptr, kAcceptHeader));
    if (!headers) throw HttpError("Out of memory");
    TValidators sent;  // the validators that went out, unsafe ones left behind
    const auto addConditional = [&](std::string_view name, const std::string& value, std::string& sentValue) {
        const auto header = ConditionalHeader(name, value);
        if (!header) return;
        if (curl_slist_append(headers.get(), header->c_str()) == nullptr) throw HttpError("Out of memory");
        sentValue = value;
    };
    addConditional("If-None-Match", validators.ETag, sent.ETag);
    addConditional("If-Modified-Since", validators.LastModified, sent.LastModified);
    const bool conditional = !sent.Empty();
    const bool post = request.Method == "POST";
    std::vector<std::string> extra;
    for (const auto& [name, value] : request.Headers) {
        const auto header = ExtraHeader(name, value);
        if (!header) throw HttpError("Refused request header " + name);
        extra.push_back(*header);
    }
    if (post) {
        const auto type = ExtraHeader("Content-Type", request.ContentType);
        if (!type) throw HttpError("Refused request header Content-Type");
        extra.push_back(*type);
        // No "Expect: 100-continue" round trip before a larger body.
        extra.push_back("Expect:");
    }
    for (const auto& line : extra)
        if (curl_slist_append(headers.get(), line.c_str()) == nullptr) throw HttpError("Out of memory");

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) throw HttpError("The network library could not create a transfer");
    transfer.easy = easy.get();
    transfer.maxBodySize = maxBodySize_;
    transfer.keepErrorBody = keepErrorBody;

    const char* protocols = options_.secureFeeds ? "http,https" : "http";
    CURL* e = easy.get();
    Check(curl_easy_setopt(e, CURLOPT_URL, url.c_str()));
    Check(curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, protocols));
    Check(curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, protocols));
    Check(curl_easy_setopt(e, CURLOPT_DEFAULT_PROTOCOL, "http"));
    Check(curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)));
    if (post) {
        Check(curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.Body.size())));
        Check(curl_easy_setopt(e, CURLOPT_POSTFIELDS, request.Body.c_str()));
    } else {
        Check(curl_easy_setopt(e, CURLOPT_HTTPGET, 1L));
    }
    Check(curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get()));
    const std::string userAgent = ProductToken();
    Check(curl_easy_setopt(e, CURLOPT_USERAGENT, userAgent.c_str()));
    // "" offers every content encoding this libcurl can decode (gzip and
    // deflate always, br and zstd where it was built with them) and decodes
    // the answer before it reaches OnBody.
    Check(curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, ""));
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
    // cancellation and the clocks are looked at several times a second.
    enum class Limit { None, Stall, Deadline, Rate } limitHit = Limit::None;
    MinimumRate rate(minimumRate_, rateWindow_);
    CURLcode result = CURLE_OK;
    for (;;) {
        if (Cancelled()) throw HttpError(HttpFailure::Cancelled, kCancelled);
        int running = 0;
        const CURLMcode step = curl_multi_perform(multi.get(), &running);
        if (step != CURLM_OK) throw HttpError(curl_multi_strerror(step));
        if (running == 0) {
            int queued = 0;
            const CURLMsg* message = curl_multi_info_read(multi.get(), &queued);
            result = message != nullptr && message->msg == CURLMSG_DONE ? message->data.result : CURLE_RECV_ERROR;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - transfer.lastActivity > stallTimeout_) {
            limitHit = Limit::Stall;
            break;
        }
        if (now >= deadline) {
            limitHit = Limit::Deadline;
            break;
        }
        if (!rate.Holds(transfer.firstByte, now, transfer.headerBytes + WireBodyBytes(e))) {
            limitHit = Limit::Rate;
            break;
        }
        const auto untilDeadline = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        const CURLMcode wait = curl_multi_poll(
            multi.get(), nullptr, 0, static_cast<int>(std::min<long long>(kPollIntervalMs, untilDeadline)), nullptr);
        if (wait != CURLM_OK) throw HttpError(curl_multi_strerror(wait));
    }

    if (Cancelled()) throw HttpError(HttpFailure::Cancelled, kCancelled);
    switch (limitHit) {
        case Limit::Stall:
            throw HttpError(HttpFailure::TimedOut,
                            "Timed out: no data received from the server for " + DescribeDuration(stallTimeout_));
        case Limit::Deadline:
            throw HttpError(HttpFailure::TimedOut, "Download took longer than " + DescribeDuration(deadline_));
        case Limit::Rate:
            throw HttpError(HttpFailure::TimedOut,
                            "Download slower than " + std::to_string(minimumRate_) + " bytes per second");
        case Limit::None:
            break;
    }
    if (transfer.tooLarge)
        throw HttpError(HttpFailure::TooLarge,
                        "The response is too large: a feed may not exceed " + DescribeSize(maxBodySize_));

    long code = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
    if (result == CURLE_OK || transfer.errorStatus) {
        TFetchResult fetched;
        fetched.Validators = std::move(transfer.validators);
        fetched.BytesReceived = WireBodyBytes(e);
        long headerBytes = 0;
        if (curl_easy_getinfo(e, CURLINFO_HEADER_SIZE, &headerBytes) == CURLE_OK && headerBytes > 0)
            fetched.HeaderBytes = static_cast<std::size_t>(headerBytes);
        char* effective = nullptr;
        if (curl_easy_getinfo(e, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective != nullptr)
            fetched.EffectiveUrl = effective;
        char* contentType = nullptr;
        if (curl_easy_getinfo(e, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType != nullptr)
            fetched.ContentType = contentType;
        fetched.StatusCode = static_cast<int>(code);
        fetched.Redirects = RedirectsOf(url, transfer);
        fetched.FreshUntil =
            ParseFreshUntil(transfer.cacheControl, transfer.expires, transfer.date, std::chrono::system_clock::now());
        if (IsSuccess(code)) {
            fetched.Body = std::move(transfer.body);
            return fetched;
        }
        if (code == 304 && conditional) {
            // A 304 confirms the copy those validators stand for; the ones it
            // repeats (or renews) replace them, the ones it leaves out still hold.
            fetched.NotModified = true;
            if (fetched.Validators.ETag.empty()) fetched.Validators.ETag = sent.ETag;
            if (fetched.Validators.LastModified.empty()) fetched.Validators.LastModified = sent.LastModified;
            return fetched;
        }
        const std::string statusLine =
            transfer.statusLine.empty() ? "HTTP/1.1 " + std::to_string(code) : transfer.statusLine;
        std::optional<HttpError::TimePoint> retryAfter;
        if ((code == 429 || code == 503) && !transfer.retryAfter.empty())
            retryAfter = ParseRetryAfter(transfer.retryAfter, std::chrono::system_clock::now());
        HttpError error(statusLine, static_cast<int>(code), retryAfter, std::move(transfer.body));
        error.SetRedirects(std::move(fetched.Redirects));
        throw error;
    }
    // A redirect to https while secure feeds are off ends like an https address.
    if (result == CURLE_UNSUPPORTED_PROTOCOL && !options_.secureFeeds) {
        char* redirect = nullptr;
        curl_easy_getinfo(e, CURLINFO_EFFECTIVE_URL, &redirect);
        if (redirect != nullptr && IsHttpsUrl(redirect)) throw HttpError(kHttpsRefused);
    }
    const std::string message = errorText[0] != '\0' ? std::string(errorText) : curl_easy_strerror(result);
    const HttpFailure failure = result == CURLE_OPERATION_TIMEDOUT ? HttpFailure::TimedOut
                                : IsTlsFailure(result)             ? HttpFailure::Tls
                                                                   : HttpFailure::Other;
    HttpError error(failure, NetworkCauseOf(result), message);
    error.SetRedirects(RedirectsOf(url, transfer));
    throw error;
}

std::string Get(const std::string& url, const FetchOptions& options) {
    THttpClient client(options);
    return client.Get(url);
}

}  // namespace http

namespace http {

std::optional<std::chrono::system_clock::time_point> ParseRetryAfter(std::string_view value,
                                                                     std::chrono::system_clock::time_point now) {
    value = plat::Trim(value);
    if (value.empty()) return std::nullopt;

    const auto latest = now + std::chrono::duration_cast<std::chrono::system_clock::duration>(kMaxRetryAfter);
    if (std::all_of(value.begin(), value.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        // Delta-seconds. Anything past the cap is the cap, however many digits.
        const auto capSeconds = std::chrono::duration_cast<std::chrono::seconds>(kMaxRetryAfter).count();
        long long seconds = 0;
        for (const char c : value) {
            seconds = seconds * 10 + (c - '0');
            if (seconds > capSeconds) return latest;
        }
        return now + std::chrono::seconds(seconds);
    }
    // An HTTP date: it starts with a day name, in each of its three forms.
    if (!std::isalpha(static_cast<unsigned char>(value.front()))) return std::nullopt;
    const std::time_t when = curl_getdate(std::string(value).c_str(), nullptr);
    if (when == -1) return std::nullopt;
    const auto at = std::chrono::system_clock::from_time_t(when);
    return std::clamp(at, now, latest);
}

}  // namespace http

namespace http {

std::optional<std::chrono::system_clock::time_point> ParseFreshUntil(std::string_view cacheControl,
                                                                     std::string_view expires, std::string_view date,
                                                                     std::chrono::system_clock::time_point now) {
    using Clock = std::chrono::system_clock;
    const auto latest = now + std::chrono::duration_cast<Clock::duration>(kMaxRetryAfter);
    const std::string directives = plat::AsciiLower(cacheControl);
    std::optional<long long> maxAge;
    std::size_t begin = 0;
    while (begin <= directives.size()) {
        std::size_t end = directives.find(',', begin);
        if (end == std::string::npos) end = directives.size();
        const std::string_view directive = plat::Trim(std::string_view(directives).substr(begin, end - begin));
        if (directive == "no-cache" || directive == "no-store") return std::nullopt;
        if (directive.substr(0, 8) == "max-age=") {
            std::string_view digits = directive.substr(8);
            if (!digits.empty() && digits.front() == '"' && digits.back() == '"' && digits.size() >= 2)
                digits = digits.substr(1, digits.size() - 2);
            if (!digits.empty() && std::all_of(digits.begin(), digits.end(),
                                               [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
                long long seconds = 0;
                for (const char c : digits) seconds = std::min(seconds * 10 + (c - '0'), 1LL << 40);
                maxAge = seconds;
            }
        }
        begin = end + 1;
    }
    if (maxAge) {
        if (*maxAge == 0) return std::nullopt;
        const auto until =
            now + std::chrono::seconds(std::min<long long>(
                      *maxAge, std::chrono::duration_cast<std::chrono::seconds>(kMaxRetryAfter).count()));
        return std::min(until, latest);
    }
    if (expires.empty()) return std::nullopt;
    const std::time_t expiresAt = curl_getdate(std::string(expires).c_str(), nullptr);
    if (expiresAt == -1) return std::nullopt;  // "0" and other bad dates mean already expired
    std::time_t base = std::chrono::system_clock::to_time_t(now);
    if (!date.empty()) {
        const std::time_t sent = curl_getdate(std::string(date).c_str(), nullptr);
        if (sent != -1) base = sent;
    }
    if (expiresAt <= base) return std::nullopt;
    return std::min(now + std::chrono::seconds(expiresAt - base), latest);
}

}  // namespace http
