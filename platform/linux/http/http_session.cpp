#include "platform/linux/http/http_session.h"

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/deferred.hpp>
#include <boost/asio/experimental/parallel_group.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <cerrno>
#include <charconv>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

#include "platform/linux/http/http_response_reader.h"
#include "platform/linux/http/listener_account.h"
#include "platform/linux/http/worker_pool.h"

namespace ostrela::linux_platform {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

constexpr auto kNoThrow = asio::as_tuple(asio::use_awaitable);
constexpr std::size_t kMaxIdleConnections = 32;

// One connection to the agent, with the deadline of the exchange it serves.
// The socket belongs to that exchange. The deadline reaches it from the timer,
// on any worker thread, only by shutting the descriptor down: on Linux that
// ends a pending connect, write or read at once, and the socket object itself
// is never touched from two threads.
//
// The timer is not cancelled when an exchange ends, since a cancellation would
// cost a hand-over to another thread in every exchange. It is armed when an
// exchange begins and none is pending; when it fires before the current
// deadline (it was set for an earlier exchange), it is armed again. Deadlines
// count from each message's arrival, and exchanges start in arrival order, so
// they nearly always grow on one connection; one that does not re-arms the
// pending wait. So a connection has at most one pending wait.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  explicit Connection(asio::thread_pool& pool) : socket(pool), timer_(pool) {}

  tcp::socket socket;

  void begin(Clock::time_point deadline) {
    std::lock_guard lock(mutex_);
    deadline_ = deadline;
    inExchange_ = true;
    if (!timerPending_ || deadline < armedFor_) arm();
  }
  // The socket was opened: the deadline may now shut it down. False when the
  // deadline has passed already.
  bool attach() {
    std::lock_guard lock(mutex_);
    descriptor_ = socket.native_handle();
    return !timedOut_;
  }
  // Ends the exchange; true when its deadline had come.
  bool finish() {
    std::lock_guard lock(mutex_);
    inExchange_ = false;
    return std::exchange(timedOut_, false);
  }
  void close() {
    std::lock_guard lock(mutex_);
    descriptor_ = -1;
    error_code ignored;
    socket.close(ignored);
  }

 private:
  // With `mutex_` held. Setting the expiry ends a pending wait, whose handler then does nothing.
  void arm() {
    timerPending_ = true;
    armedFor_ = deadline_;
    timer_.expires_at(deadline_);
    timer_.async_wait([weak = weak_from_this()](error_code ec) {
      if (std::shared_ptr<Connection> self = weak.lock(); self && !ec) self->onTimer();
    });
  }
  void onTimer() {
    std::lock_guard lock(mutex_);
    timerPending_ = false;
    if (!inExchange_) return;
    if (Clock::now() < deadline_) return arm();
    timedOut_ = true;
    if (descriptor_ >= 0) ::shutdown(descriptor_, SHUT_RDWR);
  }

  asio::steady_timer timer_;
  std::mutex mutex_;
  Clock::time_point deadline_;
  Clock::time_point armedFor_;
  int descriptor_ = -1;
  bool inExchange_ = false;
  bool timerPending_ = false;
  bool timedOut_ = false;
};

// What one exchange came to, and whether its connection may serve another.
struct ConnectionResult {
  HttpOutcome outcome;
  bool reusable = false;
  // The connection ended (closed or reset) before a byte of the answer came.
  bool lostBeforeAnswer = false;
};

HttpOutcome failure(std::string description) {
  return TransportFailure{std::move(description)};
}

bool isConnectionLost(const error_code& ec) {
  return ec == asio::error::eof || ec == asio::error::connection_reset ||
         ec == asio::error::broken_pipe;
}

// A socket error before the request was sent whole.
HttpOutcome failedSending(const error_code& ec) {
  if (ec == asio::error::connection_refused) return failure("the connection was refused");
  if (isConnectionLost(ec)) return failure("the connection was lost while sending the request");
  return failure("the connection failed (" + ec.message() + ")");
}

