#include "platform/linux/native_messaging/frame_request.h"

#include <cstdint>
#include <new>

#include "core/json.h"
#include "extension/native_reply.h"

namespace ostrela::linux_platform {

std::string outOfMemoryText(std::size_t frameBytes) {
  return "Not enough memory for a native message of " + std::to_string(frameBytes) + " bytes";
}

FrameRequestContext::FrameRequestContext(std::size_t frameBytes,
                                         std::shared_ptr<ReplyWriter> writer,
                                         std::shared_ptr<PendingRequests> pending)
    : writer_(std::move(writer)), pending_(std::move(pending)), frameBytes_(frameBytes) {
  pending_->add(frameBytes_);
}

FrameRequestContext::~FrameRequestContext() {
  pending_->remove(frameBytes_);
}

void FrameRequestContext::completeRequestReturningItems(std::vector<ExtensionItem> items) {
  const AnyValue* reply = nullptr;
  if (!items.empty() && items.front().userInfo) {
    reply = items.front().userInfo->find(SFExtensionMessageKey);
  }
  if (reply != nullptr && reply->isMap()) {
    write(*reply->asMap());
  } else {
    write(errorReply(kUnencodableReplyText, std::nullopt).payload);
  }
}

void FrameRequestContext::write(const AnyMap& reply) {
  if (completed_.exchange(true)) return;
  if (!writer_->write(reply)) pending_->outputFailed();
}

void FrameRequestContext::handle(std::shared_ptr<FrameRequestContext> context, std::string body,
                                 const SafariWebExtensionHandler& handler, const Logger& logger) {
  const std::size_t bytes = body.size();
  try {
    std::optional<AnyValue> message = decodeJson(body);
    std::string().swap(body);
    AnyMap userInfo;
    if (message) userInfo.set(std::string(SFExtensionMessageKey), std::move(*message));
    context->items_.push_back(ExtensionItem{std::move(userInfo)});
    handler.beginRequestWithExtensionContext(context);
    std::vector<InputItem>().swap(context->items_);
  } catch (const std::bad_alloc&) {
    // What the frame had built is freed by now; the stream goes on.
    std::string().swap(body);
    std::vector<InputItem>().swap(context->items_);
    logger.log(LogLevel::error, "Not enough memory for a native message of %{public}ld bytes",
               {static_cast<std::int64_t>(bytes)});
    context->write(errorReply(outOfMemoryText(bytes), std::nullopt).payload);
  }
}

}  // namespace ostrela::linux_platform
