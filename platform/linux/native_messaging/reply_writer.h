// Writes replies as native-messaging frames, whole and one at a time, from any thread.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

#include "core/any_value.h"
#include "core/logger.h"

namespace ostrela::linux_platform {

// Browsers refuse a larger reply and close the port, losing every pending reply.
inline constexpr std::size_t kMaxReplyLength = 1024 * 1024;

// The frame body for `reply`: its JSON, or, when that is larger than
// kMaxReplyLength, an error reply that says so (with the reply's "id" when it
// still fits). `replacedLength` is set to the refused size when replaced.
std::string replyFrameBody(const AnyMap& reply, std::size_t& replacedLength);

class ReplyWriter {
 public:
  ReplyWriter(int fd, const Logger& logger) : fd_(fd), logger_(logger) {}

  // Thread-safe. After the reader of the stream has gone (EPIPE), replies are dropped.
  void write(const AnyMap& reply);
  bool closed() const;

 private:
  bool writeFrame(const std::string& body);

  const int fd_;
  const Logger& logger_;
  mutable std::mutex mutex_;
  bool closed_ = false;  // guarded by mutex_
};

}  // namespace ostrela::linux_platform
