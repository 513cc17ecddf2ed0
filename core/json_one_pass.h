// Large messages read in one pass over their text, without building them as
// values: what routing needs of a message, and the compact JSON for the agent.
// Both accept and refuse exactly what decodeJson does; a message costs its
// text, the result and a small index of each open object's keys.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/any_value.h"

namespace ostrela {

// The top-level members "id", "type" and "host" of the JSON object in `text`
// whose (last) value is not an array or an object; nothing when decodeJson
// refuses `text` or its top level is not an object.
std::optional<AnyMap> outlineJsonObject(std::string_view text);

// encodeJson(*decodeJson(text)), without the value in between: nothing when
// decodeJson refuses `text` or encodeJson would refuse its value.
std::optional<std::string> reencodeJson(std::string_view text);

}  // namespace ostrela
