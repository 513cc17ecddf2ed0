#include "platform/linux/native_messaging/frame_reader.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/linux/native_messaging/deadline.h"
#include "platform/linux/native_messaging/frame_codec.h"

namespace ostrela::linux_platform {
namespace {

constexpr std::size_t kFirstBodyChunk = 64 * 1024;

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
  // The body grows as its bytes arrive, doubling from 64 KiB: a header alone,
  // announcing 64 MiB and then ending, costs 64 KiB, not 64 MiB zero-filled.
  Frame frame;
  std::size_t done = 0;
  while (done < length) {
    const std::size_t next = std::min<std::size_t>(length, std::max(done * 2, kFirstBodyChunk));
    frame.body.resize(next);
    read = readExactly(frame.body.data() + done, next - done);
    if (read == Read::timedOut) return ReadTimedOut{};
    if (read == Read::ended) return EndOfInput{};
    done = next;
  }
  return frame;
}

}  // namespace ostrela::linux_platform
