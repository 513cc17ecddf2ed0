// The extension runtime on Linux: a browser's native-messaging host on stdio.
// Each inbound frame becomes one request context for the handler; each
// completion writes one reply frame.
#pragma once

#include "core/logger.h"
#include "extension/safari_web_extension_handler.h"
#include "platform/linux/native_messaging/pending_requests.h"

namespace ostrela::linux_platform {

// Reads requests from `inputFd` on the calling thread until end of input (or
// an oversized frame), then waits for the replies still in flight (relays
// finish within their budgets) and returns the exit status, 0. When the browser
// has also stopped reading replies (`outputFd` has failed), nothing more is read
// or waited for: it returns at once, and the caller should exit, which ends
// the relays in flight. Until then `handler` and `logger` are used from other
// threads too.
int runNativeMessagingHost(int inputFd, int outputFd, const SafariWebExtensionHandler& handler,
                           const Logger& logger, PendingLimits limits = {});

// Keeps stdout for the protocol alone: returns a private descriptor for the
// frames and points descriptor 1 at stderr, so that a stray write from any
// library cannot corrupt the stream.
int takeProtocolOutput();

}  // namespace ostrela::linux_platform
