// Reads native-messaging frames: a 32-bit length in native byte order, then
// that many bytes of UTF-8 JSON. Used from one thread only.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace ostrela::linux_platform {

// The most a browser sends in one message.
inline constexpr std::uint32_t kMaxInboundFrameLength = 64u * 1024 * 1024;

struct Frame {
  std::string body;
};
// A length above kMaxInboundFrameLength: the stream can no longer be trusted.
struct OversizedFrame {
  std::uint32_t length;
};
// End of input at a frame boundary, or a header or body cut short by it.
struct EndOfInput {};

using FrameReadResult = std::variant<Frame, OversizedFrame, EndOfInput>;

class FrameReader {
 public:
  explicit FrameReader(int fd) : fd_(fd) {}
  FrameReadResult next();

 private:
  // Reads exactly `size` bytes unless input ends first; false when it did.
  bool readExactly(char* out, std::size_t size);
  int fd_;
};

}  // namespace ostrela::linux_platform
