#include "platform/linux/native_messaging/frame_request.h"

#include <cstdint>
#include <new>

#include "core/json.h"
#include "core/json_one_pass.h"
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

std::optional<std::string> FrameRequestContext::encodeMessage(const AnyMap& message) const {
  return text_.empty() ? ExtensionContext::encodeMessage(message) : reencodeJson(text_);
}

void FrameRequestContext::handle(std::shared_ptr<FrameRequestContext> context, std::string body,
                                 const SafariWebExtensionHandler& handler, const Logger& logger) {
  route(std::move(context), std::move(body), false, handler, logger);
}

void FrameRequestContext::handleLarge(std::shared_ptr<FrameRequestContext> context,
                                      std::string body, const SafariWebExtensionHandler& handler,
                                      const Logger& logger) {
  route(std::move(context), std::move(body), true, handler, logger);
}

void FrameRequestContext::route(std::shared_ptr<FrameRequestContext> context, std::string body,
                                bool onePass, const SafariWebExtensionHandler& handler,
                                const Logger& logger) {
  const std::size_t bytes = body.size();
  try {
    std::optional<AnyValue> message;
    if (onePass) {
      if (std::optional<AnyMap> heads = outlineJsonObject(body)) message.emplace(std::move(*heads));
      context->text_ = std::move(body);
    } else {
      message = decodeJson(body);
    }
    std::string().swap(body);
    AnyMap userInfo;
    if (message) userInfo.set(std::string(SFExtensionMessageKey), std::move(*message));
    context->items_.push_back(ExtensionItem{std::move(userInfo)});
    handler.beginRequestWithExtensionContext(context);
    std::vector<InputItem>().swap(context->items_);
    std::string().swap(context->text_);
  } catch (const std::bad_alloc&) {
    // What the frame had built is freed by now; the stream goes on.
    std::string().swap(body);
    std::vector<InputItem>().swap(context->items_);
    std::string().swap(context->text_);
    logger.log(LogLevel::error, "Not enough memory for a native message of %{public}ld bytes",
               {static_cast<std::int64_t>(bytes)});
    context->write(errorReply(outOfMemoryText(bytes), std::nullopt).payload);
  }
}

}  // namespace ostrela::linux_platform
