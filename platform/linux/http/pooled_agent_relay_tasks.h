// Relayed messages as detached coroutines on the worker pool.
#pragma once

#include <cstddef>
#include <functional>

#include "core/logger.h"
#include "extension/agent_relay_tasks.h"
#include "platform/linux/http/relay_admission.h"

namespace ostrela::linux_platform {

class AgentRelay;
class WorkerPool;

// The reply to a relayed message whose task failed with an exception (such as std::bad_alloc).
inline constexpr const char* kRelayTaskFailed = "The agent relay failed unexpectedly";

// Relays in flight at most, for each budget: each holds a connection to the
// agent. With 2 cores, far more than the agent can answer at once, far fewer
// descriptors than any limit a distribution sets. Each budget has its own
// admission, so that redaction messages the agent does not answer never hold
// up identity messages, nor the other way round.
inline constexpr std::size_t kMaxRelaysInFlight = 256;

class PooledAgentRelayTasks : public AgentRelayTasks {
 public:
  // Tasks run on `pool`, which should be the relay's; `maxInFlight` for each
  // budget. `pool`, `relay` and `logger` must outlive every task.
  PooledAgentRelayTasks(WorkerPool& pool, const AgentRelay& relay, const Logger& logger,
                        std::size_t maxInFlight = kMaxRelaysInFlight)
      : pool_(pool),
        relay_(relay),
        logger_(logger),
        identityAdmission_(pool, maxInFlight),
        redactionAdmission_(pool, maxInFlight) {}

  // Any thread; returns at once. The message's budget counts from its arrival,
  // or from this call when it has none.
  // `finish` runs on a worker thread, by the deadline also when the message
  // waited for its turn, and also when the relay throws: nothing awaits a
  // detached task, so an exception is caught at its edge, logged, and
  // answered with kRelayTaskFailed.
  void startDetached(AgentRelayRequest request, std::function<void(NativeReply)> finish) override;

 private:
  struct Task;
  void failed(const Task& task, const char* what) const;
  RelayAdmission& admissionFor(AgentRelayBudget budget);

  WorkerPool& pool_;
  const AgentRelay& relay_;
  const Logger& logger_;
  RelayAdmission identityAdmission_;
  RelayAdmission redactionAdmission_;
};

}  // namespace ostrela::linux_platform
