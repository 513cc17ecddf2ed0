// What the stream loop waits for: room to read more, or the end of the replies.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

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

// Counts the requests not yet answered, and their frames' bytes, and whether
// the browser has stopped reading replies. Thread-safe.
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
  // A reply could not be written: nobody reads them any more.
  void outputFailed() {
    std::lock_guard lock(mutex_);
    outputFailed_ = true;
    changed_.notify_all();
  }
  bool hasOutputFailed() {
    std::lock_guard lock(mutex_);
    return outputFailed_;
  }
  void waitUntilRoomForMoreOrOutputFailed() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] {
      return outputFailed_ || count_ == 0 ||
             (count_ < limits_.requests && bytes_ < limits_.frameBytes);
    });
  }
  // True when it returned because the output has failed, with requests perhaps still pending.
  bool waitUntilNoneOrOutputFailed() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return outputFailed_ || count_ == 0; });
    return outputFailed_;
  }

 private:
  const PendingLimits limits_;
  std::mutex mutex_;
  std::condition_variable changed_;
  long count_ = 0;             // guarded by mutex_
  std::size_t bytes_ = 0;      // guarded by mutex_
  bool outputFailed_ = false;  // guarded by mutex_
};

}  // namespace ostrela::linux_platform
