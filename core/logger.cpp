#include "core/logger.h"

#include <charconv>

namespace ostrela {
namespace {

void appendArg(std::string& out, const LogArg& arg) {
  if (arg.isNumber()) {
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, arg.number());
    out.append(buffer, end);
  } else {
    out += arg.data() ? arg.text() : std::string_view("(null)");
  }
}

}  // namespace

std::string formatLogMessage(std::string_view format, std::initializer_list<LogArg> args,
                             bool showPrivate) {
  std::string out;
  out.reserve(format.size() + 32);
  const LogArg* next = args.begin();
  std::size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c != '%') {
      out.push_back(c);
      ++i;
      continue;
    }
    if (format.compare(i, 2, "%%") == 0) {
      out.push_back('%');
      i += 2;
      continue;
    }
    // %{public}s, %{private}ld, %s, %ld ...
    std::size_t j = i + 1;
    bool isPrivate = false;
    if (j < format.size() && format[j] == '{') {
      const std::size_t close = format.find('}', j);
      if (close == std::string_view::npos) break;
      isPrivate = format.substr(j + 1, close - j - 1) == "private";
      j = close + 1;
    }
    while (j < format.size() && (format[j] == 'l' || format[j] == 'z' || format[j] == 'h')) ++j;
    if (j >= format.size() || (format[j] != 's' && format[j] != 'd' && format[j] != 'u')) {
      out.append(format.substr(i, j - i));
      i = j;
      continue;
    }
    if (next != args.end()) {
      if (isPrivate && !showPrivate) {
        out += "<private>";
      } else {
        appendArg(out, *next);
      }
      ++next;
    }
    i = j + 1;
  }
  return out;
}

std::string escapeControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned code = static_cast<unsigned char>(text[i]);
    // C1 controls arrive UTF-8 encoded, as C2 80 to C2 9F.
    const bool c1 = code == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (c1) code = static_cast<unsigned char>(text[++i]);
    if (code == '\n') {
      out += "\\n";
    } else if (code < 0x20 || code == 0x7F || c1) {
      constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[code >> 4];
      out += kHex[code & 0xF];
    } else {
      out += text[i];
    }
  }
  return out;
}

void Logger::log(LogLevel level, std::string_view format,
                 std::initializer_list<LogArg> args) const {
  if (!isEnabled(level)) return;
  sink_->write(level, subsystem_, category_, formatLogMessage(format, args, settings_.showPrivate));
}

}  // namespace ostrela
