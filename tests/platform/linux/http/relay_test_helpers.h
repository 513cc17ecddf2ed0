// What the relay's loopback tests share: a relay over temporary preference
// folders, requests as the dispatcher builds them, and a blocking send.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "extension/native_route.h"
#include "platform/linux/http/agent_relay.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/temporary_directory.h"

namespace ostrela::testing {

// The request the dispatcher builds for `type` with a string id.
AgentRelayRequest relayRequest(std::string type, std::optional<AnyValue> id);

// Runs relay.send(request) as a detached task on the worker pool, as the
// extension entry does, and waits for the reply.
NativeReply sendAndWait(const linux_platform::AgentRelay& relay, AgentRelayRequest request);

// The error text of a reply, or "<none>".
std::string errorText(const NativeReply& reply);

// Preference folders of its own, and relays for a port that read their secret there.
class RelayPreferences {
 public:
  RelayPreferences();

  std::shared_ptr<const PreferenceStores> stores() const { return stores_; }
  // Writes `agentRelaySecret` into the App Group suite; nothing removes it.
  void writeSecret(const AnyValue& secret) const;

  // Standard budgets, or both sessions with `budget` seconds.
  std::unique_ptr<linux_platform::AgentRelay> relayFor(std::uint16_t port,
                                                       std::optional<double> budget = {}) const;

 private:
  TemporaryDirectory folder_;
  std::shared_ptr<linux_platform::FilePreferenceStores> stores_;
};

// Milliseconds since `start`.
double millisecondsSince(std::chrono::steady_clock::time_point start);

// A port on 127.0.0.1 where nothing listens (taken, then let go).
std::uint16_t unusedPort();

}  // namespace ostrela::testing
