#include "core/key_index.h"

#include <cstring>
#include <memory>
#include <utility>

namespace ostrela {
namespace {

std::uint64_t rotl(std::uint64_t x, int bits) {
  return (x << bits) | (x >> (64 - bits));
}

struct HashKey {
  std::uint64_t k0;
  std::uint64_t k1;
};

// The hash's key is chosen per process from addresses that address-space
// randomisation places (stack, heap, image).
const HashKey& processHashKey() {
  static const HashKey key = [] {
    const int onStack = 0;
    const auto onHeap = std::make_unique<int>(0);
    const auto stack = reinterpret_cast<std::uintptr_t>(&onStack);
    const auto heap = reinterpret_cast<std::uintptr_t>(onHeap.get());
    const auto image = reinterpret_cast<std::uintptr_t>(&processHashKey);
    return HashKey{stack ^ rotl(heap, 29) ^ 0x9e3779b97f4a7c15, image ^ rotl(stack, 43)};
  }();
  return key;
}

// SipHash-1-3 (as Python and Rust hash strings for the same reason).
std::uint64_t keyedHash(std::string_view text) {
  const HashKey& key = processHashKey();
  std::uint64_t v0 = key.k0 ^ 0x736f6d6570736575;
  std::uint64_t v1 = key.k1 ^ 0x646f72616e646f6d;
  std::uint64_t v2 = key.k0 ^ 0x6c7967656e657261;
  std::uint64_t v3 = key.k1 ^ 0x7465646279746573;
  const auto round = [&] {
    v0 += v1;
    v1 = rotl(v1, 13) ^ v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16) ^ v2;
    v0 += v3;
    v3 = rotl(v3, 21) ^ v0;
    v2 += v1;
    v1 = rotl(v1, 17) ^ v2;
    v2 = rotl(v2, 32);
  };
  const char* at = text.data();
  std::size_t left = text.size();
  for (; left >= 8; at += 8, left -= 8) {
    std::uint64_t block = 0;
    std::memcpy(&block, at, 8);
    v3 ^= block;
    round();
    v0 ^= block;
  }
  std::uint64_t last = static_cast<std::uint64_t>(text.size()) << 56;
  for (std::size_t i = 0; i < left; ++i) {
    last |= static_cast<std::uint64_t>(static_cast<unsigned char>(at[i])) << (8 * i);
  }
  v3 ^= last;
  round();
  v0 ^= last;
  v2 ^= 0xff;
  round();
  round();
  round();
  return v0 ^ v1 ^ v2 ^ v3;
}

}  // namespace

std::uint32_t KeyIndex::fragment(std::string_view key) {
  return static_cast<std::uint32_t>(keyedHash(key) >> 32);
}

void KeyIndex::place(std::uint32_t hash, std::size_t position) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = hash & mask;
  while (slots_[at] != 0) at = (at + 1) & mask;
  slots_[at] = (std::uint64_t{hash} << 32) | (position + 1);
}

void KeyIndex::fit(std::size_t count) {
  if (count * 4 <= slots_.size() * 3) return;
  std::size_t capacity = 64;
  while (count * 4 > capacity * 3) capacity *= 2;
  std::vector<std::uint64_t> old = std::exchange(slots_, std::vector<std::uint64_t>(capacity));
  for (std::uint64_t slot : old) {
    if (slot != 0) place(static_cast<std::uint32_t>(slot >> 32), (slot & 0xffffffff) - 1);
  }
}

void KeyIndex::clear() {
  std::vector<std::uint64_t>().swap(slots_);
}

}  // namespace ostrela
