// The translation unit that compiles Boost.JSON (header-only mode: src.hpp);
// core/json_one_pass.cpp uses its parser too.
#include "core/json.h"

#include "core/json_events.h"
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
class ValueBuilder : public json_text::JsonEvents<ValueBuilder> {
 public:
  std::optional<AnyValue> take() { return std::move(root_); }

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
  bool on_number(const Number& number) { return add(AnyValue(number)); }
  bool on_bool(bool b, error_code&) { return add(AnyValue(b)); }
  bool on_null(error_code&) { return add(AnyValue(Null{})); }

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
  std::optional<AnyValue> root_;
};

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
  bool operator()(const Number& n) const { return json_text::appendNumber(out, n); }
  bool operator()(const std::string& s) const {
    if (!unicode::isValidUtf8(s)) return false;
    json_text::appendEscaped(out, s);
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
  json::basic_parser<ValueBuilder> parser(json_text::decodeOptions());
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

namespace json_text {
namespace {

template <typename T>
void appendDigits(std::string& out, T value) {
  char buffer[32];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, end);
}

}  // namespace

void appendEscaped(std::string& out, std::string_view s) {
  out.push_back('"');
  appendEscapedPart(out, s);
  out.push_back('"');
}

void appendEscapedPart(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::size_t plain = 0;  // where the bytes written as they are begin
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto u = static_cast<unsigned char>(s[i]);
    if (u >= 0x20 && u != '"' && u != '\\') continue;
    out.append(s, plain, i - plain);
    plain = i + 1;
    switch (s[i]) {
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
        out += "\\u00";
        out.push_back(kHex[u >> 4]);
        out.push_back(kHex[u & 0xF]);
    }
  }
  out.append(s, plain, s.size() - plain);
}

bool appendNumber(std::string& out, const Number& number) {
  switch (number.kind()) {
    case Number::Kind::signedInteger:
      appendDigits(out, number.asInt());
      return true;
    case Number::Kind::unsignedInteger:
      appendDigits(out, number.asUInt());
      return true;
    case Number::Kind::floating:
      break;
  }
  if (!std::isfinite(number.asDouble())) return false;
  appendDigits(out, number.asDouble());
  return true;
}

Number signedNumber(std::int64_t value, std::string_view text) {
  return value == 0 && text.starts_with('-') ? Number::fromDouble(-0.0) : Number::fromInt(value);
}

Number floatingNumber(double value, std::string_view text) {
  double precise = value;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), precise);
  return Number::fromDouble(ec == std::errc() ? precise : value);
}

}  // namespace json_text
}  // namespace ostrela
