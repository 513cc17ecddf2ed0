// Large frames are read and routed on a thread of their own, in the order they
// arrived, so that the frames behind one are read and routed meanwhile. Every
// message's budget, a large one's too, counts from when its frame arrived.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/linux/native_messaging/frame_request.h"

namespace ostrela::linux_platform {

// Frames from this size on go to the LargeFrameDecoder. The costliest shapes
// decode at 9 to 17 ms a MiB (1 MiB frames, docs/benchmarks.md), so a frame
// just below it holds up the frames behind it for a few milliseconds.
inline constexpr std::size_t kLargeFrameBytes = 256 * 1024;

class LargeFrameDecoder {
 public:
  // `handler` and `logger` must outlive it, or, after abandon(), the process.
  LargeFrameDecoder(const SafariWebExtensionHandler& handler, const Logger& logger)
      : handler_(handler), logger_(logger) {}
  // Joins the thread once every frame submitted has been handled.
  ~LargeFrameDecoder();
  LargeFrameDecoder(const LargeFrameDecoder&) = delete;
  LargeFrameDecoder& operator=(const LargeFrameDecoder&) = delete;

  // From the reading thread; the thread starts with the first frame.
  void submit(std::shared_ptr<FrameRequestContext> context, std::string body);
  // For a process about to exit: frames not yet begun are dropped, and the
  // thread is left to finish the one in hand on its own.
  void abandon();

 private:
  struct Queue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<std::shared_ptr<FrameRequestContext>, std::string>> frames;
    bool closing = false;  // guarded by mutex: no more frames come
  };
  static void run(const std::shared_ptr<Queue>& queue, const SafariWebExtensionHandler& handler,
                  const Logger& logger);

  const SafariWebExtensionHandler& handler_;
  const Logger& logger_;
  // Shared with the thread, which may outlive this object after abandon().
  const std::shared_ptr<Queue> queue_ = std::make_shared<Queue>();
  std::thread thread_;
};

}  // namespace ostrela::linux_platform
