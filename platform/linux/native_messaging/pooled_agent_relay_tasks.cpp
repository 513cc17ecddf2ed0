#include "platform/linux/native_messaging/pooled_agent_relay_tasks.h"

#include "platform/linux/http/agent_relay.h"

namespace ostrela::linux_platform {

void PooledAgentRelayTasks::startDetached(AgentRelayRequest request,
                                          std::function<void(NativeReply)> finish) {
  spawnDetached([relay = relay_, request = std::move(request),
                 finish = std::move(finish)]() -> boost::asio::awaitable<void> {
    NativeReply reply = co_await relay().send(request);
    finish(std::move(reply));
  });
}

}  // namespace ostrela::linux_platform
