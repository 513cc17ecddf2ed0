// A hash index of string keys that are kept elsewhere (a map's members, a
// text's bytes): open addressing with linear probing, at most 3/4 full. A slot
// holds the upper 32 bits of the key's hash and the key's position plus one
// (0: empty), so a probe rarely reads a key and growing needs no hashing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ostrela {

class KeyIndex {
 public:
  // Keys arrive from other programs: the hash is keyed per process, so that a
  // sender cannot make every key collide and bring the quadratic cost back.
  static std::uint32_t fragment(std::string_view key);

  bool empty() const { return slots_.empty(); }
  // Room for `count` positions, keeping those already placed.
  void fit(std::size_t count);
  void place(std::uint32_t hash, std::size_t position);
  // Forgets every position and gives the table's memory back.
  void clear();

  // The position of `key` (whose fragment is `hash`), or `none`. `keyAt(p)`
  // returns the key at position p.
  template <typename KeyAt>
  std::size_t find(std::string_view key, std::uint32_t hash, std::size_t none,
                   const KeyAt& keyAt) const {
    if (slots_.empty()) return none;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask; slots_[at] != 0; at = (at + 1) & mask) {
      const std::size_t candidate = (slots_[at] & 0xffffffff) - 1;
      if (static_cast<std::uint32_t>(slots_[at] >> 32) == hash && keyAt(candidate) == key) {
        return candidate;
      }
    }
    return none;
  }

 private:
  std::vector<std::uint64_t> slots_;
};

}  // namespace ostrela
