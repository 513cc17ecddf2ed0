// Writes replies as native-messaging frames, whole and one at a time, from any thread.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "core/any_value.h"
#include "core/logger.h"
#include "extension/native_reply.h"

namespace ostrela::linux_platform {

inline constexpr std::string_view kUnencodableReplyText = "The reply could not be encoded as JSON";
// Sent when nothing else can be: kUnencodableReplyText as an error reply that is always valid JSON.
inline constexpr std::string_view kUnencodableReply =
    R"({"ok":false,"error":"The reply could not be encoded as JSON"})";

struct ReplyFrameBody {
  std::string body;
  // Size of the refused reply when it was too large for the browser, else 0.
  std::size_t refusedLength = 0;
  // True when the reply held something JSON cannot carry and was replaced.
  bool unencodable = false;
};

// The frame body for `reply`: its JSON, or, when that is larger than
// kMaxReplyLength, an error reply that says so (with the reply's "id" when it
// still fits), or kUnencodableReply (with the "id" when it can be encoded).
ReplyFrameBody replyFrameBody(const AnyMap& reply);

class ReplyWriter {
 public:
  ReplyWriter(int fd, const Logger& logger) : fd_(fd), logger_(logger) {}

  // Thread-safe. False when the reader of the stream has gone (EPIPE): this
  // reply and every later one are dropped.
  bool write(const AnyMap& reply);

 private:
  bool writeFrame(const std::string& body);

  const int fd_;
  const Logger& logger_;
  std::mutex mutex_;
  bool closed_ = false;  // guarded by mutex_
};

}  // namespace ostrela::linux_platform
