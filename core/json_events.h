// What every handler of Boost.JSON's parser here does alike: decodeJson's
// limits, no comments, and numbers (which may arrive in parts) handed over
// whole as the Number decodeJson makes of them, through the handler's
// `bool on_number(Number)`. Included only by the core's JSON sources.
#pragma once

#include <boost/json/basic_parser.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/json.h"
#include "core/json_text.h"

namespace ostrela::json_text {

template <typename Handler>
class JsonEvents {
 public:
  using error_code = boost::json::error_code;
  using string_view = boost::json::string_view;

  static constexpr std::size_t max_object_size = std::size_t(-1);
  static constexpr std::size_t max_array_size = std::size_t(-1);
  static constexpr std::size_t max_key_size = std::size_t(-1);
  static constexpr std::size_t max_string_size = std::size_t(-1);

  bool on_document_begin(error_code&) { return true; }
  bool on_document_end(error_code&) { return true; }
  bool on_comment_part(string_view, error_code&) { return false; }
  bool on_comment(string_view, error_code&) { return false; }

  bool on_number_part(string_view s, error_code&) {
    number_.append(s.data(), s.size());
    return true;
  }
  bool on_int64(std::int64_t i, string_view s, error_code&) {
    number_.append(s.data(), s.size());
    return take(signedNumber(i, number_));
  }
  bool on_uint64(std::uint64_t u, string_view, error_code&) { return take(Number::fromUInt(u)); }
  bool on_double(double d, string_view s, error_code&) {
    number_.append(s.data(), s.size());
    return take(floatingNumber(d, number_));
  }

 private:
  bool take(const Number& number) {
    number_.clear();
    return static_cast<Handler*>(this)->on_number(number);
  }

  std::string number_;  // the text of the number being read
};

inline boost::json::parse_options decodeOptions() {
  boost::json::parse_options options;
  options.max_depth = kMaxJsonDepth;
  return options;
}

}  // namespace ostrela::json_text
