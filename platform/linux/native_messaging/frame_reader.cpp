#include "platform/linux/native_messaging/frame_reader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/native_messaging/frame_codec.h"

namespace ostrela::linux_platform {
namespace {

// Milliseconds until `deadline`, for poll(); 0 once it has passed.
int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

FrameReader::Read FrameReader::readExactly(char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    if (deadline_) {
      pollfd ready{fd_, POLLIN, 0};
      const int polled = ::poll(&ready, 1, millisecondsUntil(*deadline_));
      if (polled < 0 && errno == EINTR) continue;
      if (polled == 0) return Read::timedOut;
    }
    const ssize_t n = ::read(fd_, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Read::ended;  // end of input, or an error that ends it
    done += static_cast<std::size_t>(n);
  }
  return Read::done;
}

FrameReadResult FrameReader::next() {
  char header[kFrameHeaderSize];
  Read read = readExactly(header, sizeof header);
  if (read == Read::timedOut) return ReadTimedOut{};
  if (read == Read::ended) return EndOfInput{};
  const std::uint32_t length = decodeFrameHeader(header);
  if (length > kMaxInboundFrameLength) return OversizedFrame{length};
  Frame frame;
  frame.body.resize(length);
  read = readExactly(frame.body.data(), length);
  if (read == Read::timedOut) return ReadTimedOut{};
  if (read == Read::ended) return EndOfInput{};
  return frame;
}

}  // namespace ostrela::linux_platform
