// How the handler carries out a relayed message without knowing the network:
// a detached task on the process's worker pool awaits the agent relay's
// reply, then calls `finish` with it on that pool.
#pragma once

#include <functional>

#include "extension/native_reply.h"
#include "extension/native_route.h"

namespace ostrela {

class AgentRelayTasks {
 public:
  virtual ~AgentRelayTasks() = default;
  // Returns at once; `finish` runs later, exactly once, on a worker thread.
  virtual void startDetached(AgentRelayRequest request,
                             std::function<void(NativeReply)> finish) = 0;
};

}  // namespace ostrela
