#include "platform/linux/native_messaging/frame_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ostrela::linux_platform {

bool FrameReader::readExactly(char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd_, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // end of input, or an error that ends it
    done += static_cast<std::size_t>(n);
  }
  return true;
}

FrameReadResult FrameReader::next() {
  char header[4];
  if (!readExactly(header, sizeof header)) return EndOfInput{};
  std::uint32_t length = 0;
  std::memcpy(&length, header, sizeof length);
  if (length > kMaxInboundFrameLength) return OversizedFrame{length};
  Frame frame;
  frame.body.resize(length);
  if (!readExactly(frame.body.data(), length)) return EndOfInput{};
  return frame;
}

}  // namespace ostrela::linux_platform
