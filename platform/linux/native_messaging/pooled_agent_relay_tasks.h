// Relayed messages as detached coroutines on the shared worker pool.
#pragma once

#include <functional>

#include "core/logger.h"
#include "extension/agent_relay_tasks.h"

namespace ostrela::linux_platform {

class AgentRelay;

// The reply to a relayed message whose task failed with an exception (such as std::bad_alloc).
inline constexpr const char* kRelayTaskFailed = "The agent relay failed unexpectedly";

class PooledAgentRelayTasks : public AgentRelayTasks {
 public:
  // `relay` is called inside each task, so the relay (and the pool) are built
  // by the first relayed message; SharedAgentRelay::get in the executable.
  // `logger` must outlive every task.
  PooledAgentRelayTasks(std::function<const AgentRelay&()> relay, const Logger& logger)
      : relay_(std::move(relay)), logger_(logger) {}

  // Any thread; returns at once. `finish` runs on a worker thread, also when
  // the relay throws: nothing awaits a detached task, so an exception is
  // caught at its edge, logged, and answered with kRelayTaskFailed.
  void startDetached(AgentRelayRequest request, std::function<void(NativeReply)> finish) override;

 private:
  std::function<const AgentRelay&()> relay_;
  const Logger& logger_;
};

}  // namespace ostrela::linux_platform
