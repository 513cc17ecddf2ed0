// Validation and routing of native messages: answered locally, relayed to the
// local agent, or answered at once with an error reply.
#pragma once

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

// Never fails: every fault becomes a ReplyRoute with an error reply. A null
// `message` is an absent one.
NativeRoute route(const AnyValue* message);
inline NativeRoute route(const std::optional<AnyValue>& message) {
  return route(message ? &*message : nullptr);
}

// "id" when it is a string, a boolean or a number JSON can carry (not 1e400),
// unchanged; else absent.
std::optional<AnyValue> messageIdentifier(const AnyMap& message);

// RelayRoute with the encoded message, or a ReplyRoute when it cannot be encoded as JSON.
NativeRoute relayRoute(const AnyMap& message, const std::optional<AnyValue>& id,
                       std::string_view type, AgentRelayBudget budget);

}  // namespace ostrela
