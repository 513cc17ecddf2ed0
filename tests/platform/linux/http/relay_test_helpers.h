// What the relay's loopback tests share: a relay over temporary preference
// folders, requests as the dispatcher builds them, and a blocking send.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "extension/native_route.h"
#include "platform/linux/http/agent_relay.h"
#include "platform/linux/http/worker_pool.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/temporary_directory.h"

namespace ostrela::testing {

// The request the dispatcher builds for `type` with a string id.
AgentRelayRequest relayRequest(std::string type, std::optional<AnyValue> id);

// Runs relay.send(request) as a detached task on `pool`, as the relay tasks
// do, and waits for the reply.
NativeReply sendAndWait(linux_platform::WorkerPool& pool, const linux_platform::AgentRelay& relay,
                        AgentRelayRequest request);

// The error text of a reply, or "<none>".
std::string errorText(const NativeReply& reply);

// Preference folders and a worker pool of its own, and relays for a port on
// that pool that read their secret there. Relays must be gone before it is.
class RelayPreferences {
 public:
  RelayPreferences();

  linux_platform::WorkerPool& pool() const { return *pool_; }
  std::shared_ptr<const PreferenceStores> stores() const { return stores_; }
  // Writes `agentRelaySecret` into the App Group suite; nothing removes it.
  void writeSecret(const AnyValue& secret) const;

  // Standard budgets, or both sessions with `budget` seconds.
  std::unique_ptr<linux_platform::AgentRelay> relayFor(std::uint16_t port,
                                                       std::optional<double> budget = {}) const;

 private:
  std::unique_ptr<linux_platform::WorkerPool> pool_;
  TemporaryDirectory folder_;
  std::shared_ptr<linux_platform::FilePreferenceStores> stores_;
};

// Milliseconds since `start`.
double millisecondsSince(std::chrono::steady_clock::time_point start);

// A port on 127.0.0.1 where nothing listens (taken, then let go).
std::uint16_t unusedPort();

}  // namespace ostrela::testing
