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

std::string tooLargeReply(std::size_t length, const AnyMap& original) {
  const std::string text =
      "The reply is too large for the browser (" + std::to_string(length) + " bytes)";
  const AnyValue* id = original.find("id");
  if (id != nullptr) {
    std::optional<std::string> withId = encodeJson(errorReply(text, *id).payload);
    if (withId && withId->size() <= kMaxReplyLength) return *withId;
  }
  return encodeJson(errorReply(text, std::nullopt).payload).value_or("{}");
}

}  // namespace

std::string replyFrameBody(const AnyMap& reply, std::size_t& replacedLength) {
  replacedLength = 0;
  std::optional<std::string> body = encodeJson(reply);
  if (!body) {
    // Only values that JSON cannot carry get here; the browser still gets an answer.
    const AnyValue* id = reply.find("id");
    return encodeJson(errorReply("The reply could not be encoded as JSON",
                                 id ? std::optional<AnyValue>(*id) : std::nullopt)
                          .payload)
        .value_or("{}");
  }
  if (body->size() <= kMaxReplyLength) return std::move(*body);
  replacedLength = body->size();
  return tooLargeReply(body->size(), reply);
}

void ReplyWriter::write(const AnyMap& reply) {
  std::size_t replacedLength = 0;
  const std::string body = replyFrameBody(reply, replacedLength);
  if (replacedLength != 0) {
    logger_.log(LogLevel::error, "Replaced a reply of %{public}ld bytes: too large for the browser",
                {static_cast<std::int64_t>(replacedLength)});
  }
  std::lock_guard lock(mutex_);
  if (closed_) return;
  if (!writeFrame(body)) closed_ = true;
}

bool ReplyWriter::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
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
