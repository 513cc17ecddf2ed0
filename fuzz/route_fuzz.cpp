// route accepts any JSON value: it always returns one of its three routes, an
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
  const NativeRoute next = route(message);
  if (const auto* reply = std::get_if<ReplyRoute>(&next)) {
    const AnyValue* ok = reply->reply.payload.find("ok");
    const AnyValue* error = reply->reply.payload.find("error");
    if (!ok || *ok != AnyValue(false) || !error || !error->isString() || reply->reply.fromAgent) {
      std::abort();
    }
    if (const AnyValue* id = reply->reply.payload.find("id");
        id && !id->isString() && !id->isNumberOrBool()) {
      std::abort();
    }
  } else if (const auto* relay = std::get_if<RelayRoute>(&next)) {
    if (decodeJson(relay->request.body) != message) std::abort();
    if (relay->request.path != kAgentMessagePath) std::abort();
  } else if (!message || !message->isMap()) {
    std::abort();
  }
  return 0;
}
