// Relayed messages as detached coroutines on the shared worker pool.
#pragma once

#include "extension/agent_relay_tasks.h"

namespace ostrela::linux_platform {

class AgentRelay;

class PooledAgentRelayTasks : public AgentRelayTasks {
 public:
  // `relay` is called inside each task, so the relay (and the pool) are built
  // by the first relayed message; AgentRelay::shared in the executable.
  explicit PooledAgentRelayTasks(const AgentRelay& (*relay)()) : relay_(relay) {}

  // Any thread; returns at once. `finish` runs on a worker thread.
  void startDetached(AgentRelayRequest request, std::function<void(NativeReply)> finish) override;

 private:
  const AgentRelay& (*relay_)();
};

}  // namespace ostrela::linux_platform
