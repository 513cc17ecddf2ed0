#include "extension/native_route.h"

#include <cmath>

#include "core/json.h"

namespace ostrela {
namespace {

ReplyRoute fail(std::string text, const std::optional<AnyValue>& id) {
  return ReplyRoute{errorReply(text, id)};
}

std::string unsupported(std::string_view type, std::string_view host) {
  return "Unsupported '" + std::string(type) + "' request for " + std::string(host);
}

}  // namespace

std::optional<AnyValue> messageIdentifier(const AnyMap& message) {
  const AnyValue* id = message.find("id");
  if (id == nullptr) return std::nullopt;
  if (id->isString() || id->isBool()) return *id;
  // A number that overflowed a double (1e400) cannot be written back as JSON.
  if (const Number* number = id->asNumber()) {
    if (std::isfinite(number->toDouble())) return *id;
  }
  return std::nullopt;
}

NativeRoute relayRoute(const AnyMap& message, const std::optional<AnyValue>& id,
                       std::string_view type, AgentRelayBudget budget,
                       const MessageEncoder& encode) {
  std::optional<std::string> body = encode(message);
  if (!body) {
    return fail("Malformed '" + std::string(type) + "' request: not serializable as JSON", id);
  }
  return RelayRoute{AgentRelayRequest{id, budget, std::move(*body), std::nullopt}};
}

NativeRoute route(const AnyValue* message) {
  return route(message, [](const AnyMap& object) { return encodeJson(object); });
}

NativeRoute route(const AnyValue* message, const MessageEncoder& encode) {
  const AnyMap* object = message != nullptr ? message->asMap() : nullptr;
  if (object == nullptr) {
    return fail("Malformed native message: expected a JSON object", std::nullopt);
  }
  const std::optional<AnyValue> id = messageIdentifier(*object);

  const AnyValue* typeValue = object->find("type");
  const std::string* type = typeValue ? typeValue->asString() : nullptr;
  if (type == nullptr || type->empty()) {
    return fail("Malformed native message: missing 'type'", id);
  }

  const AnyValue* hostValue = object->find("host");
  if (const std::string* host = hostValue ? hostValue->asString() : nullptr) {
    if (*host == kIdentityHost) {
      if (*type == "getLdap" || *type == "getToken") {
        return relayRoute(*object, id, *type, AgentRelayBudget::identity, encode);
      }
      return fail(unsupported(*type, kIdentityHost), id);
    }
    if (*host == kRedactionHost) {
      if (*type == "scrub") {
        return relayRoute(*object, id, *type, AgentRelayBudget::redaction, encode);
      }
      return fail(unsupported(*type, kRedactionHost), id);
    }
    return fail("Unknown native-messaging host '" + *host + "'", id);
  }

  if (*type == "getManagedConfig") return ManagedConfigRoute{id};
  return fail("Unknown native message type '" + *type + "'", id);
}

}  // namespace ostrela
