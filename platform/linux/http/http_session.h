// An HTTP/1.1 client session with one time budget, for the relay's exchanges
// with the local agent over plain TCP on loopback.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include <boost/asio/awaitable.hpp>

#include "extension/relay/agent_exchange.h"

namespace ostrela::linux_platform {

class WorkerPool;

// Each exchange (connecting, sending, and every wait for more data) ends by
// its deadline, so a slowly dripping answer cannot stretch it. A refused connection fails at once.
// No proxy is ever consulted, no cookie kept, nothing cached; a redirect is an answer like any
// other and is never followed. The body of an answer outside 200-299 is not read: the connection is
// closed instead. The answer is read by HttpResponseReader, with its limits, also while a large
// request is still being written (an early refusal is the outcome). Idle keep-alive connections
// are kept for the next exchange; a request lost on one before a byte of the answer came is sent
// once more on a new connection, by the same deadline. The host must be an IP address: nothing is
// resolved.
//
// Threads: safe for concurrent use. `exchange` may be awaited from a coroutine
// on any executor and resumes it there; sockets and deadlines live on `pool`,
// which must run a thread meanwhile and outlive the session. The session must
// outlive its exchanges.
class HttpSession {
 public:
  HttpSession(WorkerPool& pool, std::chrono::nanoseconds budget);
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  using Clock = std::chrono::steady_clock;

  // The deadline of an exchange for a message that arrived at `arrival`.
  Clock::time_point deadlineFor(Clock::time_point arrival) const { return arrival + budget_; }
  // What an exchange comes to when its deadline passes: "the request timed out after 3 seconds".
  HttpOutcome timedOut() const;

  boost::asio::awaitable<HttpOutcome> exchange(const AgentHttpRequest& request,
                                               Clock::time_point deadline) const;

 private:
  struct IdleConnections;
  WorkerPool& pool_;
  std::chrono::nanoseconds budget_;
  std::unique_ptr<IdleConnections> idle_;
};

}  // namespace ostrela::linux_platform
