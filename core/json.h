// JSON text to and from AnyValue, with the rules of the platform's JSON reader
// and writer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/any_value.h"

namespace ostrela {

// Deepest nesting of arrays and objects that decodeJson accepts.
inline constexpr std::size_t kMaxJsonDepth = 200;

// Decodes one JSON document whose top level is an object or an array. Returns
// nothing for anything else: invalid UTF-8, a bare scalar at the top level,
// trailing bytes other than whitespace, nesting deeper than kMaxJsonDepth.
// A key repeated in one object keeps its first position and its last value.
std::optional<AnyValue> decodeJson(std::string_view text);

// Why decodeJson refuses `text`, in words for a log line ("invalid JSON at byte 12:
// syntax error", "starts with a UTF-8 byte-order mark"); nothing when it accepts it.
std::optional<std::string> whyJsonIsRefused(std::string_view text);

// Compact JSON with map members in insertion order and control characters
// escaped. Returns nothing when the value holds something JSON cannot carry
// (a date, data, or a non-finite number) or nests deeper than kMaxJsonDepth.
std::optional<std::string> encodeJson(const AnyValue& value);
std::optional<std::string> encodeJson(const AnyMap& map);

}  // namespace ostrela
