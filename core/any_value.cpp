#include "core/any_value.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace ostrela {

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

AnyMap::AnyMap(std::initializer_list<Entry> entries) {
  entries_.reserve(entries.size());
  for (const auto& [key, value] : entries) set(key, value);
}

AnyMap::AnyMap(const AnyMap& other)
    : entries_(other.entries_),
      index_(other.index_ ? std::make_unique<KeyIndex>(*other.index_) : nullptr) {}
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
  return index_->find(key, hash, entries_.size(),
                      [this](std::size_t at) -> std::string_view { return entries_[at].first; });
}

std::uint32_t AnyMap::hashIfIndexed(std::string_view key) const {
  return index_ ? KeyIndex::fragment(key) : 0;
}

void AnyMap::rebuildIndex() {
  if (entries_.size() <= kIndexedSize) {
    index_.reset();
    return;
  }
  index_ = std::make_unique<KeyIndex>();
  index_->fit(entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    index_->place(KeyIndex::fragment(entries_[i].first), i);
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
