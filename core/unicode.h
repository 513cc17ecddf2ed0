// Unicode text operations on UTF-8 strings (utf8proc underneath).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ostrela::unicode {

bool isValidUtf8(std::string_view text);

// Number of user-perceived characters (extended grapheme clusters). Invalid
// UTF-8 counts byte by byte.
std::size_t graphemeCount(std::string_view text);

// The first `count` user-perceived characters of `text` (all of it when shorter).
std::string_view graphemePrefix(std::string_view text, std::size_t count);

// Canonical composition (NFC). Invalid UTF-8 comes back unchanged.
std::string toNfc(std::string_view text);

}  // namespace ostrela::unicode
