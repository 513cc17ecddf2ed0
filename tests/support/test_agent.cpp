#include "tests/support/test_agent.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/socket.h>
#include <atomic>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace ostrela::testing {
namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using asio::ip::tcp;
using boost::system::error_code;
constexpr auto kNoThrow = asio::as_tuple(asio::use_awaitable);

}  // namespace

const std::string* RecordedRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), name.size()) == 0) {
      return &value;
    }
  }
  return nullptr;
}

AgentAnswer AgentAnswer::json(int status, std::string body) {
  AgentAnswer answer;
  answer.status = status;
  answer.headers = {{"Content-Type", "application/json"}};
  answer.body = std::move(body);
  return answer;
}

AgentAnswer AgentAnswer::bytes(std::string bytes) {
  AgentAnswer answer = of(Kind::raw);
  answer.body = std::move(bytes);
  return answer;
}

AgentAnswer AgentAnswer::of(Kind kind) {
  AgentAnswer answer;
  answer.kind = kind;
  return answer;
}

struct TestAgent::Impl {
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  std::thread thread;

  mutable std::mutex mutex;
  mutable std::condition_variable arrived;
  std::function<AgentAnswer(const RecordedRequest&)> choose;
  std::vector<RecordedRequest> records;
  bool keep = true;
  std::atomic<bool> onHead{false};
  std::size_t requestCount = 0;
  std::atomic<std::size_t> connections{0};

  AgentAnswer record(RecordedRequest request) {
    std::lock_guard lock(mutex);
    ++requestCount;
    AgentAnswer answer = choose ? choose(request) : AgentAnswer{};
    if (keep) records.push_back(std::move(request));
    arrived.notify_all();
    return answer;
  }

  asio::awaitable<void> acceptLoop() {
    for (;;) {
      auto [ec, socket] = co_await acceptor.async_accept(kNoThrow);
      if (ec == asio::error::operation_aborted || !acceptor.is_open()) co_return;
      if (ec) continue;
      ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
      connections.fetch_add(1);
      asio::co_spawn(io, serve(std::move(socket)), asio::detached);
    }
  }

  asio::awaitable<void> serve(tcp::socket socket) {
    const bool headOnly = onHead.load();
    boost::beast::flat_buffer buffer;
    for (std::size_t onConnection = 1;; ++onConnection) {
      std::optional<RecordedRequest> request = co_await readRequest(socket, buffer, headOnly);
      if (!request) co_return;
      request->onConnection = onConnection;
      if (!co_await perform(socket, record(std::move(*request)))) co_return;
    }
  }

