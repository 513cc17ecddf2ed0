// Validation and routing of native messages: answered locally, relayed to the
// local agent, or answered at once with an error reply.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/any_value.h"
#include "extension/native_reply.h"
#include "shared/bundle_identifiers.h"

namespace ostrela {

// Chooses the session, and so the time budget, of an agent exchange.
enum class AgentRelayBudget { identity, redaction };

struct AgentRelayRequest {
  // The message's id as messageIdentifier took it; goes into every reply.
  std::optional<AnyValue> id;
  AgentRelayBudget budget = AgentRelayBudget::identity;
  // The whole message as compact JSON, every member included.
  std::string body;
  // When the message's frame arrived, when the runtime knows: the budget counts
  // from it, else from when the relay takes the message.
  std::optional<std::chrono::steady_clock::time_point> arrival;
};

struct RelayRoute {
  AgentRelayRequest request;
};
struct ManagedConfigRoute {
  std::optional<AnyValue> id;
};
struct ReplyRoute {
  NativeReply reply;
};

using NativeRoute = std::variant<RelayRoute, ManagedConfigRoute, ReplyRoute>;

// A message as compact JSON for the agent, or nothing when JSON cannot carry it.
using MessageEncoder = std::function<std::optional<std::string>(const AnyMap&)>;

// Never fails: every fault becomes a ReplyRoute with an error reply. A null
// `message` is an absent one. A relayed message is written by `encode`, which
// the first overload takes to be encodeJson.
NativeRoute route(const AnyValue* message);
NativeRoute route(const AnyValue* message, const MessageEncoder& encode);
inline NativeRoute route(const std::optional<AnyValue>& message) {
  return route(message ? &*message : nullptr);
}

// "id" when it is a string, a boolean or a number JSON can carry (not 1e400),
// unchanged; else absent.
std::optional<AnyValue> messageIdentifier(const AnyMap& message);

// RelayRoute with the message as `encode` writes it, or a ReplyRoute when it cannot.
NativeRoute relayRoute(const AnyMap& message, const std::optional<AnyValue>& id,
                       std::string_view type, AgentRelayBudget budget,
                       const MessageEncoder& encode);

}  // namespace ostrela
