#include "core/unicode.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace ostrela::unicode {
namespace {

const utf8proc_uint8_t* bytes(std::string_view text) {
  return reinterpret_cast<const utf8proc_uint8_t*>(text.data());
}

// Calls `onBoundary(offset)` at the byte offset where each grapheme cluster
// after the first begins; stops early when it returns false.
template <typename F>
void forEachBoundary(std::string_view text, F onBoundary) {
  utf8proc_int32_t state = 0;
  utf8proc_int32_t previous = -1;
  std::size_t offset = 0;
  while (offset < text.size()) {
    utf8proc_int32_t codepoint = 0;
    utf8proc_ssize_t length = utf8proc_iterate(
        bytes(text) + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &codepoint);
    if (length <= 0) {
      // An invalid byte stands alone.
      length = 1;
      codepoint = -1;
    }
    const bool boundary = previous == -1 || codepoint == -1 ||
                          utf8proc_grapheme_break_stateful(previous, codepoint, &state);
    if (offset > 0 && boundary && !onBoundary(offset)) return;
    if (codepoint == -1) state = 0;
    previous = codepoint == -1 ? 0xFFFD : codepoint;
    offset += static_cast<std::size_t>(length);
  }
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  std::size_t offset = 0;
  while (offset < text.size()) {
    utf8proc_int32_t codepoint = 0;
    const utf8proc_ssize_t length = utf8proc_iterate(
        bytes(text) + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &codepoint);
    if (length <= 0) return false;
    offset += static_cast<std::size_t>(length);
  }
  return true;
}

std::size_t graphemeCount(std::string_view text) {
  if (text.empty()) return 0;
  std::size_t count = 1;
  forEachBoundary(text, [&count](std::size_t) {
    ++count;
    return true;
  });
  return count;
}

std::string_view graphemePrefix(std::string_view text, std::size_t count) {
  if (count == 0) return text.substr(0, 0);
  std::size_t seen = 1;
  std::size_t end = text.size();
  forEachBoundary(text, [&](std::size_t offset) {
    if (seen == count) {
      end = offset;
      return false;
    }
    ++seen;
    return true;
  });
  return text.substr(0, end);
}

std::string toNfc(std::string_view text) {
  utf8proc_uint8_t* mapped = nullptr;
  const utf8proc_ssize_t length =
      utf8proc_map(bytes(text), static_cast<utf8proc_ssize_t>(text.size()), &mapped,
                   static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (length < 0) return std::string(text);
  std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
  return std::string(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
}

}  // namespace ostrela::unicode
