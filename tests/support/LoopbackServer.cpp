#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <strings.h>

#include <zlib.h>

namespace testsupport {

namespace {

constexpr std::size_t kMaxRequestHead = 64 * 1024;
constexpr std::size_t kMaxRequestBody = 16 * 1024 * 1024;
constexpr std::size_t kSendBatch = 64 * 1024;

bool EqualsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool HasHeader(const HeaderList& headers, const std::string& name) {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return EqualsNoCase(h.first, name); });
}

// The numeric code of a status line, 0 if it has none.
int StatusCodeOf(const std::string& statusLine) {
    const auto space = statusLine.find(' ');
    if (space == std::string::npos) return 0;
    return std::atoi(statusLine.c_str() + space + 1);
}

std::string ToHex(std::size_t n) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%zx", n);
    return buffer;
}

// Deflates everything `produce` yields into one compressed string. produce
// fills its buffer and returns how many bytes it wrote, 0 at the end.
template <typename Producer>
std::string Compress(Encoding encoding, Producer produce) {
    z_stream stream{};
    const int windowBits = encoding == Encoding::Gzip ? 15 + 16 : 15;
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("LoopbackServer: deflateInit2 failed");
    std::string out;
    std::string in(64 * 1024, '\0');
    char buffer[64 * 1024];
    int flush = Z_NO_FLUSH;
    do {
        const std::size_t n = produce(in);
        flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = reinterpret_cast<Bytef*>(in.data());
        stream.avail_in = static_cast<uInt>(n);
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&stream);
    return out;
}

// Seconds since the epoch of an IMF-fixdate, -1 when it is not one.
long long ParseImfDate(const std::string& text) {
    std::tm tm{};
    const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm);
    if (end == nullptr || *end != '\0') return -1;
    return static_cast<long long>(timegm(&tm));
}

// An entity tag without its weakness mark, for the weak comparison that
// If-None-Match uses.
std::string Opaque(std::string tag) {
    tag = Trim(tag);
    if (tag.rfind("W/", 0) == 0) tag.erase(0, 2);
    return tag;
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("LoopbackServer: " + what + ": " + std::strerror(errno));
}

}  // namespace

std::string Request::Header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (EqualsNoCase(key, name)) return value;
    return "";
}

bool Request::HasHeader(const std::string& name) const { return CountHeader(name) > 0; }

int Request::CountHeader(const std::string& name) const {
    return static_cast<int>(
        std::count_if(headers.begin(), headers.end(), [&](const auto& h) { return EqualsNoCase(h.first, name); }));
}

std::string StatusLine(int code) {
    static const std::map<int, std::string> reasons = {
        {200, "OK"},
        {201, "Created"},
        {204, "No Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {304, "Not Modified"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {407, "Proxy Authentication Required"},
        {410, "Gone"},
        {429, "Too Many Requests"},
        {500, "Internal Server Error"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
    };
    const auto it = reasons.find(code);
    return "HTTP/1.1 " + std::to_string(code) + " " + (it == reasons.end() ? "Unknown" : it->second);
}

std::string Encode(const std::string& text, Encoding encoding) {
    if (encoding == Encoding::Identity) return text;
    std::size_t offset = 0;
    return Compress(encoding, [&](std::string& in) {
        const std::size_t n = std::min(in.size(), text.size() - offset);
        text.copy(in.data(), n, offset);
        offset += n;
        return n;
    });
}

std::string GzipOfZeros(std::uint64_t inflatedSize) {
    std::uint64_t left = inflatedSize;
    return Compress(Encoding::Gzip, [&](std::string& in) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), left));
        std::fill_n(in.begin(), n, '\0');
        left -= n;
        return n;
    });
}

bool ValidatorsMatch(const Request& request, const std::string& etag, const std::string& lastModified) {
    if (request.HasHeader("If-None-Match")) {
        if (etag.empty()) return false;
        const std::string list = request.Header("If-None-Match");
        std::size_t start = 0;
        for (;;) {
            const auto comma = list.find(',', start);
            const std::string tag = Opaque(list.substr(start, comma - start));
            if (tag == "*" || tag == Opaque(etag)) return true;
            if (comma == std::string::npos) return false;
            start = comma + 1;
        }
    }
    if (!request.HasHeader("If-Modified-Since") || lastModified.empty()) return false;
    const std::string since = request.Header("If-Modified-Since");
    const long long sinceTime = ParseImfDate(since);
    const long long modifiedTime = ParseImfDate(lastModified);
    if (sinceTime < 0 || modifiedTime < 0) return since == lastModified;
    return modifiedTime <= sinceTime;
}

