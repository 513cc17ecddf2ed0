#include "platform/linux/http/agent_relay.h"

#include <boost/asio/awaitable.hpp>
#include <chrono>
#include <utility>

#include "extension/relay/agent_exchange.h"
#include "extension/relay/relay_secret.h"
#include "platform/linux/http/http_session.h"

namespace ostrela::linux_platform {

AgentRelay::AgentRelay(WorkerPool& pool, AgentUrl url,
                       std::shared_ptr<const PreferenceStores> stores)
    : AgentRelay(url, std::move(stores), makeSession(pool, kIdentityBudgetSeconds),
                 makeSession(pool, kRedactionBudgetSeconds)) {}

AgentRelay::AgentRelay(AgentUrl url, std::shared_ptr<const PreferenceStores> stores,
                       std::shared_ptr<const HttpSession> identitySession,
                       std::shared_ptr<const HttpSession> redactionSession)
    : url_(url),
      stores_(std::move(stores)),
      identitySession_(std::move(identitySession)),
      redactionSession_(std::move(redactionSession)) {}

AgentRelay::~AgentRelay() = default;

std::shared_ptr<HttpSession> AgentRelay::makeSession(WorkerPool& pool, double timeoutSeconds) {
  return std::make_shared<HttpSession>(pool, std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                 std::chrono::duration<double>(timeoutSeconds)));
}

const HttpSession& AgentRelay::sessionFor(const AgentRelayRequest& request) const {
  return request.budget == AgentRelayBudget::identity ? *identitySession_ : *redactionSession_;
}

AgentRelay::Clock::time_point AgentRelay::deadlineFor(const AgentRelayRequest& request,
                                                      Clock::time_point arrival) const {
  return sessionFor(request).deadlineFor(arrival);
}

NativeReply AgentRelay::timedOutReply(const AgentRelayRequest& request) const {
  return judgeAgentOutcome(sessionFor(request).timedOut(), url_, request);
}

boost::asio::awaitable<NativeReply> AgentRelay::send(AgentRelayRequest request,
                                                     Clock::time_point arrival) const {
  const Clock::time_point deadline = deadlineFor(request, arrival);
  co_return co_await exchange(std::move(request), deadline);
}

boost::asio::awaitable<NativeReply> AgentRelay::exchange(AgentRelayRequest request,
                                                         Clock::time_point deadline) const {
  // The body moves to the HTTP request rather than being copied: a message of
  // many megabytes is held once.
  AgentHttpRequest http = prepareAgentRequest(url_, relaySecret(*stores_));  // read anew every time
  http.body = std::exchange(request.body, {});
  HttpOutcome outcome = co_await sessionFor(request).exchange(http, deadline);
  co_return judgeAgentOutcome(std::move(outcome), url_, request);
}

}  // namespace ostrela::linux_platform
