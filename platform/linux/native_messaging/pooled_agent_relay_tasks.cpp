#include "platform/linux/native_messaging/pooled_agent_relay_tasks.h"

#include <exception>
#include <optional>
#include <string>

#include "platform/linux/http/agent_relay.h"

namespace ostrela::linux_platform {

void PooledAgentRelayTasks::startDetached(AgentRelayRequest request,
                                          std::function<void(NativeReply)> finish) {
  spawnDetached([relay = relay_, &logger = logger_, request = std::move(request),
                 finish = std::move(finish)]() -> boost::asio::awaitable<void> {
    std::optional<NativeReply> reply;
    std::string what = "an exception of unknown type";  // what() dies with its exception
    try {
      reply = co_await relay().send(request);
    } catch (const std::exception& error) {
      what = error.what();
    } catch (...) {
    }
    if (!reply) {
      logger.log(LogLevel::error, "A relay task failed: %{public}s", {what.c_str()});
      reply = errorReply(kRelayTaskFailed, request.id);
    }
    finish(std::move(*reply));
  });
}

}  // namespace ostrela::linux_platform
