// Reads native-messaging frames: a 32-bit length in native byte order, then
// that many bytes of UTF-8 JSON. Used from one thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace ostrela::linux_platform {

// The most a browser sends in one message.
inline constexpr std::uint32_t kMaxInboundFrameLength = 64u * 1024 * 1024;

struct Frame {
  std::string body;
};
// A length above the reader's limit: the stream can no longer be trusted.
struct OversizedFrame {
  std::uint32_t length;
};
// End of input at a frame boundary, or a header or body cut short by it.
struct EndOfInput {};

// The deadline passed before a whole frame arrived; the stream is no longer usable.
struct ReadTimedOut {};

using FrameReadResult = std::variant<Frame, OversizedFrame, EndOfInput, ReadTimedOut>;

class FrameReader {
 public:
  // Reads `fd`, which it does not own. With a `deadline`, every read waits for
  // it at most (ReadTimedOut); without one, reads block (never ReadTimedOut).
  // A frame longer than `maxLength` is OversizedFrame, its body left unread.
  explicit FrameReader(int fd,
                       std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt,
                       std::uint32_t maxLength = kMaxInboundFrameLength)
      : fd_(fd), deadline_(deadline), maxLength_(maxLength) {}
  FrameReadResult next();

 private:
  enum class Read { done, ended, timedOut };
  // Reads exactly `size` bytes unless input ends or the deadline passes first.
  Read readExactly(char* out, std::size_t size);
  int fd_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  std::uint32_t maxLength_;
};

}  // namespace ostrela::linux_platform
