// The one log line written for every answered native message.
#pragma once

#include <string_view>

#include "core/logger.h"
#include "extension/native_reply.h"

namespace ostrela {

enum class Handling { answeredLocally, relayed };

// "Answered '<label>' locally: …" or "Relayed '<label>': …", then "ok", the
// error text or "failed", at debug level. The agent's own error text is
// private. When debug is off for `logger`, this looks at nothing and allocates nothing.
void logOutcome(const Logger& logger, Handling handling, std::string_view typeLabel,
                const NativeReply& reply);

}  // namespace ostrela
