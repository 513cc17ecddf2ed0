// Any bytes as a native message: whatever decodeJson accepts encodes and decodes
// back to the same value; route always returns one of its three routes, an
// error reply is a well-formed reply, and a relayed body holds the whole message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/json.h"
#include "extension/native_route.h"

using namespace ostrela;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto message = decodeJson(std::string_view(reinterpret_cast<const char*>(data), size));
  // Only an overflowing number (decoded as infinity) cannot be written back.
  if (const auto encoded = message ? encodeJson(*message) : std::nullopt) {
    const auto again = decodeJson(*encoded);
    if (!again || !(*again == *message) || encodeJson(*again) != encoded) std::abort();
  }
  const NativeRoute next = route(message);
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
