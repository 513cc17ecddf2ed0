// The pieces of JSON text that the value reader and writer and the one-pass
// re-encoder share, so that both write a message byte for byte alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/any_value.h"

namespace ostrela::json_text {

// `s` as a JSON string: quotes, backslashes and control characters escaped,
// everything else as it is.
void appendEscaped(std::string& out, std::string_view s);
// The same without the quotes, for a string that arrives in parts.
void appendEscapedPart(std::string& out, std::string_view s);

// The number as compact JSON; false for a non-finite one, which JSON cannot carry.
bool appendNumber(std::string& out, const Number& number);

// The numbers the parser reports, with the text it read them from: "-0" is
// negative zero, which only a double carries; a double is converted again from
// its text, as the parser's own conversion may be off by one unit in the last
// place, so that a number echoes exactly as it came.
Number signedNumber(std::int64_t value, std::string_view text);
Number floatingNumber(double value, std::string_view text);

}  // namespace ostrela::json_text
