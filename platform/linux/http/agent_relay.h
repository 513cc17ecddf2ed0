// The relay to the local agent: its address, the two sessions that give
// identity and redaction messages their time budgets, the bearer secret, and
// `send`. This header is light (no Beast, only <boost/asio/awaitable.hpp>).
//
// Threads: everything is const and safe from any number of threads at once.
// Its sockets and timers live on the worker pool it is given. The executable's
// main makes the pool, the relay and the relay tasks, which start one detached
// task per relayed message with the time the message arrived:
//
//   WorkerPool pool;
//   const AgentRelay relay(pool, AgentUrl(), stores);
//   PooledAgentRelayTasks relayTasks(pool, relay, logger);
//   // in PooledAgentRelayTasks::startDetached, once admitted:
//   pool.spawnDetached([task, arrival]() -> boost::asio::awaitable<void> {
//     task->finish(co_await relay.send(std::move(task->request), arrival));
//   });
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/awaitable.hpp>

#include "extension/native_reply.h"
#include "extension/native_route.h"
#include "extension/relay/agent_url.h"
#include "shared/preference_domain.h"

namespace ostrela::linux_platform {

class HttpSession;
class WorkerPool;

class AgentRelay {
 public:
  static constexpr double kIdentityBudgetSeconds = 3.0;
  static constexpr double kRedactionBudgetSeconds = 10.0;

  // A relay with sessions of the standard budgets on `pool`, reading the
  // secret from `stores`. Creating it opens no socket and starts no thread:
  // the first exchange does. The executable's main makes its one relay at
  // start; tests make others for another port or folders. `pool` must outlive it.
  AgentRelay(WorkerPool& pool, AgentUrl url, std::shared_ptr<const PreferenceStores> stores);
  // A relay with sessions of its own, for tests of shorter budgets.
  AgentRelay(AgentUrl url, std::shared_ptr<const PreferenceStores> stores,
             std::shared_ptr<const HttpSession> identitySession,
             std::shared_ptr<const HttpSession> redactionSession);
  ~AgentRelay();

  // A new session on `pool` whose budget bounds both the whole exchange and each wait for data.
  static std::shared_ptr<HttpSession> makeSession(WorkerPool& pool, double timeoutSeconds);

  using Clock = std::chrono::steady_clock;

  // The time by which the reply to `request`, arrived at `arrival`, is due:
  // the arrival plus the budget of its kind.
  Clock::time_point deadlineFor(const AgentRelayRequest& request, Clock::time_point arrival) const;
  // The reply to `request` when its deadline passed before it was sent.
  NativeReply timedOutReply(const AgentRelayRequest& request) const;

  // Posts the message to the agent and returns its validated reply, or an
  // error reply that says what went wrong, by the message's deadline counted
  // from `arrival`. Never throws for a failed exchange.
  boost::asio::awaitable<NativeReply> send(AgentRelayRequest request,
                                           Clock::time_point arrival = Clock::now()) const;

 private:
  const HttpSession& sessionFor(const AgentRelayRequest& request) const;
  boost::asio::awaitable<NativeReply> exchange(AgentRelayRequest request,
                                               Clock::time_point deadline) const;

  AgentUrl url_;
  std::shared_ptr<const PreferenceStores> stores_;
  std::shared_ptr<const HttpSession> identitySession_;
  std::shared_ptr<const HttpSession> redactionSession_;
};

}  // namespace ostrela::linux_platform
