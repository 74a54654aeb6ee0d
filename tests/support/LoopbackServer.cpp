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
#include <stdexcept>
#include <strings.h>

namespace testsupport {

namespace {

constexpr std::size_t kMaxRequestHead = 64 * 1024;
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
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& h) { return EqualsNoCase(h.first, name); });
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
  return static_cast<int>(std::count_if(headers.begin(), headers.end(),
                                        [&](const auto& h) { return EqualsNoCase(h.first, name); }));
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
      {500, "Internal Server Error"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
  };
  const auto it = reasons.find(code);
  return "HTTP/1.1 " + std::to_string(code) + " " + (it == reasons.end() ? "Unknown" : it->second);
}

LoopbackServer::LoopbackServer() {
  int wake[2];
  if (pipe2(wake, O_CLOEXEC) != 0) Fail("pipe");
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];

  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) Fail("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // ephemeral
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
  if (listen(listenFd_, 64) != 0) Fail("listen");
  socklen_t length = sizeof address;
  if (getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    Fail("getsockname");
  port_ = ntohs(address.sin_port);

  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() { Stop(); }

void LoopbackServer::Stop() {
  if (stopping_.exchange(true)) return;
  // The pipe is never drained, so every poll on wakeRead_ sees it from now on.
  const char byte = 'x';
  [[maybe_unused]] auto written = write(wakeWrite_, &byte, 1);
  if (acceptThread_.joinable()) acceptThread_.join();

  std::vector<Connection> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connectionThreads_);
  }
  for (auto& connection : connections) connection.thread.join();

  close(listenFd_);
  close(wakeRead_);
  close(wakeWrite_);
}

std::string LoopbackServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::AddEndpoint(const std::string& path, int status, HeaderList headers,
                                 std::string body) {
  AddEndpoint(path, StatusLine(status), std::move(headers), std::move(body));
}

void LoopbackServer::AddEndpoint(const std::string& path, const std::string& statusLine,
                                 HeaderList headers, std::string body) {
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
  std::lock_guard lock(mutex_);
  handlers_[path] = std::move(handler);
}

int LoopbackServer::NumHits(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto it = hits_.find(path);
  return it == hits_.end() ? 0 : it->second;
}

int LoopbackServer::NumRequests() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(requests_.size());
}

int LoopbackServer::NumConnections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

Request LoopbackServer::LastRequest() const {
  std::lock_guard lock(mutex_);
  return requests_.empty() ? Request{} : requests_.back();
}

std::vector<Request> LoopbackServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void LoopbackServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) continue;

    ReapFinishedConnections();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(mutex_);
    ++connections_;
    connectionThreads_.push_back({std::thread([this, fd, done] {
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
    std::lock_guard lock(mutex_);
    auto firstFinished = std::stable_partition(
        connectionThreads_.begin(), connectionThreads_.end(), [](const Connection& c) { return !*c.done; });
    std::move(firstFinished, connectionThreads_.end(), std::back_inserter(finished));
    connectionThreads_.erase(firstFinished, connectionThreads_.end());
  }
  for (auto& connection : finished) connection.thread.join();
}

void LoopbackServer::Serve(int fd) {
  Request request;
  if (!ReadRequest(fd, request)) return;
  const Response response = Dispatch(request);

  if (response.fault == Fault::NeverAnswer) {
    // Hold the connection open until the client gives up or the server stops.
    char buffer[1024];
    for (;;) {
      pollfd fds[2] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[1].revents != 0) return;
      if (fds[0].revents != 0) {
        const auto n = recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
      }
    }
  }
  SendResponse(fd, response);
  shutdown(fd, SHUT_WR);
}

bool LoopbackServer::ReadRequest(int fd, Request& request) {
  std::string data;
  char buffer[4096];
  std::size_t headEnd;
  while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
    if (data.size() > kMaxRequestHead) return false;
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
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
  return true;
}

Response LoopbackServer::Dispatch(const Request& request) {
  Handler handler;
  std::string key = request.path;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    auto it = handlers_.find(request.target);
    if (it != handlers_.end())
      key = request.target;
    else
      it = handlers_.find(request.path);
    ++hits_[key];
    if (it != handlers_.end()) handler = it->second;
  }
  if (!handler) {
    Response notFound;
    notFound.statusLine = StatusLine(404);
    notFound.body = "no endpoint " + request.path;
    return notFound;
  }
  return handler(request);
}

void LoopbackServer::SendResponse(int fd, const Response& response) {
  if (!response.raw.empty()) {
    SendAll(fd, response.raw);
    return;
  }
  const std::uint64_t bodySize =
      response.generatedBodySize != 0 ? response.generatedBodySize : response.body.size();
  const int code = StatusCodeOf(response.statusLine);
  const bool mayHaveBody = code >= 200 && code != 204 && code != 304;

  std::string head = response.statusLine + "\r\n";
  for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
  if (response.chunked) {
    if (!HasHeader(response.headers, "Transfer-Encoding")) head += "Transfer-Encoding: chunked\r\n";
  } else if (mayHaveBody && !HasHeader(response.headers, "Content-Length")) {
    head += "Content-Length: " + std::to_string(bodySize) + "\r\n";
  }
  if (!HasHeader(response.headers, "Connection")) head += "Connection: close\r\n";
  head += "\r\n";
  if (!SendAll(fd, head)) return;
  if (mayHaveBody) SendBody(fd, response);
}

bool LoopbackServer::SendBody(int fd, const Response& response) {
  const bool generated = response.generatedBodySize != 0;
  const std::uint64_t total = generated ? response.generatedBodySize : response.body.size();
  const std::uint64_t limit = response.fault == Fault::CloseMidBody ? total / 2 : total;
  const bool slow = response.fault == Fault::SlowBody;
  const std::size_t pieceSize = std::max<std::size_t>(
      1, slow ? response.slowChunkSize : response.chunked ? response.chunkSize : kSendBatch);

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
    if (response.chunked) out += ToHex(n) + "\r\n" + piece + "\r\n";
    else out += piece;

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
    pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    if (fds[1].revents != 0) return false;
    if (fds[0].revents & (POLLERR | POLLHUP)) return false;
  }
  return true;
}

bool LoopbackServer::Pause(std::chrono::milliseconds delay) {
  pollfd wake{wakeRead_, POLLIN, 0};
  return poll(&wake, 1, static_cast<int>(delay.count())) == 0;
}

}  // namespace testsupport
