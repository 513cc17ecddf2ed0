// The one log line written for every answered native message.
#pragma once

#include <string_view>

#include "core/logger.h"
#include "extension/native_reply.h"

namespace ostrela {

// "<verb> '<label>'< locally>: ok | <error> | failed" at debug level. The
// agent's own error text is private. When debug is off for `logger`, this
// looks at nothing and allocates nothing.
void logOutcome(const Logger& logger, const char* verb, std::string_view typeLabel, bool locally,
                const NativeReply& reply);

}  // namespace ostrela
