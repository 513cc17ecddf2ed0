#include "platform/linux/native_messaging/native_messaging_host.h"

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include "core/json.h"
#include "extension/native_reply.h"
#include "platform/linux/native_messaging/frame_reader.h"
#include "platform/linux/native_messaging/reply_writer.h"

namespace ostrela::linux_platform {
namespace {

// Counts the requests whose context is still alive, so that end of input can
// wait for the replies in flight.
class PendingRequests {
 public:
  void add() {
    std::lock_guard lock(mutex_);
    ++count_;
  }
  void remove() {
    std::lock_guard lock(mutex_);
    if (--count_ == 0) drained_.notify_all();
  }
  void waitUntilNone() {
    std::unique_lock lock(mutex_);
    drained_.wait(lock, [this] { return count_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable drained_;
  long count_ = 0;  // guarded by mutex_
};

// One frame's request. The handler completes it once, on any thread.
class FrameRequestContext : public ExtensionContext {
 public:
  FrameRequestContext(std::optional<AnyValue> message, ReplyWriter& writer,
                      PendingRequests& pending)
      : writer_(writer), pending_(pending) {
    AnyMap userInfo;
    if (message) userInfo.set(std::string(SFExtensionMessageKey), std::move(*message));
    items_.push_back(ExtensionItem{std::move(userInfo)});
    pending_.add();
  }
  ~FrameRequestContext() override { pending_.remove(); }
  FrameRequestContext(const FrameRequestContext&) = delete;
  FrameRequestContext& operator=(const FrameRequestContext&) = delete;

  const std::vector<InputItem>& inputItems() const override { return items_; }

  void completeRequestReturningItems(std::vector<ExtensionItem> items) override {
    const AnyValue* reply = nullptr;
    if (!items.empty() && items.front().userInfo) {
      reply = items.front().userInfo->find(SFExtensionMessageKey);
    }
    if (reply != nullptr && reply->isMap()) {
      writer_.write(*reply->asMap());
    } else {
      writer_.write(errorReply(kUnencodableReplyText, std::nullopt).payload);
    }
  }

 private:
  std::vector<InputItem> items_;
  ReplyWriter& writer_;
  PendingRequests& pending_;
};

}  // namespace

int runNativeMessagingHost(int inputFd, int outputFd, const SafariWebExtensionHandler& handler,
                           const Logger& logger) {
  ReplyWriter writer(outputFd, logger);
  PendingRequests pending;
  FrameReader reader(inputFd);
  for (;;) {
    FrameReadResult next = reader.next();
    if (std::holds_alternative<EndOfInput>(next)) break;
    std::optional<AnyValue> message;
    if (auto* frame = std::get_if<Frame>(&next)) message = decodeJson(frame->body);
    handler.beginRequestWithExtensionContext(
        std::make_shared<FrameRequestContext>(std::move(message), writer, pending));
    if (auto* oversized = std::get_if<OversizedFrame>(&next)) {
      logger.log(LogLevel::error,
                 "Stopped reading: a frame announced %{public}ld bytes, more than a browser sends",
                 {static_cast<std::int64_t>(oversized->length)});
      break;
    }
  }
  pending.waitUntilNone();
  return 0;
}

int takeProtocolOutput() {
  const int protocol = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (protocol < 0) return STDOUT_FILENO;
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
  return protocol;
}

}  // namespace ostrela::linux_platform
