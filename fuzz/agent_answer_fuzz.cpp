// Any bytes as the agent's answer, through the reader and the judge: an
// answer is accepted, with the same status and body, or refused, whether the
// bytes come whole, split at the point the first two input bytes choose, or
// one byte at a time; the reply made from it is an object with a boolean
// "ok" and the request's id, and one of ours has a string "error".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/json.h"
#include "tests/support/answer_in_pieces.h"

using namespace ostrela;
using ostrela::testing::readAnswerInPieces;

namespace {

// An answer is what it is whatever its segmentation: the same status and
// body, or too large. A broken one is refused in every segmentation, though
// which fault is seen first (a bad field, or the end of the connection
// before the head was whole) may depend on where the bytes stopped coming.
std::string key(const HttpOutcome& outcome) {
  if (const auto* response = std::get_if<HttpResponse>(&outcome)) {
    return std::to_string(response->status) + ":" + response->body;
  }
  if (std::holds_alternative<OversizedAnswer>(outcome)) return "oversized";
  return "refused";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t cut = data[0] | (static_cast<std::size_t>(data[1]) << 8);
  const std::string_view answer(reinterpret_cast<const char*>(data) + 2, size - 2);

  const HttpOutcome whole = readAnswerInPieces(answer, answer.size(), answer.size()).outcome;
  if (key(readAnswerInPieces(answer, cut, answer.size()).outcome) != key(whole)) std::abort();
  if (answer.size() <= 4096 && key(readAnswerInPieces(answer, 1, 1).outcome) != key(whole))
    std::abort();

  const AgentRelayRequest request{AnyValue(7), AgentRelayBudget::identity, "{}", std::nullopt};
  const NativeReply reply = judgeAgentOutcome(whole, AgentUrl(), request);
  const AnyValue* ok = reply.payload.find("ok");
  if (ok == nullptr || !ok->isBool()) std::abort();
  if (const AnyValue* id = reply.payload.find("id"); id == nullptr || *id != AnyValue(7)) {
    std::abort();
  }
  const AnyValue* error = reply.payload.find("error");
  // The agent's own reply is passed on as it is; every reply of ours says why it failed.
  if (!reply.fromAgent && (*ok != AnyValue(false) || error == nullptr || !error->isString())) {
    std::abort();
  }
  if (!encodeJson(reply.payload)) std::abort();
  return 0;
}