LoopbackServer::LoopbackServer() {
    int wake[2];
    if (pipe2(wake, O_CLOEXEC) != 0) Fail("pipe");
    FWakeRead = wake[0];
    FWakeWrite = wake[1];

    FListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListenFd < 0) Fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // ephemeral
    if (bind(FListenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
    if (listen(FListenFd, 64) != 0) Fail("listen");
    socklen_t length = sizeof address;
    if (getsockname(FListenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) Fail("getsockname");
    FPort = ntohs(address.sin_port);

    FAcceptThread = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() { Stop(); }

void LoopbackServer::Stop() {
    if (FStopping.exchange(true)) return;
    // The pipe is never drained, so every poll on FWakeRead sees it from now on.
    const char byte = 'x';
    [[maybe_unused]] auto written = write(FWakeWrite, &byte, 1);
    if (FAcceptThread.joinable()) FAcceptThread.join();

    std::vector<Connection> connections;
    {
        std::lock_guard lock(FMutex);
        connections.swap(FConnectionThreads);
    }
    for (auto& connection : connections) connection.thread.join();

    close(FListenFd);
    close(FWakeRead);
    close(FWakeWrite);
}

std::string LoopbackServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
}

void LoopbackServer::AddEndpoint(const std::string& path, int status, HeaderList headers, std::string body) {
    AddEndpoint(path, StatusLine(status), std::move(headers), std::move(body));
}

void LoopbackServer::AddEndpoint(const std::string& path, const std::string& statusLine, HeaderList headers,
                                 std::string body) {
    Response response;
    response.statusLine = statusLine;
    response.headers = std::move(headers);
    response.body = std::move(body);
    AddEndpoint(path, std::move(response));
}

void LoopbackServer::AddEndpoint(const std::string& path, Response response) {
    AddHandler(path, [response = std::move(response)](const Request&) { return response; });
}

void LoopbackServer::AddHandler(const std::string& path, Handler handler) {
    std::lock_guard lock(FMutex);
    FHandlers[path] = std::move(handler);
}

void LoopbackServer::AddPrefixHandler(const std::string& prefix, Handler handler) {
    std::lock_guard lock(FMutex);
    FPrefixHandlers[prefix] = std::move(handler);
}

void LoopbackServer::AddConditionalEndpoint(const std::string& path, Response response, const std::string& etag,
                                            const std::string& lastModified) {
    HeaderList validators;
    if (!etag.empty()) validators.emplace_back("ETag", etag);
    if (!lastModified.empty()) validators.emplace_back("Last-Modified", lastModified);
    response.headers.insert(response.headers.end(), validators.begin(), validators.end());
    AddHandler(path, [=](const Request& request) {
        if (!ValidatorsMatch(request, etag, lastModified)) return response;
        Response notModified;
        notModified.statusLine = StatusLine(304);
        notModified.headers = validators;
        return notModified;
    });
}

int LoopbackServer::NumHits(const std::string& path) const {
    std::lock_guard lock(FMutex);
    const auto it = FHits.find(path);
    return it == FHits.end() ? 0 : it->second;
}

int LoopbackServer::NumRequests() const {
    std::lock_guard lock(FMutex);
    return static_cast<int>(FRequests.size());
}

int LoopbackServer::NumConnections() const {
    std::lock_guard lock(FMutex);
    return FConnections;
}

Request LoopbackServer::LastRequest() const {
    std::lock_guard lock(FMutex);
    return FRequests.empty() ? Request{} : FRequests.back();
}

std::vector<Request> LoopbackServer::Requests() const {
    std::lock_guard lock(FMutex);
    return FRequests;
}

void LoopbackServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{FListenFd, POLLIN, 0}, {FWakeRead, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        const int fd = accept4(FListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) continue;

        ReapFinishedConnections();
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard lock(FMutex);
        ++FConnections;
        FConnectionThreads.push_back({std::thread([this, fd, done] {
                                          Serve(fd);
                                          close(fd);
                                          *done = true;
                                      }),
                                      done});
    }
}

void LoopbackServer::ReapFinishedConnections() {
    std::vector<Connection> finished;
    {
        std::lock_guard lock(FMutex);
        auto firstFinished = std::stable_partition(FConnectionThreads.begin(), FConnectionThreads.end(),
                                                   [](const Connection& c) { return !*c.done; });
        std::move(firstFinished, FConnectionThreads.end(), std::back_inserter(finished));
        FConnectionThreads.erase(firstFinished, FConnectionThreads.end());
    }
    for (auto& connection : finished) connection.thread.join();
}

void LoopbackServer::Serve(int fd) {
    Request request;
    if (!ReadRequest(fd, request)) return;
    // From the request read until its answer begins: once the client can
    // see a byte of it, the request no longer counts, so a client that
    // starts its next request on receiving this answer is never counted
    // twice.
    struct TInFlight {
        LoopbackServer& server;
        bool counted = true;
        explicit TInFlight(LoopbackServer& s) : server(s) {
            const int now = ++server.FInFlight;
            int peak = server.FMaxInFlight.load();
            while (now > peak && !server.FMaxInFlight.compare_exchange_weak(peak, now)) {
            }
        }
        void Answered() {
            if (counted) --server.FInFlight;
            counted = false;
        }
        ~TInFlight() { Answered(); }
    } inFlight(*this);
    const Response response = Dispatch(request);

    if (response.fault == Fault::NeverAnswer) {
        // Hold the connection open until the client gives up or the server stops.
        char buffer[1024];
        for (;;) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {FWakeRead, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
            if (fds[1].revents != 0) return;
            if (fds[0].revents != 0) {
                const auto n = recv(fd, buffer, sizeof buffer, 0);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
            }
        }
    }
    if (!Pause(response.headDelay)) return;
    inFlight.Answered();
    SendResponse(fd, response);
    shutdown(fd, SHUT_WR);
}

bool LoopbackServer::ReadRequest(int fd, Request& request) {
    std::string data;
    char buffer[4096];
    std::size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > kMaxRequestHead) return false;
        pollfd fds[2] = {{fd, POLLIN, 0}, {FWakeRead, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents != 0) return false;
        const auto n = recv(fd, buffer, sizeof buffer, 0);
        if (n == 0) return false;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return false;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }

    const auto lineEnd = data.find("\r\n");
    request.requestLine = data.substr(0, lineEnd);
    request.rawHeaders = data.substr(lineEnd + 2, headEnd + 2 - (lineEnd + 2));

    const auto firstSpace = request.requestLine.find(' ');
    const auto lastSpace = request.requestLine.rfind(' ');
    if (firstSpace != std::string::npos && lastSpace > firstSpace) {
        request.method = request.requestLine.substr(0, firstSpace);
        request.target = request.requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
        request.version = request.requestLine.substr(lastSpace + 1);
    }
    request.path = request.target.substr(0, request.target.find('?'));

    std::size_t position = 0;
    while (position < request.rawHeaders.size()) {
        const auto end = request.rawHeaders.find("\r\n", position);
        const std::string line = request.rawHeaders.substr(position, end - position);
        position = end + 2;
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        request.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }

    // The body the head announced (a form posted to an API); bytes already
    // read past the head are its start.
    std::size_t wanted = 0;
    const std::string length = request.Header("Content-Length");
    if (!length.empty()) {
        if (length.find_first_not_of("0123456789") != std::string::npos) return false;
        wanted = static_cast<std::size_t>(std::stoull(length));
    }
    if (wanted > kMaxRequestBody) return false;
    request.body = data.substr(headEnd + 4);
    while (request.body.size() < wanted) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {FWakeRead, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents != 0) return false;
        const auto n = recv(fd, buffer, sizeof buffer, 0);
        if (n == 0) return false;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return false;
        }
        request.body.append(buffer, static_cast<std::size_t>(n));
    }
    request.body.resize(std::min(request.body.size(), wanted));
    return true;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string FormDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

