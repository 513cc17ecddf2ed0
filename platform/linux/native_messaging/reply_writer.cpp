#include "platform/linux/native_messaging/reply_writer.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "core/json.h"
#include "extension/native_reply.h"
#include "platform/linux/native_messaging/frame_codec.h"

namespace ostrela::linux_platform {
namespace {

// The error reply `text` with the original reply's "id" when the result can be
// encoded and fits, else without it; kUnencodableReply as the last resort.
std::string errorReplyBody(const std::string& text, const AnyMap& original) {
  if (const AnyValue* id = original.find("id")) {
    std::optional<std::string> withId = encodeJson(errorReply(text, *id).payload);
    if (withId && withId->size() <= kMaxReplyLength) return *withId;
  }
  return encodeJson(errorReply(text, std::nullopt).payload)
      .value_or(std::string(kUnencodableReply));
}

}  // namespace

ReplyFrameBody replyFrameBody(const AnyMap& reply) {
  std::optional<std::string> body = encodeJson(reply);
  if (!body) {
    // Only values that JSON cannot carry get here; the browser still gets an answer.
    return {errorReplyBody(std::string(kUnencodableReplyText), reply), 0, true};
  }
  if (body->size() <= kMaxReplyLength) return {std::move(*body)};
  return {errorReplyBody(replyTooLargeText(body->size()), reply), body->size()};
}

bool ReplyWriter::write(const AnyMap& reply) {
  const ReplyFrameBody frame = replyFrameBody(reply);
  if (frame.refusedLength != 0) {
    logger_.log(LogLevel::error, "Replaced a reply of %{public}ld bytes: too large for the browser",
                {static_cast<std::int64_t>(frame.refusedLength)});
  } else if (frame.unencodable) {
    logger_.log(LogLevel::error, "Replaced a reply that could not be encoded as JSON", {});
  }
  std::lock_guard lock(mutex_);
  if (!closed_ && !writeFrame(frame.body)) closed_ = true;
  return !closed_;
}

bool ReplyWriter::writeFrame(const std::string& body) {
  auto header = encodeFrameHeader(static_cast<std::uint32_t>(body.size()));
  iovec parts[2] = {{header.data(), header.size()}, {const_cast<char*>(body.data()), body.size()}};
  std::size_t remaining = sizeof header + body.size();
  iovec* next = parts;
  int count = 2;
  while (remaining > 0) {
    const ssize_t n = ::writev(fd_, next, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // EPIPE or another fault: the browser is gone
    remaining -= static_cast<std::size_t>(n);
    auto written = static_cast<std::size_t>(n);
    while (count > 0 && written >= next->iov_len) {
      written -= next->iov_len;
      ++next;
      --count;
    }
    if (count > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + written;
      next->iov_len -= written;
    }
  }
  return true;
}

}  // namespace ostrela::linux_platform
