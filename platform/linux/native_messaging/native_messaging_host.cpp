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

// Counts the requests whose context is still alive, and their frames' bytes,
// so that reading can pause while too many wait and end of input can wait for
// the replies in flight.
class PendingRequests {
 public:
  explicit PendingRequests(PendingLimits limits) : limits_(limits) {}

  void add(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    ++count_;
    bytes_ += bytes;
  }
  void remove(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    --count_;
    bytes_ -= bytes;
    changed_.notify_all();
  }
  void waitUntilRoomForMore() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] {
      return count_ == 0 || (count_ < limits_.requests && bytes_ < limits_.frameBytes);
    });
  }
  void waitUntilNone() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return count_ == 0; });
  }

 private:
  const PendingLimits limits_;
  std::mutex mutex_;
  std::condition_variable changed_;
  long count_ = 0;         // guarded by mutex_
  std::size_t bytes_ = 0;  // guarded by mutex_
};

// One frame's request. The handler completes it once, on any thread. The
// handler reads the message only while it routes it, on the reading thread;
// the message is let go then, as a relayed one lives on as its encoded body.
class FrameRequestContext : public ExtensionContext {
 public:
  FrameRequestContext(std::optional<AnyValue> message, std::size_t frameBytes, ReplyWriter& writer,
                      PendingRequests& pending)
      : writer_(writer), pending_(pending), frameBytes_(frameBytes) {
    AnyMap userInfo;
    if (message) userInfo.set(std::string(SFExtensionMessageKey), std::move(*message));
    items_.push_back(ExtensionItem{std::move(userInfo)});
    pending_.add(frameBytes_);
  }
  ~FrameRequestContext() override { pending_.remove(frameBytes_); }
  FrameRequestContext(const FrameRequestContext&) = delete;
  FrameRequestContext& operator=(const FrameRequestContext&) = delete;

  const std::vector<InputItem>& inputItems() const override { return items_; }
  // On the reading thread, once the handler has routed the message.
  void releaseInput() { std::vector<InputItem>().swap(items_); }

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
  const std::size_t frameBytes_;
};

}  // namespace

int runNativeMessagingHost(int inputFd, int outputFd, const SafariWebExtensionHandler& handler,
                           const Logger& logger, PendingLimits limits) {
  ReplyWriter writer(outputFd, logger);
  PendingRequests pending(limits);
  FrameReader reader(inputFd);
  for (;;) {
    pending.waitUntilRoomForMore();
    FrameReadResult next = reader.next();
    if (std::holds_alternative<EndOfInput>(next)) break;
    std::optional<AnyValue> message;
    std::size_t frameBytes = 0;
    if (auto* frame = std::get_if<Frame>(&next)) {
      message = decodeJson(frame->body);
      frameBytes = frame->body.size();
      std::string().swap(frame->body);
    }
    auto context =
        std::make_shared<FrameRequestContext>(std::move(message), frameBytes, writer, pending);
    handler.beginRequestWithExtensionContext(context);
    context->releaseInput();
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
