// Native-messaging frames: a 32-bit length in native byte order, then that
// many bytes of UTF-8 JSON. The one encoder and decoder of the header, for the
// host, the client and the tests.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace ostrela::linux_platform {

inline constexpr std::size_t kFrameHeaderSize = sizeof(std::uint32_t);

inline std::array<char, kFrameHeaderSize> encodeFrameHeader(std::uint32_t length) {
  std::array<char, kFrameHeaderSize> header;
  std::memcpy(header.data(), &length, kFrameHeaderSize);
  return header;
}

inline std::uint32_t decodeFrameHeader(const char* header) {
  std::uint32_t length = 0;
  std::memcpy(&length, header, kFrameHeaderSize);
  return length;
}

// A whole frame; `body` must be shorter than 4 GiB.
inline std::string encodeFrame(std::string_view body) {
  const auto header = encodeFrameHeader(static_cast<std::uint32_t>(body.size()));
  std::string frame(header.data(), header.size());
  frame.append(body);
  return frame;
}

}  // namespace ostrela::linux_platform
