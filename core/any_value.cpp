#include "core/any_value.h"

#include <algorithm>

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

const AnyValue* AnyMap::find(std::string_view key) const {
  for (const auto& entry : entries_) {
    if (entry.first == key) return &entry.second;
  }
  return nullptr;
}

void AnyMap::set(std::string key, AnyValue value) {
  for (auto& entry : entries_) {
    if (entry.first == key) {
      entry.second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

bool AnyMap::erase(std::string_view key) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [key](const Entry& e) { return e.first == key; });
  if (it == entries_.end()) return false;
  entries_.erase(it);
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
