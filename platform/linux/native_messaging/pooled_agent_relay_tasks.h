// Relayed messages as detached coroutines on the shared worker pool.
#pragma once

#include <functional>

#include "extension/agent_relay_tasks.h"

namespace ostrela::linux_platform {

class AgentRelay;

class PooledAgentRelayTasks : public AgentRelayTasks {
 public:
  // `relay` is called inside each task, so the relay (and the pool) are built
  // by the first relayed message; SharedAgentRelay::get in the executable.
  explicit PooledAgentRelayTasks(std::function<const AgentRelay&()> relay)
      : relay_(std::move(relay)) {}

  // Any thread; returns at once. `finish` runs on a worker thread.
  void startDetached(AgentRelayRequest request, std::function<void(NativeReply)> finish) override;

 private:
  std::function<const AgentRelay&()> relay_;
};

}  // namespace ostrela::linux_platform
