#include "extension/native_reply.h"

namespace ostrela {

std::string replyTooLargeText(std::size_t length) {
  return "The reply is too large for the browser (" + std::to_string(length) + " bytes)";
}

NativeReply errorReply(std::string_view text, const std::optional<AnyValue>& id) {
  AnyMap payload{{"ok", false}, {"error", std::string(text)}};
  if (id) payload.set("id", *id);
  return NativeReply{std::move(payload), false};
}

NativeReply managedConfigReply(AnyMap config,
                               const std::vector<std::string>& unrecognizedForcedKeys,
                               bool isDoubleWrappedProfile, const std::optional<AnyValue>& id) {
  AnyMap payload{{"ok", true}, {"config", std::move(config)}};
  if (id) payload.set("id", *id);
  if (!unrecognizedForcedKeys.empty()) {
    AnyArray keys(unrecognizedForcedKeys.begin(), unrecognizedForcedKeys.end());
    payload.set("unrecognizedForcedKeys", std::move(keys));
  }
  if (isDoubleWrappedProfile) payload.set("isDoubleWrappedProfile", true);
  return NativeReply{std::move(payload), false};
}

}  // namespace ostrela
