// The agent's answer handed to the reader in pieces, for the reader's tests
// and fuzzer: a first piece of `first` bytes, then pieces of `step` bytes,
// each in as many reads as the reader's space allows; end of input after.
#pragma once

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/linux/http/http_response_reader.h"

namespace ostrela::testing {

struct PiecesRead {
  HttpOutcome outcome;
  bool reusable = false;
  std::size_t bytesTaken = 0;  // handed over before the outcome
};

inline PiecesRead readAnswerInPieces(std::string_view answer, std::size_t first, std::size_t step) {
  linux_platform::HttpResponseReader reader;
  std::size_t offset = 0;
  while (offset < answer.size()) {
    const std::span<char> space = reader.space();
    const std::size_t piece = offset == 0 ? std::max<std::size_t>(first, 1) : step;
    const std::size_t n = std::min({space.size(), piece, answer.size() - offset});
    std::memcpy(space.data(), answer.data() + offset, n);
    offset += n;
    if (auto outcome = reader.received(n)) return {std::move(*outcome), reader.reusable(), offset};
  }
  return {reader.endOfInput(), false, offset};
}

}  // namespace ostrela::testing
