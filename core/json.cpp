// The only translation unit that includes Boost.JSON (header-only mode).
#include "core/json.h"

#include "core/unicode.h"

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/src.hpp>
#include <charconv>
#include <cmath>
#include <utility>
#include <variant>
#include <vector>

namespace ostrela {
namespace {

namespace json = boost::json;
using json::error_code;
using json::string_view;

// Builds an AnyValue from the parser's events, with an explicit stack instead
// of recursion.
class ValueBuilder {
 public:
  static constexpr std::size_t max_object_size = std::size_t(-1);
  static constexpr std::size_t max_array_size = std::size_t(-1);
  static constexpr std::size_t max_key_size = std::size_t(-1);
  static constexpr std::size_t max_string_size = std::size_t(-1);

  std::optional<AnyValue> take() { return std::move(root_); }

  bool on_document_begin(error_code&) { return true; }
  bool on_document_end(error_code&) { return true; }
  bool on_array_begin(error_code&) {
    stack_.push_back(Frame{AnyValue(AnyArray{}), {}});
    return true;
  }
  bool on_array_end(std::size_t, error_code&) { return closeContainer(); }
  bool on_object_begin(error_code&) {
    stack_.push_back(Frame{AnyValue(AnyMap{}), {}});
    return true;
  }
  bool on_object_end(std::size_t, error_code&) { return closeContainer(); }
  bool on_string_part(string_view s, std::size_t, error_code&) {
    text_.append(s.data(), s.size());
    return true;
  }
  bool on_string(string_view s, std::size_t, error_code&) {
    text_.append(s.data(), s.size());
    add(AnyValue(std::exchange(text_, {})));
    return true;
  }
  bool on_key_part(string_view s, std::size_t, error_code&) {
    text_.append(s.data(), s.size());
    return true;
  }
  bool on_key(string_view s, std::size_t, error_code&) {
    text_.append(s.data(), s.size());
    stack_.back().key = std::exchange(text_, {});
    return true;
  }
  // A number may arrive in parts; its text is kept for the cases below.
  bool on_number_part(string_view s, error_code&) {
    number_.append(s.data(), s.size());
    return true;
  }
  bool on_int64(std::int64_t i, string_view s, error_code&) {
    number_.append(s.data(), s.size());
    const bool negative = number_.front() == '-';
    number_.clear();
    // "-0" is negative zero, which only a double can carry.
    return add(i == 0 && negative ? AnyValue(-0.0) : AnyValue(i));
  }
  bool on_uint64(std::uint64_t u, string_view, error_code&) {
    number_.clear();
    return add(AnyValue(u));
  }
  bool on_double(double d, string_view s, error_code&) {
    // The parser's own conversion may be off by one unit in the last place;
    // from_chars rounds correctly, so a number echoes exactly as it came.
    number_.append(s.data(), s.size());
    double precise = d;
    const auto [end, ec] =
        std::from_chars(number_.data(), number_.data() + number_.size(), precise);
    number_.clear();
    return add(AnyValue(ec == std::errc() ? precise : d));
  }
  bool on_bool(bool b, error_code&) { return add(AnyValue(b)); }
  bool on_null(error_code&) { return add(AnyValue(Null{})); }
  bool on_comment_part(string_view, error_code&) { return false; }
  bool on_comment(string_view, error_code&) { return false; }

 private:
  struct Frame {
    AnyValue container;
    std::string key;
  };

  bool add(AnyValue value) {
    if (stack_.empty()) {
      root_ = std::move(value);
      return true;
    }
    Frame& top = stack_.back();
    if (AnyArray* array = top.container.asArray()) {
      array->push_back(std::move(value));
    } else {
      top.container.asMap()->set(std::move(top.key), std::move(value));
      top.key.clear();
    }
    return true;
  }

  bool closeContainer() {
    AnyValue done = std::move(stack_.back().container);
    stack_.pop_back();
    return add(std::move(done));
  }