  // Parses one request (or only its head), keeping every byte the parser took.
  static asio::awaitable<std::optional<RecordedRequest>> readRequest(
      tcp::socket& socket, boost::beast::flat_buffer& buffer, bool headOnly) {
    http::request_parser<http::string_body> parser;
    parser.eager(!headOnly);
    parser.header_limit(1024 * 1024);
    parser.body_limit(256 * 1024 * 1024);
    RecordedRequest request;
    bool needMore = buffer.size() == 0;
    while (headOnly ? !parser.is_header_done() : !parser.is_done()) {
      if (needMore) {
        auto [ec, n] = co_await socket.async_read_some(buffer.prepare(65536), kNoThrow);
        if (ec) co_return std::nullopt;
        buffer.commit(n);
      }
      error_code ec;
      const std::size_t used = parser.put(buffer.data(), ec);
      request.raw.append(static_cast<const char*>(buffer.data().data()), used);
      buffer.consume(used);
      if (ec && ec != http::error::need_more) co_return std::nullopt;
      needMore = ec == http::error::need_more || used == 0 || buffer.size() == 0;
    }
    const auto& message = parser.get();
    for (const auto& field : message) {
      request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    request.body = message.body();
    co_return request;
  }

  // False when the connection is to be closed.
  asio::awaitable<bool> perform(tcp::socket& socket, const AgentAnswer& answer) {
    asio::steady_timer timer(io);
    if (answer.delay.count() > 0) {
      timer.expires_after(answer.delay);
      co_await timer.async_wait(kNoThrow);
    }
    switch (answer.kind) {
      case AgentAnswer::Kind::neverAnswer: {
        char byte;
        // Holds the connection until the client gives up on it.
        while (!std::get<0>(co_await socket.async_read_some(asio::buffer(&byte, 1), kNoThrow))) {
        }
        co_return false;
      }
      case AgentAnswer::Kind::closeAtOnce:
        co_return false;
      case AgentAnswer::Kind::raw:
        if (answer.dripInterval.count() == 0) {
          co_await asio::async_write(socket, asio::buffer(answer.body), kNoThrow);
          co_return false;
        }
        socket.set_option(tcp::no_delay(true));  // one segment per byte
        for (const char& byte : answer.body) {
          if (std::get<0>(co_await asio::async_write(socket, asio::buffer(&byte, 1), kNoThrow))) {
            co_return false;
          }
          timer.expires_after(answer.dripInterval);
          co_await timer.async_wait(kNoThrow);
        }
        co_return false;
      case AgentAnswer::Kind::respond:
        break;
    }

    std::string head =
        "HTTP/1.1 " + std::to_string(answer.status) + " " +
        std::string(http::obsolete_reason(static_cast<http::status>(answer.status))) + "\r\n";
    for (const auto& [name, value] : answer.headers) head += name + ": " + value + "\r\n";
    if (answer.contentLength)
      head += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    head += "\r\n";
    const std::string_view body =
        std::string_view(answer.body)
            .substr(0, answer.closeAfterBodyBytes.value_or(answer.body.size()));

    if (answer.dripInterval.count() == 0) {
      const std::array<asio::const_buffer, 2> buffers{asio::buffer(head),
                                                      asio::buffer(body.data(), body.size())};
      if (std::get<0>(co_await asio::async_write(socket, buffers, kNoThrow))) co_return false;
    } else {
      if (std::get<0>(co_await asio::async_write(socket, asio::buffer(head), kNoThrow))) {
        co_return false;
      }
      for (const char& byte : body) {
        timer.expires_after(answer.dripInterval);
        co_await timer.async_wait(kNoThrow);
        if (std::get<0>(co_await asio::async_write(socket, asio::buffer(&byte, 1), kNoThrow))) {
          co_return false;
        }
      }
    }
    if (answer.halfClose) {
      error_code ignored;
      socket.shutdown(tcp::socket::shutdown_send, ignored);
      timer.expires_at(asio::steady_timer::time_point::max());
      co_await timer.async_wait(kNoThrow);
      co_return false;
    }
    co_return answer.contentLength && !answer.closeAfterBodyBytes;
  }
};

TestAgent::TestAgent(std::uint16_t port) : impl_(std::make_unique<Impl>()) {
  const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
  // Close-on-exec, so that processes a test starts do not hold the port.
  impl_->acceptor.assign(endpoint.protocol(), ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  impl_->acceptor.set_option(tcp::acceptor::reuse_address(true));
  impl_->acceptor.bind(endpoint);
  impl_->acceptor.listen(asio::socket_base::max_listen_connections);
  asio::co_spawn(impl_->io, impl_->acceptLoop(), asio::detached);
  impl_->thread = std::thread([impl = impl_.get()] { impl->io.run(); });
}

TestAgent::~TestAgent() {
  impl_->io.stop();
  impl_->thread.join();
}

std::uint16_t TestAgent::port() const {
  return impl_->acceptor.local_endpoint().port();
}

std::string TestAgent::url() const {
  return "http://127.0.0.1:" + std::to_string(port());
}

void TestAgent::answer(AgentAnswer answer) {
  this->answer([answer](const RecordedRequest&) { return answer; });
}

void TestAgent::answer(std::function<AgentAnswer(const RecordedRequest&)> choose) {
  std::lock_guard lock(impl_->mutex);
  impl_->choose = std::move(choose);
}

void TestAgent::answerOnHead(bool onHead) {
  impl_->onHead.store(onHead);
}

void TestAgent::keepRecords(bool keep) {
  std::lock_guard lock(impl_->mutex);
  impl_->keep = keep;
}

std::vector<RecordedRequest> TestAgent::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->records;
}

std::size_t TestAgent::requestCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requestCount;
}

std::size_t TestAgent::connectionCount() const {
  return impl_->connections.load();
}

bool TestAgent::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->arrived.wait_for(lock, timeout, [&] { return impl_->requestCount >= count; });
}

}  // namespace ostrela::testing
