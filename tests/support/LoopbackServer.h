// A small HTTP/1.1 server on 127.0.0.1 for tests.
//
// Each test starts its own server on an ephemeral port, registers the
// responses it needs and points the code under test at Url(path). Every
// connection carries one request and is closed after the response
// ("Connection: close"), so hit counts and connection counts are exact.
// Besides plain responses the server can misbehave on purpose (never answer,
// drop the connection mid-body, trickle the body, send a huge body generated
// on the fly) so that time-outs, cancellation and size caps can be tested.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request as the server read it.
struct Request {
  std::string requestLine;  // "GET /feed HTTP/1.1", CRLF removed
  std::string method;
  std::string target;       // as sent, query included
  std::string path;         // target without the query
  std::string version;
  HeaderList headers;       // in the order received
  std::string rawHeaders;   // header block as received, without the request line

  // Value of the first header with this name (case-insensitive), "" if absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
  // Number of headers with this name (a client must send Host exactly once).
  int CountHeader(const std::string& name) const;
};

enum class Fault {
  None,
  NeverAnswer,   // read the request, then send nothing until the server stops
  CloseMidBody,  // announce the whole body, send half of it, close
  SlowBody,      // send the body in slowChunkSize pieces, slowDelay apart
};

struct Response {
  std::string statusLine = "HTTP/1.1 200 OK";
  HeaderList headers;  // Content-Length / Transfer-Encoding are added by the server
  std::string body;
  bool chunked = false;
  std::size_t chunkSize = 16;  // bytes per chunk when chunked

  // When non-zero the body is this many bytes of a repeating pattern,
  // generated while sending so that even a huge body costs no memory.
  std::uint64_t generatedBodySize = 0;

  Fault fault = Fault::None;
  std::size_t slowChunkSize = 1;
  std::chrono::milliseconds slowDelay{100};

  // When non-empty, these bytes are sent verbatim instead of a built response.
  std::string raw;

  // The byte at position i of a generated body, for checking what arrived.
  static char GeneratedByte(std::uint64_t i) { return static_cast<char>('a' + i % 26); }
};

// "HTTP/1.1 <code> <reason>" with the usual reason phrase.
std::string StatusLine(int code);

class LoopbackServer {
 public:
  using Handler = std::function<Response(const Request&)>;

  // Starts listening at once; the destructor stops the server.
  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // Stops accepting, wakes every connection (including hung ones) and joins
  // all threads. Safe to call twice.
  void Stop();

  std::uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port><path>"
  std::string Url(const std::string& path) const;

  // A fixed response; status is either a code (reason phrase filled in) or a
  // full status line sent as written.
  void AddEndpoint(const std::string& path, int status, HeaderList headers, std::string body);
  void AddEndpoint(const std::string& path, const std::string& statusLine, HeaderList headers,
                   std::string body);
  void AddEndpoint(const std::string& path, Response response);
  // A response computed per request (a feed that changes between polls).
  void AddHandler(const std::string& path, Handler handler);

  // Requests answered for path (matched without the query), all connections.
  int NumHits(const std::string& path) const;
  int NumRequests() const;
  int NumConnections() const;  // accepted connections, with or without a request

  Request LastRequest() const;
  std::string LastRequestLine() const { return LastRequest().requestLine; }
  HeaderList LastRequestHeaders() const { return LastRequest().headers; }
  std::vector<Request> Requests() const;

 private:
  struct Connection {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void AcceptLoop();
  void Serve(int fd);
  bool ReadRequest(int fd, Request& request);
  Response Dispatch(const Request& request);
  void SendResponse(int fd, const Response& response);
  bool SendAll(int fd, const char* data, std::size_t size);
  bool SendAll(int fd, const std::string& text) { return SendAll(fd, text.data(), text.size()); }
  bool SendBody(int fd, const Response& response);
  // Waits for the given time unless the server is stopping; false when stopping.
  bool Pause(std::chrono::milliseconds delay);
  void ReapFinishedConnections();

  int listenFd_ = -1;
  int wakeRead_ = -1;  // becomes readable (and stays so) when the server stops
  int wakeWrite_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;

  mutable std::mutex mutex_;
  std::map<std::string, Handler> handlers_;
  std::map<std::string, int> hits_;
  std::vector<Request> requests_;
  int connections_ = 0;
  std::vector<Connection> connectionThreads_;
};

}  // namespace testsupport
