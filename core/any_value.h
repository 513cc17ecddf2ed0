// Dynamically typed values, as JSON messages and preference stores deliver them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/key_index.h"

namespace ostrela {

class AnyValue;

// JSON null.
struct Null {
  friend bool operator==(Null, Null) = default;
};

// A JSON or property-list number. Integers keep their exact 64-bit value and
// stay apart from floating-point numbers, so an echo writes back the text it
// received (7 as 7, 1.5 as 1.5, 9007199254740993 unchanged). Integers beyond
// 64 bits arrive as the nearest double; negative zero is a double and stays -0.
class Number {
 public:
  enum class Kind { signedInteger, unsignedInteger, floating };

  constexpr Number() = default;
  static constexpr Number fromInt(std::int64_t v) { return Number(Kind::signedInteger, v, 0, 0); }
  static constexpr Number fromUInt(std::uint64_t v) {
    return Number(Kind::unsignedInteger, 0, v, 0);
  }
  static constexpr Number fromDouble(double v) { return Number(Kind::floating, 0, 0, v); }

  constexpr Kind kind() const { return kind_; }
  constexpr std::int64_t asInt() const { return int_; }
  constexpr std::uint64_t asUInt() const { return uint_; }
  constexpr double asDouble() const { return double_; }
  // The value as a double, whatever the kind (for comparisons across kinds).
  double toDouble() const;

  // Numbers are equal when they denote the same value, whatever their kind.
  friend bool operator==(const Number& a, const Number& b);

 private:
  constexpr Number(Kind k, std::int64_t i, std::uint64_t u, double d)
      : kind_(k), int_(i), uint_(u), double_(d) {}
  Kind kind_ = Kind::signedInteger;
  std::int64_t int_ = 0;
  std::uint64_t uint_ = 0;
  double double_ = 0;
};

using Date = std::chrono::system_clock::time_point;
using Data = std::vector<std::byte>;
using AnyArray = std::vector<AnyValue>;

// A string-keyed dictionary that keeps its members in insertion order, so that
// encoding writes them in the order they arrived. Keys are unique; setting an
// existing key replaces its value in place. Small maps are scanned; a map of
// more than kIndexedSize members also keeps a hash index of its keys, so that
// building or searching a large map costs a constant time per member.
class AnyMap {
 public:
  using Entry = std::pair<std::string, AnyValue>;
  // Up to this size a scan is as fast as hashing (most messages have 2 to 6 members).
  static constexpr std::size_t kIndexedSize = 16;

  AnyMap() = default;
  AnyMap(std::initializer_list<Entry> entries);
  AnyMap(const AnyMap& other);
  AnyMap(AnyMap&& other) noexcept;
  AnyMap& operator=(const AnyMap& other);
  AnyMap& operator=(AnyMap&& other) noexcept;
  ~AnyMap();

  const AnyValue* find(std::string_view key) const;
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  void set(std::string key, AnyValue value);
  bool erase(std::string_view key);

  // Defined below AnyValue, which they need complete.
  std::size_t size() const;
  bool empty() const;
  std::vector<Entry>::const_iterator begin() const;
  std::vector<Entry>::const_iterator end() const;
  void reserve(std::size_t n);

  // Equal when both hold the same keys with equal values, in any order.
  friend bool operator==(const AnyMap& a, const AnyMap& b);

 private:
  // Position of `key` in entries_, or entries_.size(); `hash` is hashIfIndexed(key).
  std::size_t position(std::string_view key, std::uint32_t hash) const;
  std::uint32_t hashIfIndexed(std::string_view key) const;
  void rebuildIndex();

  std::vector<Entry> entries_;
  std::unique_ptr<KeyIndex> index_;  // only while size() > kIndexedSize
};

// One of null, boolean, number, string, date, data, array or map. "Absent" is
// an empty std::optional<AnyValue>, never a kind of AnyValue.
class AnyValue {
 public:
  using Storage = std::variant<Null, bool, Number, std::string, Date, Data, AnyArray, AnyMap>;

  AnyValue() = default;
  AnyValue(Null) {}
  AnyValue(bool b) : storage_(b) {}
  AnyValue(int v) : storage_(Number::fromInt(v)) {}
  AnyValue(std::int64_t v) : storage_(Number::fromInt(v)) {}
  AnyValue(std::uint64_t v) : storage_(Number::fromUInt(v)) {}
  AnyValue(double v) : storage_(Number::fromDouble(v)) {}
  AnyValue(Number n) : storage_(n) {}
  AnyValue(const char* s) : storage_(std::string(s)) {}
  AnyValue(std::string s) : storage_(std::move(s)) {}
  AnyValue(std::string_view s) : storage_(std::string(s)) {}
  AnyValue(Date d) : storage_(d) {}
  AnyValue(Data d) : storage_(std::move(d)) {}
  AnyValue(AnyArray a) : storage_(std::move(a)) {}
  AnyValue(AnyMap m) : storage_(std::move(m)) {}

  bool isNull() const { return std::holds_alternative<Null>(storage_); }
  bool isBool() const { return std::holds_alternative<bool>(storage_); }
  bool isNumber() const { return std::holds_alternative<Number>(storage_); }
  bool isString() const { return std::holds_alternative<std::string>(storage_); }
  bool isDate() const { return std::holds_alternative<Date>(storage_); }
  bool isData() const { return std::holds_alternative<Data>(storage_); }
  bool isArray() const { return std::holds_alternative<AnyArray>(storage_); }
  bool isMap() const { return std::holds_alternative<AnyMap>(storage_); }

  // Typed access; nullptr when the value is of another kind.
  const bool* asBool() const { return std::get_if<bool>(&storage_); }
  const Number* asNumber() const { return std::get_if<Number>(&storage_); }
  const std::string* asString() const { return std::get_if<std::string>(&storage_); }
  const Date* asDate() const { return std::get_if<Date>(&storage_); }
  const Data* asData() const { return std::get_if<Data>(&storage_); }
  const AnyArray* asArray() const { return std::get_if<AnyArray>(&storage_); }
  const AnyMap* asMap() const { return std::get_if<AnyMap>(&storage_); }
  AnyMap* asMap() { return std::get_if<AnyMap>(&storage_); }
  AnyArray* asArray() { return std::get_if<AnyArray>(&storage_); }

  const Storage& storage() const { return storage_; }

  friend bool operator==(const AnyValue& a, const AnyValue& b) = default;

 private:
  Storage storage_;
};

inline std::size_t AnyMap::size() const {
  return entries_.size();
}
inline bool AnyMap::empty() const {
  return entries_.empty();
}
inline std::vector<AnyMap::Entry>::const_iterator AnyMap::begin() const {
  return entries_.begin();
}
inline std::vector<AnyMap::Entry>::const_iterator AnyMap::end() const {
  return entries_.end();
}
inline void AnyMap::reserve(std::size_t n) {
  entries_.reserve(n);
}

// Member `key` of `value` when `value` is a map and has it; nullptr otherwise.
const AnyValue* member(const std::optional<AnyValue>& value, std::string_view key);

}  // namespace ostrela