void CollectFormValues(const std::string& form, const std::string& name, std::vector<std::string>& values) {
    std::size_t position = 0;
    while (position <= form.size()) {
        const auto end = std::min(form.find('&', position), form.size());
        const std::string pair = form.substr(position, end - position);
        const auto equals = pair.find('=');
        if (FormDecode(pair.substr(0, equals)) == name)
            values.push_back(equals == std::string::npos ? "" : FormDecode(pair.substr(equals + 1)));
        position = end + 1;
    }
}

}  // namespace

std::vector<std::string> Request::FormValues(const std::string& name) const {
    std::vector<std::string> values;
    const auto query = target.find('?');
    if (query != std::string::npos) CollectFormValues(target.substr(query + 1), name, values);
    CollectFormValues(body, name, values);
    return values;
}

std::string Request::FormValue(const std::string& name) const {
    const auto values = FormValues(name);
    return values.empty() ? std::string() : values.front();
}

Response LoopbackServer::Dispatch(const Request& request) {
    Handler handler;
    std::string key = request.path;
    {
        std::lock_guard lock(FMutex);
        if (FKeepRequests) FRequests.push_back(request);
        auto it = FHandlers.find(request.target);
        if (it != FHandlers.end())
            key = request.target;
        else
            it = FHandlers.find(request.path);
        if (it != FHandlers.end()) {
            handler = it->second;
        } else {
            for (const auto& [prefix, prefixHandler] : FPrefixHandlers)
                if (request.path.starts_with(prefix)) {
                    key = prefix;
                    handler = prefixHandler;
                }
        }
        ++FHits[key];
    }
    if (!handler) {
        Response notFound;
        notFound.statusLine = StatusLine(404);
        notFound.body = "no endpoint " + request.path;
        return notFound;
    }
    return handler(request);
}