  std::vector<Frame> stack_;
  std::string text_;
  std::string number_;
  std::optional<AnyValue> root_;
};

void appendEscaped(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (u < 0x20) {
          out += "\\u00";
          out.push_back(kHex[u >> 4]);
          out.push_back(kHex[u & 0xF]);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

template <typename T>
void appendNumber(std::string& out, T value) {
  char buffer[32];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, end);
}

bool appendJson(std::string& out, const AnyValue& value, std::size_t depth);

struct Encoder {
  std::string& out;
  std::size_t depth;

  bool operator()(Null) const {
    out += "null";
    return true;
  }
  bool operator()(bool b) const {
    out += b ? "true" : "false";
    return true;
  }
  bool operator()(const Number& n) const {
    switch (n.kind()) {
      case Number::Kind::signedInteger:
        appendNumber(out, n.asInt());
        return true;
      case Number::Kind::unsignedInteger:
        appendNumber(out, n.asUInt());
        return true;
      case Number::Kind::floating:
        break;
    }
    if (!std::isfinite(n.asDouble())) return false;
    appendNumber(out, n.asDouble());
    return true;
  }
  bool operator()(const std::string& s) const {
    if (!unicode::isValidUtf8(s)) return false;
    appendEscaped(out, s);
    return true;
  }
  bool operator()(const Date&) const { return false; }
  bool operator()(const Data&) const { return false; }
  bool operator()(const AnyArray& array) const {
    if (depth >= kMaxJsonDepth) return false;
    out.push_back('[');
    bool first = true;
    for (const AnyValue& element : array) {
      if (!first) out.push_back(',');
      first = false;
      if (!appendJson(out, element, depth + 1)) return false;
    }
    out.push_back(']');
    return true;
  }
  bool operator()(const AnyMap& map) const {
    if (depth >= kMaxJsonDepth) return false;
    out.push_back('{');
    bool first = true;
    for (const auto& [key, element] : map) {
      if (!first) out.push_back(',');
      first = false;
      if (!(*this)(key)) return false;
      out.push_back(':');
      if (!appendJson(out, element, depth + 1)) return false;
    }
    out.push_back('}');
    return true;
  }
};

bool appendJson(std::string& out, const AnyValue& value, std::size_t depth) {
  return std::visit(Encoder{out, depth}, value.storage());
}

}  // namespace

namespace {

// The document in `text`, or why there is none.
std::variant<AnyValue, std::string> parseJson(std::string_view text) {
  json::parse_options options;
  options.max_depth = kMaxJsonDepth;
  json::basic_parser<ValueBuilder> parser(options);
  error_code ec;
  const std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
  if (ec || used != text.size() || !parser.done()) {
    if (text.starts_with("\xEF\xBB\xBF")) return std::string("starts with a UTF-8 byte-order mark");
    if (!ec && parser.done()) return "text after the JSON at byte " + std::to_string(used);
    return "invalid JSON at byte " + std::to_string(used) +
           (ec ? ": " + ec.message() : std::string(": it ends early"));
  }
  std::optional<AnyValue> root = parser.handler().take();
  if (!root || !(root->isMap() || root->isArray())) {
    return std::string("not a JSON object or array");
  }
  return std::move(*root);
}

}  // namespace

std::optional<AnyValue> decodeJson(std::string_view text) {
  std::variant<AnyValue, std::string> parsed = parseJson(text);
  if (auto* value = std::get_if<AnyValue>(&parsed)) return std::move(*value);
  return std::nullopt;
}

std::optional<std::string> whyJsonIsRefused(std::string_view text) {
  std::variant<AnyValue, std::string> parsed = parseJson(text);
  if (auto* why = std::get_if<std::string>(&parsed)) return std::move(*why);
  return std::nullopt;
}

std::optional<std::string> encodeJson(const AnyValue& value) {
  std::string out;
  if (!appendJson(out, value, 0)) return std::nullopt;
  return out;
}

std::optional<std::string> encodeJson(const AnyMap& map) {
  std::string out;
  if (!Encoder{out, 0}(map)) return std::nullopt;
  return out;
}

}  // namespace ostrela