// A socket error while the answer was awaited or read.
HttpOutcome failedReading(const HttpResponseReader& reader, const error_code& ec) {
  if (ec == asio::error::connection_reset) {
    return failure(reader.phase() == HttpResponseReader::Phase::awaitingAnswer
                       ? "the connection was closed before the agent answered"
                       : "the connection was closed before the answer was complete");
  }
  return failure("the connection failed (" + ec.message() + ")");
}

// Written by hand: the method is fixed and the core has checked every value.
std::string requestHead(const AgentHttpRequest& request) {
  std::string head;
  head.reserve(192 + request.headers.size() * 48);
  head.append("POST ").append(request.url.requestTarget()).append(" HTTP/1.1\r\n");
  head.append("Host: ").append(request.url.authority()).append("\r\n");
  for (const HttpHeader& header : request.headers) {
    head.append(header.name).append(": ").append(header.value).append("\r\n");
  }
  head.append("Content-Length: ").append(std::to_string(request.body.size())).append("\r\n\r\n");
  return head;
}

// Nothing has arrived on the connection: no bytes and no end of stream. An
// idle connection that the agent has closed, or that holds stray bytes, is
// not reused.
bool nothingArrived(tcp::socket& socket) {
  char byte;
  const ssize_t n = ::recv(socket.native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

// How reading an answer ended: its outcome (also one that the end of the
// stream makes), or the socket's error before there was one.
using ReadEnd = std::variant<HttpOutcome, error_code>;

// Reads into `reader` until the answer is complete or refused. Read here
// rather than with Beast's composed reads: those complete through the
// scheduler even when the bytes are already here, which wakes the other pool
// thread. Ends, with operation_aborted, when the awaiting coroutine is cancelled.
asio::awaitable<ReadEnd> readAnswer(tcp::socket& socket, HttpResponseReader& reader) {
  co_await asio::this_coro::throw_if_cancelled(false);
  for (;;) {
    // A cancellation that came while the last read completed: the next read would not see it.
    if ((co_await asio::this_coro::cancellation_state).cancelled() !=
        asio::cancellation_type::none) {
      co_return asio::error::operation_aborted;
    }
    const std::span<char> space = reader.space();
    auto [ec, received] =
        co_await socket.async_read_some(asio::buffer(space.data(), space.size()), kNoThrow);
    if (ec == asio::error::eof) co_return reader.endOfInput();
    if (ec) co_return ec;
    if (std::optional<HttpOutcome> outcome = reader.received(received)) co_return *outcome;
  }
}

// How sending the request ended: the write's error, none when the request
// went whole; and how reading the answer ended, when it did meanwhile.
struct Sent {
  error_code error;
  bool whole = false;
  std::optional<ReadEnd> answer;
};

// What has not gone at once waits for the agent to read it, and meanwhile its
// answer is read: an agent may refuse a large body after its head (413, then
// a close) and never read the rest. Whichever ends first cancels the other;
// the results of both are kept, as both may end at the same moment. Both on
// one strand, so that the socket and the reader are never used from two
// threads at once.
asio::awaitable<Sent> writeWhileReading(tcp::socket& socket, std::array<asio::const_buffer, 2> rest,
                                        HttpResponseReader& reader) {
  co_return co_await asio::co_spawn(
      asio::make_strand(socket.get_executor()),
      [&]() -> asio::awaitable<Sent> {
        const auto strand = co_await asio::this_coro::executor;
        auto [order, writeError, written, readFailure, readEnd] =
            co_await asio::experimental::make_parallel_group(
                asio::async_write(socket, rest, asio::deferred),
                asio::co_spawn(strand, readAnswer(socket, reader), asio::deferred))
                .async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
        if (readFailure) std::rethrow_exception(readFailure);
        Sent sent{writeError, !writeError, std::nullopt};
        const auto* readError = std::get_if<error_code>(&readEnd);
        if (readError && *readError == asio::error::operation_aborted) co_return sent;
        if (writeError == asio::error::operation_aborted)
          sent.error = readError ? *readError : error_code();
        sent.answer = std::move(readEnd);
        co_return sent;
      },
      asio::use_awaitable);
}

// Writes at once what the socket takes, and the rest as above: an
// asynchronous operation that completes at once would still cost a hand-over
// to another worker thread.
asio::awaitable<Sent> sendRequest(tcp::socket& socket, const std::string& head,
                                  const std::string& body, HttpResponseReader& reader) {
  std::array<asio::const_buffer, 2> buffers{asio::buffer(head), asio::buffer(body)};
  error_code ec;
  const std::size_t sent = socket.send(buffers, 0, ec);
  if (ec && ec != asio::error::would_block) co_return Sent{ec, false, std::nullopt};
  if (sent == head.size() + body.size()) co_return Sent{{}, true, std::nullopt};
  buffers = {asio::buffer(head) + sent, asio::buffer(body) + (sent - std::min(sent, head.size()))};
  co_return co_await writeWhileReading(socket, buffers, reader);
}

// Judges how reading ended, after sending did. An answer that came is the
// outcome, even when the request could not be sent whole.
ConnectionResult judged(const ReadEnd& end, const HttpResponseReader& reader, const Sent& sent) {
  const bool nothingCame = reader.phase() == HttpResponseReader::Phase::awaitingAnswer;
  const auto* ec = std::get_if<error_code>(&end);
  ConnectionResult result;
  result.lostBeforeAnswer = nothingCame && (!ec || isConnectionLost(*ec) || sent.error);
  if (nothingCame && sent.error) {
    result.outcome = failedSending(sent.error);
  } else if (ec) {
    result.outcome = failedReading(reader, *ec);
  } else {
    result.outcome = std::get<HttpOutcome>(end);
    result.reusable = sent.whole && reader.reusable();
  }
  return result;
}

// A connection attempt begun before the exchange's other objects exist.
struct StartedConnect {
  int descriptor = -1;
  int error = 0;         // errno when the attempt failed at once
  bool pending = false;  // EINPROGRESS: wait until the socket is writable
};

// Opens a non-blocking socket and starts connecting at once: the handshake
// with the agent then overlaps the rest of the set-up (at a cold start, the
// reactor's eventfd, epoll and timerfd). Close-on-exec: a process that starts
// others does not hand them the connection.
StartedConnect startConnect(const tcp::endpoint& endpoint) {
  const int descriptor =
      ::socket(endpoint.protocol().family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (descriptor < 0) return {-1, errno, false};
  if (::connect(descriptor, endpoint.data(), static_cast<socklen_t>(endpoint.size())) == 0) {
    return {descriptor, 0, false};
  }
  if (errno == EINPROGRESS) return {descriptor, 0, true};
  const int error = errno;
  ::close(descriptor);
  return {-1, error, false};
}

// Waits for a pending connect to finish (or for the deadline to shut it down).
asio::awaitable<error_code> finishConnect(tcp::socket& socket) {
  auto [ec] = co_await socket.async_wait(tcp::socket::wait_write, kNoThrow);
  if (ec) co_return ec;
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(socket.native_handle(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
    error = errno;
  }
  co_return error_code(error, boost::system::system_category());
}

asio::awaitable<ConnectionResult> talk(Connection& connection, const AgentHttpRequest& request,
                                       tcp::endpoint endpoint,
                                       std::optional<StartedConnect> started) {
  tcp::socket& socket = connection.socket;
  error_code ignored;
  if (!socket.is_open()) {
    if (!started) started = startConnect(endpoint);
    if (started->descriptor < 0) {
      co_return ConnectionResult{
          failedSending(error_code(started->error, boost::system::system_category()))};
    }
    if (socket.assign(endpoint.protocol(), started->descriptor, ignored); ignored) {
      ::close(started->descriptor);
      co_return ConnectionResult{failedSending(ignored)};
    }
    // Told before its first operation, so that Asio does not set it once more.
    socket.non_blocking(true, ignored);
    // Past the deadline already: the time-out replaces this outcome.
    if (!connection.attach()) co_return ConnectionResult{failure("")};
    if (started->pending) {
      if (error_code ec = co_await finishConnect(socket); ec) {
        co_return ConnectionResult{failedSending(ec)};
      }
    }
    // Connected, nothing written yet. Any account may listen while the agent is
    // down: not a byte, secret or message, goes to a listener we do not trust.
    if (auto refused = whyAgentListenerIsRefused(socket.native_handle())) {
      co_return ConnectionResult{failure(std::move(*refused))};
    }
    socket.set_option(tcp::no_delay(true), ignored);
  }
  HttpResponseReader reader;
  Sent sent = co_await sendRequest(socket, requestHead(request), request.body, reader);
  // After a failed write, what has arrived is still read: the agent's refusal
  // may be there, ahead of the reset that failed the write.
  // (Not a conditional expression: g++ 12 destroys a co_await's result in one twice.)
  if (!sent.answer) sent.answer = co_await readAnswer(socket, reader);
  co_return judged(*sent.answer, reader, sent);
}

asio::awaitable<ConnectionResult> transact(Connection& connection, const AgentHttpRequest& request,
                                           tcp::endpoint endpoint,
                                           std::optional<StartedConnect> started,
                                           Clock::time_point deadline, HttpOutcome timedOut) {
  connection.begin(deadline);
  ConnectionResult result = co_await talk(connection, request, endpoint, started);
  // A time-out ends the exchange whatever came before it: an answer whose end
  // is the closing of the connection may have been cut short by the deadline.
  if (connection.finish()) result = ConnectionResult{std::move(timedOut)};
  if (!result.reusable) connection.close();
  co_return result;
}

}  // namespace

struct HttpSession::IdleConnections {
  std::mutex mutex;
  std::vector<std::shared_ptr<Connection>> connections;

  // An idle connection on which nothing has arrived since its last answer;
  // the others are closed.
  std::shared_ptr<Connection> take() {
    for (;;) {
      std::shared_ptr<Connection> connection;
      {
        std::lock_guard lock(mutex);
        if (connections.empty()) return nullptr;
        connection = std::move(connections.back());
        connections.pop_back();
      }
      if (nothingArrived(connection->socket)) return connection;
      connection->close();
    }
  }
  void give(std::shared_ptr<Connection> connection) {
    std::lock_guard lock(mutex);
    if (connections.size() < kMaxIdleConnections) connections.push_back(std::move(connection));
  }
};

HttpSession::HttpSession(WorkerPool& pool, std::chrono::nanoseconds budget)
    : pool_(pool), budget_(budget), idle_(std::make_unique<IdleConnections>()) {}

HttpSession::~HttpSession() = default;

HttpOutcome HttpSession::timedOut() const {
  const double seconds = std::chrono::duration<double>(budget_).count();
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, seconds).ptr;
  return failure("the request timed out after " + std::string(text, end) +
                 (seconds == 1.0 ? " second" : " seconds"));
}

asio::awaitable<HttpOutcome> HttpSession::exchange(const AgentHttpRequest& request,
                                                   Clock::time_point deadline) const {
  error_code addressError;
  const asio::ip::address address = asio::ip::make_address(request.url.host(), addressError);
  if (addressError) co_return failure("the agent's host is not an IP address");

  // A message that waited for its turn past its deadline is not sent at all.
  if (Clock::now() >= deadline) co_return timedOut();
  const tcp::endpoint endpoint(address, request.url.port());
  std::shared_ptr<Connection> connection = idle_->take();
  for (;;) {
    const bool reused = connection != nullptr;
    std::optional<StartedConnect> started;
    if (!reused) {
      started = startConnect(endpoint);  // before the connection's reactor objects are made
      connection = std::make_shared<Connection>(pool_.context());
    }
    ConnectionResult result =
        co_await transact(*connection, request, endpoint, started, deadline, timedOut());
    // A kept-alive connection that the agent closed as the request went out,
    // before a byte of the answer: sent once more, on a new connection, within
    // the same deadline. The agent did not answer the first; keeping
    // connections alive is this client's choice, so is absorbing that.
    if (reused && result.lostBeforeAnswer) {
      connection = nullptr;
      continue;
    }
    if (result.reusable) idle_->give(std::move(connection));
    co_return std::move(result.outcome);
  }
}

}  // namespace ostrela::linux_platform
