#include "platform/linux/native_messaging/large_frame_decoder.h"

#include <utility>

namespace ostrela::linux_platform {

LargeFrameDecoder::~LargeFrameDecoder() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(queue_->mutex);
    queue_->closing = true;
  }
  queue_->changed.notify_all();
  thread_.join();
}

void LargeFrameDecoder::submit(std::shared_ptr<FrameRequestContext> context, std::string body) {
  {
    std::lock_guard lock(queue_->mutex);
    queue_->frames.emplace_back(std::move(context), std::move(body));
  }
  queue_->changed.notify_all();
  if (!thread_.joinable())
    thread_ = std::thread(run, queue_, std::cref(handler_), std::cref(logger_));
}

void LargeFrameDecoder::abandon() {
  {
    std::lock_guard lock(queue_->mutex);
    queue_->closing = true;
    queue_->frames.clear();
  }
  queue_->changed.notify_all();
  if (thread_.joinable()) thread_.detach();
}

void LargeFrameDecoder::run(const std::shared_ptr<Queue>& queue,
                            const SafariWebExtensionHandler& handler, const Logger& logger) {
  for (;;) {
    std::unique_lock lock(queue->mutex);
    queue->changed.wait(lock, [&] { return queue->closing || !queue->frames.empty(); });
    if (queue->frames.empty()) return;
    auto [context, body] = std::move(queue->frames.front());
    queue->frames.pop_front();
    lock.unlock();
    FrameRequestContext::handleLarge(std::move(context), std::move(body), handler, logger);
  }
}

}  // namespace ostrela::linux_platform
