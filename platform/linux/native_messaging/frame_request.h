// One inbound frame as a request for the handler, and its answer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/logger.h"
#include "extension/safari_web_extension_handler.h"
#include "platform/linux/native_messaging/pending_requests.h"
#include "platform/linux/native_messaging/reply_writer.h"

namespace ostrela::linux_platform {

// The reply to a frame that could not be decoded or routed for want of memory.
std::string outOfMemoryText(std::size_t frameBytes);

// One frame's request, counted in `pending` from its making, when the frame has
// arrived, to its end. It is completed once, on any thread; a second completion
// is ignored. The message is read only while the handler routes it, and let go
// then: a relayed one lives on as its encoded body.
class FrameRequestContext : public ExtensionContext {
 public:
  FrameRequestContext(std::size_t frameBytes, std::shared_ptr<ReplyWriter> writer,
                      std::shared_ptr<PendingRequests> pending);
  ~FrameRequestContext() override;
  FrameRequestContext(const FrameRequestContext&) = delete;
  FrameRequestContext& operator=(const FrameRequestContext&) = delete;

  const std::vector<InputItem>& inputItems() const override { return items_; }
  void completeRequestReturningItems(std::vector<ExtensionItem> items) override;
  std::optional<std::chrono::steady_clock::time_point> arrival() const override { return arrival_; }
  std::optional<std::string> encodeMessage(const AnyMap& message) const override;

  // Decodes `body` (empty: no message), hands the request to `handler` and lets
  // the message go, on the calling thread. Out of memory while decoding or
  // routing, the frame is answered with outOfMemoryText and an error line.
  static void handle(std::shared_ptr<FrameRequestContext> context, std::string body,
                     const SafariWebExtensionHandler& handler, const Logger& logger);
  // The same for a large frame, which is never decoded into a value: the
  // handler gets the members routing reads, and a relayed message is written
  // again from the frame's text. It costs the frame and the relayed body, not
  // the many times the frame's size that its values would take.
  static void handleLarge(std::shared_ptr<FrameRequestContext> context, std::string body,
                          const SafariWebExtensionHandler& handler, const Logger& logger);

 private:
  void write(const AnyMap& reply);
  static void route(std::shared_ptr<FrameRequestContext> context, std::string body, bool onePass,
                    const SafariWebExtensionHandler& handler, const Logger& logger);

  std::vector<InputItem> items_;
  std::string text_;  // a large frame's text, while the handler routes it
  const std::chrono::steady_clock::time_point arrival_ = std::chrono::steady_clock::now();
  const std::shared_ptr<ReplyWriter> writer_;
  const std::shared_ptr<PendingRequests> pending_;
  const std::size_t frameBytes_;
  std::atomic<bool> completed_{false};
};

}  // namespace ostrela::linux_platform
