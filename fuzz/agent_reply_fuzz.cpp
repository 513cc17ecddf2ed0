// parseAgentReply on any body, with and without an id: it never crashes, an
// accepted reply is the agent's object with a boolean "ok" (and the request's
// id when it has one), and anything else is one of the two reply errors.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/json.h"
#include "extension/relay/agent_exchange.h"

using namespace ostrela;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the request's id: none, a string, a number.
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  AgentRelayRequest request{std::nullopt, AgentRelayBudget::identity, "{}", std::nullopt};
  if (data[0] % 3 == 1) request.id = AnyValue("abc");
  if (data[0] % 3 == 2) request.id = AnyValue(7);

  const NativeReply reply = parseAgentReply(body, request);
  const AnyValue* ok = reply.payload.find("ok");
  if (ok == nullptr || !ok->isBool()) std::abort();
  if (reply.fromAgent) {
    const auto parsed = decodeJson(body);
    if (!parsed || !parsed->isMap()) std::abort();
    if (request.id && reply.payload.find("id") == nullptr) std::abort();
    if (request.id && *reply.payload.find("id") != *request.id) std::abort();
    if (reply.payload.size() < parsed->asMap()->size()) std::abort();
  } else {
    const AnyValue* error = reply.payload.find("error");
    if (*ok != AnyValue(false) || error == nullptr) std::abort();
    if (*error != AnyValue("The Ostrela agent returned a malformed reply") &&
        *error != AnyValue("The Ostrela agent reply is missing 'ok'")) {
      std::abort();
    }
    if (request.id.has_value() != reply.payload.contains("id")) std::abort();
  }
  return 0;
}
