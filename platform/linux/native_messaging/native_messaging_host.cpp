#include "platform/linux/native_messaging/native_messaging_host.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <memory>

#include "platform/linux/native_messaging/frame_reader.h"
#include "platform/linux/native_messaging/frame_request.h"
#include "platform/linux/native_messaging/large_frame_decoder.h"
#include "platform/linux/native_messaging/reply_writer.h"

namespace ostrela::linux_platform {
namespace {

// True when nobody reads `fd` any more: a pipe whose reading end is closed, a
// socket shut down. Seen without writing, so before any reply fails.
bool hasReaderGone(int fd) {
  pollfd output{fd, 0, 0};
  return ::poll(&output, 1, 0) == 1 && (output.revents & (POLLERR | POLLHUP)) != 0;
}

}  // namespace

int runNativeMessagingHost(int inputFd, int outputFd, const SafariWebExtensionHandler& handler,
                           const Logger& logger, PendingLimits limits) {
  // Shared with every request, which may outlive this call when the browser has gone.
  const auto writer = std::make_shared<ReplyWriter>(outputFd, logger);
  const auto pending = std::make_shared<PendingRequests>(limits);
  LargeFrameDecoder largeFrames(handler, logger);
  FrameReader reader(inputFd);
  for (;;) {
    pending->waitUntilRoomForMoreOrOutputFailed();
    if (pending->hasOutputFailed()) break;  // no reply could reach the browser
    FrameReadResult next = reader.next();
    if (std::holds_alternative<EndOfInput>(next)) break;
    auto* frame = std::get_if<Frame>(&next);
    std::string body = frame != nullptr ? std::move(frame->body) : std::string();
    auto context = std::make_shared<FrameRequestContext>(body.size(), writer, pending);
    if (body.size() >= kLargeFrameBytes) {
      largeFrames.submit(std::move(context), std::move(body));
    } else {
      FrameRequestContext::handle(std::move(context), std::move(body), handler, logger);
    }
    if (auto* oversized = std::get_if<OversizedFrame>(&next)) {
      logger.log(LogLevel::error,
                 "Stopped reading: a frame announced %{public}ld bytes, more than a browser sends",
                 {static_cast<std::int64_t>(oversized->length)});
      break;
    }
  }
  if (hasReaderGone(outputFd)) pending->outputFailed();
  if (pending->waitUntilNoneOrOutputFailed()) largeFrames.abandon();
  return 0;
}

int takeProtocolOutput() {
  const int protocol = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (protocol < 0) return STDOUT_FILENO;
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
  return protocol;
}

}  // namespace ostrela::linux_platform
