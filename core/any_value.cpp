#include "core/any_value.h"

#include <algorithm>
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

// Keys arrive from other programs: a fixed hash would let a sender make every
// key collide and bring the quadratic cost back. The key is chosen per process
// from addresses that address-space randomisation places (stack, heap, image).
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

double Number::toDouble() const {
  switch (kind_) {
    case Kind::signedInteger:
      return static_cast<double>(int_);
    case Kind::unsignedInteger:
      return static_cast<double>(uint_);
    case Kind::floating:
      break;
  }
  return double_;
}

bool operator==(const Number& a, const Number& b) {
  using K = Number::Kind;
  if (a.kind_ == K::floating || b.kind_ == K::floating) return a.toDouble() == b.toDouble();
  if (a.kind_ == b.kind_)
    return a.kind_ == K::signedInteger ? a.int_ == b.int_ : a.uint_ == b.uint_;
  const Number& s = a.kind_ == K::signedInteger ? a : b;
  const Number& u = a.kind_ == K::signedInteger ? b : a;
  return s.int_ >= 0 && static_cast<std::uint64_t>(s.int_) == u.uint_;
}

std::uint32_t AnyMap::Index::fragment(std::string_view key) {
  return static_cast<std::uint32_t>(keyedHash(key) >> 32);
}

void AnyMap::Index::place(std::uint32_t hash, std::size_t position) {
  std::size_t at = hash & mask();
  while (slots[at] != 0) at = (at + 1) & mask();
  slots[at] = (std::uint64_t{hash} << 32) | (position + 1);
}

void AnyMap::Index::fit(std::size_t count) {
  if (count * 4 <= slots.size() * 3) return;
  std::size_t capacity = 64;
  while (count * 4 > capacity * 3) capacity *= 2;
  std::vector<std::uint64_t> old = std::exchange(slots, std::vector<std::uint64_t>(capacity));
  for (std::uint64_t slot : old) {
    if (slot != 0) place(static_cast<std::uint32_t>(slot >> 32), (slot & 0xffffffff) - 1);
  }
}

AnyMap::AnyMap(std::initializer_list<Entry> entries) {
  entries_.reserve(entries.size());
  for (const auto& [key, value] : entries) set(key, value);
}

AnyMap::AnyMap(const AnyMap& other)
    : entries_(other.entries_),
      index_(other.index_ ? std::make_unique<Index>(*other.index_) : nullptr) {}
AnyMap::AnyMap(AnyMap&& other) noexcept = default;
AnyMap& AnyMap::operator=(const AnyMap& other) {
  if (this != &other) *this = AnyMap(other);
  return *this;
}
AnyMap& AnyMap::operator=(AnyMap&& other) noexcept = default;
AnyMap::~AnyMap() = default;

std::size_t AnyMap::position(std::string_view key, std::uint32_t hash) const {
  if (!index_) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].first == key) return i;
    }
    return entries_.size();
  }
  const std::vector<std::uint64_t>& slots = index_->slots;
  for (std::size_t at = hash & index_->mask(); slots[at] != 0; at = (at + 1) & index_->mask()) {
    const std::size_t candidate = (slots[at] & 0xffffffff) - 1;
    if (static_cast<std::uint32_t>(slots[at] >> 32) == hash && entries_[candidate].first == key) {
      return candidate;
    }
  }
  return entries_.size();
}

std::uint32_t AnyMap::hashIfIndexed(std::string_view key) const {
  return index_ ? Index::fragment(key) : 0;
}

void AnyMap::rebuildIndex() {
  if (entries_.size() <= kIndexedSize) {
    index_.reset();
    return;
  }
  index_ = std::make_unique<Index>();
  index_->fit(entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    index_->place(Index::fragment(entries_[i].first), i);
  }
}

const AnyValue* AnyMap::find(std::string_view key) const {
  const std::size_t at = position(key, hashIfIndexed(key));
  return at < entries_.size() ? &entries_[at].second : nullptr;
}

void AnyMap::set(std::string key, AnyValue value) {
  const std::uint32_t hash = hashIfIndexed(key);
  const std::size_t at = position(key, hash);
  if (at < entries_.size()) {
    entries_[at].second = std::move(value);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(value));
  if (index_) {
    index_->fit(entries_.size());
    index_->place(hash, entries_.size() - 1);
  } else if (entries_.size() > kIndexedSize) {
    rebuildIndex();
  }
}

bool AnyMap::erase(std::string_view key) {
  const std::size_t at = position(key, hashIfIndexed(key));
  if (at == entries_.size()) return false;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
  // The members after it moved down one place.
  if (index_) rebuildIndex();
  return true;
}

bool operator==(const AnyMap& a, const AnyMap& b) {
  if (a.size() != b.size()) return false;
  return std::all_of(a.begin(), a.end(), [&b](const AnyMap::Entry& e) {
    const AnyValue* other = b.find(e.first);
    return other != nullptr && *other == e.second;
  });
}

const AnyValue* member(const std::optional<AnyValue>& value, std::string_view key) {
  if (!value) return nullptr;
  const AnyMap* map = value->asMap();
  return map ? map->find(key) : nullptr;
}

}  // namespace ostrela
