// Any bytes as a native message: whatever decodeJson accepts encodes and decodes
// back to the same value; route always returns one of its three routes, an
// error reply is a well-formed reply, and a relayed body holds the whole message.
// A large frame, read in one pass without its value, routes exactly alike.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/json.h"
#include "core/json_one_pass.h"
#include "extension/native_route.h"

using namespace ostrela;

namespace {

void expectOnePassRoutesAlike(std::string_view text, const NativeRoute& expected) {
  std::optional<AnyValue> outline;
  if (auto heads = outlineJsonObject(text)) outline.emplace(std::move(*heads));
  const NativeRoute next =
      route(outline ? &*outline : nullptr, [text](const AnyMap&) { return reencodeJson(text); });
  if (next.index() != expected.index()) std::abort();
  if (const auto* reply = std::get_if<ReplyRoute>(&next)) {
    if (!(reply->reply.payload == std::get<ReplyRoute>(expected).reply.payload)) std::abort();
  } else if (const auto* relay = std::get_if<RelayRoute>(&next)) {
    const AgentRelayRequest& other = std::get<RelayRoute>(expected).request;
    if (relay->request.body != other.body || relay->request.id != other.id ||
        relay->request.budget != other.budget) {
      std::abort();
    }
  } else if (std::get<ManagedConfigRoute>(next).id != std::get<ManagedConfigRoute>(expected).id) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto message = decodeJson(text);
  // Only an overflowing number (decoded as infinity) cannot be written back.
  const auto encoded = message ? encodeJson(*message) : std::nullopt;
  if (encoded) {
    const auto again = decodeJson(*encoded);
    if (!again || !(*again == *message) || encodeJson(*again) != encoded) std::abort();
  }
  if (reencodeJson(text) != encoded) std::abort();
  const NativeRoute next = route(message);
  expectOnePassRoutesAlike(text, next);
  if (const auto* reply = std::get_if<ReplyRoute>(&next)) {
    const AnyValue* ok = reply->reply.payload.find("ok");
    const AnyValue* error = reply->reply.payload.find("error");
    if (!ok || *ok != AnyValue(false) || !error || !error->isString() || reply->reply.fromAgent) {
      std::abort();
    }
    if (const AnyValue* id = reply->reply.payload.find("id");
        id && !id->isString() && !id->isNumber() && !id->isBool()) {
      std::abort();
    }
  } else if (const auto* relay = std::get_if<RelayRoute>(&next)) {
    if (decodeJson(relay->request.body) != message) std::abort();
  } else if (!message || !message->isMap()) {
    std::abort();
  }
  return 0;
}