void LoopbackServer::SendResponse(int fd, const Response& plain) {
    if (!plain.raw.empty()) {
        SendAll(fd, plain.raw);
        return;
    }
    Response encoded;
    if (plain.encoding != Encoding::Identity) {
        // Compressed up front: a generated body is deflated piece by piece, so
        // only its compressed form is ever held.
        encoded = plain;
        std::uint64_t offset = 0;
        encoded.body = plain.generatedBodySize == 0
                           ? Encode(plain.body, plain.encoding)
                           : Compress(plain.encoding, [&](std::string& in) {
                                 const auto n = static_cast<std::size_t>(
                                     std::min<std::uint64_t>(in.size(), plain.generatedBodySize - offset));
                                 for (std::size_t i = 0; i < n; ++i) in[i] = Response::GeneratedByte(offset + i);
                                 offset += n;
                                 return n;
                             });
        encoded.generatedBodySize = 0;
        if (!HasHeader(encoded.headers, "Content-Encoding"))
            encoded.headers.emplace_back("Content-Encoding", plain.encoding == Encoding::Gzip ? "gzip" : "deflate");
    }
    const Response& response = plain.encoding != Encoding::Identity ? encoded : plain;

    const std::uint64_t bodySize = response.generatedBodySize != 0 ? response.generatedBodySize : response.body.size();
    const int code = StatusCodeOf(response.statusLine);
    const bool mayHaveBody = code >= 200 && code != 204 && code != 304;

    std::string head = response.statusLine + "\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    if (response.chunked) {
        if (!HasHeader(response.headers, "Transfer-Encoding")) head += "Transfer-Encoding: chunked\r\n";
    } else if (mayHaveBody && response.fault != Fault::EndlessBody && !HasHeader(response.headers, "Content-Length")) {
        head += "Content-Length: " + std::to_string(bodySize) + "\r\n";
    }
    if (!HasHeader(response.headers, "Connection")) head += "Connection: close\r\n";
    head += "\r\n";
    if (!SendAll(fd, head)) return;
    if (mayHaveBody) SendBody(fd, response);
}

bool LoopbackServer::SendBody(int fd, const Response& response) {
    if (response.fault == Fault::EndlessBody) {
        std::string piece(std::max<std::size_t>(1, response.slowChunkSize), '\0');
        for (std::uint64_t offset = 0;; offset += piece.size()) {
            for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = Response::GeneratedByte(offset + i);
            const std::string out = response.chunked ? ToHex(piece.size()) + "\r\n" + piece + "\r\n" : piece;
            if (!SendAll(fd, out) || !Pause(response.slowDelay)) return false;
        }
    }
    const bool generated = response.generatedBodySize != 0;
    const std::uint64_t total = generated ? response.generatedBodySize : response.body.size();
    const std::uint64_t limit = response.fault == Fault::CloseMidBody ? total / 2 : total;
    const bool slow = response.fault == Fault::SlowBody;
    const std::size_t pieceSize = std::max<std::size_t>(1, slow               ? response.slowChunkSize
                                                           : response.chunked ? response.chunkSize
                                                                              : kSendBatch);

    std::string out;
    std::string piece;
    for (std::uint64_t offset = 0; offset < limit;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(pieceSize, limit - offset));
        if (generated) {
            piece.resize(n);
            for (std::size_t i = 0; i < n; ++i) piece[i] = Response::GeneratedByte(offset + i);
        } else {
            piece.assign(response.body, static_cast<std::size_t>(offset), n);
        }
        offset += n;
        if (response.chunked)
            out += ToHex(n) + "\r\n" + piece + "\r\n";
        else
            out += piece;

        if (slow || out.size() >= kSendBatch) {
            if (!SendAll(fd, out)) return false;
            out.clear();
            if (slow && offset < limit && !Pause(response.slowDelay)) return false;
        }
    }
    if (response.fault == Fault::CloseMidBody) return SendAll(fd, out);
    if (response.chunked) out += "0\r\n\r\n";
    return SendAll(fd, out);
}

bool LoopbackServer::SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const auto n = send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd fds[2] = {{fd, POLLOUT, 0}, {FWakeRead, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return false;
        if (fds[1].revents != 0) return false;
        if (fds[0].revents & (POLLERR | POLLHUP)) return false;
    }
    return true;
}

bool LoopbackServer::Pause(std::chrono::milliseconds delay) {
    pollfd wake{FWakeRead, POLLIN, 0};
    return poll(&wake, 1, static_cast<int>(delay.count())) == 0;
}

}  // namespace testsupport
