// The extension runtime on Linux: a browser's native-messaging host on stdio.
// Each inbound frame becomes one request context for the handler; each
// completion writes one reply frame.
#pragma once

#include <cstddef>

#include "core/logger.h"
#include "extension/safari_web_extension_handler.h"

namespace ostrela::linux_platform {

// How much may wait for its reply before reading pauses: beyond it the
// browser's frames wait in the pipe (and its writes block) until replies have
// gone out, so memory stays bounded whatever it sends, and nothing is dropped.
// A small relayed message costs about a kilobyte while it waits; a burst of
// the default count is read at once, so each message's deadline counts from
// when the browser sent it. One frame of any size is always taken.
struct PendingLimits {
  long requests = 16384;
  std::size_t frameBytes = 128 * 1024 * 1024;
};

// Reads requests from `inputFd` on the calling thread until end of input (or
// an oversized frame), then waits for the replies still in flight (relays
// finish within their budgets) and returns the exit status, 0.
int runNativeMessagingHost(int inputFd, int outputFd, const SafariWebExtensionHandler& handler,
                           const Logger& logger, PendingLimits limits = {});

// Keeps stdout for the protocol alone: returns a private descriptor for the
// frames and points descriptor 1 at stderr, so that a stray write from any
// library cannot corrupt the stream.
int takeProtocolOutput();

}  // namespace ostrela::linux_platform
