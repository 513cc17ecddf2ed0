// A stand-in for the local agent: a real HTTP/1.1 listener on 127.0.0.1,
// in-process, with an I/O thread of its own. It records every request exactly
// as received and answers as the test scripts it: any status and body, a
// delay, a slow drip, silence, a cut connection, or bytes that are not HTTP.
// Light header: Asio and Beast stay in test_agent.cpp.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrela::testing {

struct RecordedRequest {
  // Names as sent, in the order sent.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // Every byte of the request, head and body, as it arrived.
  std::string raw;
  // Its place on its connection: 1 for the first.
  std::size_t onConnection = 0;

  // The value of the first header called `name` (any case), or nullptr.
  const std::string* header(std::string_view name) const;
};

// How the agent answers one request.
struct AgentAnswer {
  enum class Kind {
    respond,      // an HTTP answer shaped by the fields below
    neverAnswer,  // keeps the connection open and sends nothing
    closeAtOnce,  // closes the connection without sending a byte
    raw,          // sends `body` as it stands, with no status line, then closes
  };
  Kind kind = Kind::respond;
  int status = 200;
  // Sent after the status line, before "Content-Length".
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body = R"({"ok":true})";
  // Waited before the first byte.
  std::chrono::milliseconds delay{0};
  // Above zero: the head is sent at once, then the body one byte at a time
  // with this pause before each byte; a raw answer is sent one byte at a
  // time, each in a segment of its own, with this pause after each byte.
  std::chrono::milliseconds dripInterval{0};
  // Closes the connection after this many bytes of the body, although
  // "Content-Length" announced the whole body.
  std::optional<std::size_t> closeAfterBodyBytes;
  // False: no "Content-Length"; the body ends when the agent closes.
  bool contentLength = true;
  // Once the answer is out, the agent shuts down its sending side and holds
  // the connection, reading nothing more, until the agent is destroyed.
  bool halfClose = false;

  // Status `status` with a JSON body and "Content-Type: application/json".
  static AgentAnswer json(int status, std::string body);
  static AgentAnswer of(Kind kind);
  // `bytes` as they stand, with no status line, then the connection closes.
  static AgentAnswer bytes(std::string bytes);
};

class TestAgent {
 public:
  // Listens on 127.0.0.1:`port`; 0 takes any free port. Throws when it cannot.
  explicit TestAgent(std::uint16_t port = 0);
  // Closes every connection and stops the agent's thread.
  ~TestAgent();
  TestAgent(const TestAgent&) = delete;
  TestAgent& operator=(const TestAgent&) = delete;

  std::uint16_t port() const;
  // "http://127.0.0.1:<port>"
  std::string url() const;

  // The answer to every request from now on; 200 {"ok":true} until set.
  void answer(AgentAnswer answer);
  // Chooses each request's answer. Runs on the agent's thread.
  void answer(std::function<AgentAnswer(const RecordedRequest&)> choose);

  // On: each request is answered once its head has arrived, and its body is
  // never read (the record has none). Off by default.
  void answerOnHead(bool onHead);

  // Off: requests are only counted (for long benchmark runs).
  void keepRecords(bool keep);
  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;
  // Connections accepted so far, whether or not anything was sent on them.
  std::size_t connectionCount() const;
  // Waits up to `timeout` until at least `count` requests have arrived.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ostrela::testing
