// decodeJson never crashes, and whatever it accepts encodes and decodes back
// to the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto value = ostrela::decodeJson(text);
  if (!value) return 0;
  const auto encoded = ostrela::encodeJson(*value);
  // Only an overflowing number (decoded as infinity) cannot be written back.
  if (!encoded) return 0;
  const auto again = ostrela::decodeJson(*encoded);
  if (!again || !(*again == *value)) std::abort();
  if (ostrela::encodeJson(*again) != encoded) std::abort();
  return 0;
}
