// The reply every native message gets, and the two builders the extension uses.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/any_value.h"

namespace ostrela {

// Browsers refuse a larger reply and close the port, losing every pending reply.
inline constexpr std::size_t kMaxReplyLength = 1024 * 1024;

// "The reply is too large for the browser (<length> bytes)".
std::string replyTooLargeText(std::size_t length);

struct NativeReply {
  // The reply dictionary sent to the web extension.
  AnyMap payload;
  // True only for the agent's own reply; decides whether its "error" is logged as private.
  bool fromAgent = false;
};

// {"ok": false, "error": text, "id": id when present}.
NativeReply errorReply(std::string_view text, const std::optional<AnyValue>& id);

// {"ok": true, "config": ..., "id"?, "unrecognizedForcedKeys"? (only when not
// empty), "isDoubleWrappedProfile"? (only when true)}.
NativeReply managedConfigReply(AnyMap config,
                               const std::vector<std::string>& unrecognizedForcedKeys,
                               bool isDoubleWrappedProfile, const std::optional<AnyValue>& id);

}  // namespace ostrela
