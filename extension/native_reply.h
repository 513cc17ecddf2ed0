// The reply every native message gets, and the two builders the extension uses.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/any_value.h"

namespace ostrela {

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
