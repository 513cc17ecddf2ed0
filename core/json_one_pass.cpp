#include "core/json_one_pass.h"

#include <algorithm>
#include <boost/json/basic_parser_impl.hpp>
#include <cstdint>
#include <vector>

#include "core/json.h"
#include "core/json_events.h"
#include "core/key_index.h"

namespace ostrela {
namespace {

namespace json = boost::json;
using json::error_code;
using json::string_view;

// Runs `parser` over the whole of `text`: true when it holds one document and nothing more.
template <typename Parser>
bool parseWhole(Parser& parser, std::string_view text) {
  error_code ec;
  const std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
  return !ec && used == text.size() && parser.done();
}

// Keeps the scalar values of the top-level members routing reads.
class Outliner : public json_text::JsonEvents<Outliner> {
 public:
  bool topIsObject() const { return topIsObject_; }
  AnyMap take() { return std::move(heads_); }

  bool on_object_begin(error_code&) {
    if (depth_ == 0) topIsObject_ = true;
    return beginContainer();
  }
  bool on_array_begin(error_code&) { return beginContainer(); }
  bool on_object_end(std::size_t, error_code&) { return endContainer(); }
  bool on_array_end(std::size_t, error_code&) { return endContainer(); }

  bool on_key_part(string_view s, std::size_t, error_code&) {
    if (depth_ == 1) keepKeyPart(s);
    return true;
  }
  bool on_key(string_view s, std::size_t, error_code&) {
    if (depth_ != 1) return true;
    keepKeyPart(s);
    head_ = (key_ == "id" || key_ == "type" || key_ == "host") ? key_ : std::string();
    key_.clear();
    return true;
  }
  bool on_string_part(string_view s, std::size_t, error_code&) {
    if (wanted()) text_.append(s.data(), s.size());
    return true;
  }
  bool on_string(string_view s, std::size_t, error_code&) {
    if (!wanted()) return true;
    text_.append(s.data(), s.size());
    return keep(AnyValue(std::exchange(text_, {})));
  }
  bool on_number(const Number& number) { return !wanted() || keep(AnyValue(number)); }
  bool on_bool(bool b, error_code&) { return !wanted() || keep(AnyValue(b)); }
  bool on_null(error_code&) { return !wanted() || keep(AnyValue(Null{})); }

 private:
  // A value of a top-level member that routing reads.
  bool wanted() const { return depth_ == 1 && !head_.empty(); }
  // The longest name read is 4 bytes: a fifth shows that the key is none of them.
  void keepKeyPart(string_view s) {
    key_.append(s.data(), std::min(s.size(), 5 - std::min<std::size_t>(5, key_.size())));
  }
  bool keep(AnyValue value) {
    heads_.set(std::exchange(head_, {}), std::move(value));
    return true;
  }
  bool beginContainer() {
    // A repeated member's last value counts: an array or object is no value routing reads.
    if (wanted()) heads_.erase(std::exchange(head_, {}));
    ++depth_;
    return true;
  }
  bool endContainer() {
    --depth_;
    return true;
  }

  std::size_t depth_ = 0;
  bool topIsObject_ = false;
  std::string key_;
  std::string head_;  // the member whose value comes next, when routing reads it
  std::string text_;
  AnyMap heads_;
};

// The end of the compact JSON value (or key) that starts at `at` in `text`:
// just after it, or the position of the comma or bracket that ends a scalar.
std::size_t endOfValue(std::string_view text, std::size_t at) {
  int depth = 0;
  bool inString = false;
  for (;; ++at) {
    const char c = text[at];
    if (inString) {
      if (c == '\\') {
        ++at;
      } else if (c == '"') {
        inString = false;
        if (depth == 0) return at + 1;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (depth == 0) return at;
      if (--depth == 0) return at + 1;
    } else if (c == ',' && depth == 0) {
      return at;
    }
  }
}

// Writes the message again as encodeJson writes its value: compact, each
// number as the value it denotes, strings escaped alike, and a key repeated in
// one object at its first position with its last value. Keys are found again
// in the text written so far, so an object's index holds positions only.
class Reencoder : public json_text::JsonEvents<Reencoder> {
 public:
  explicit Reencoder(std::size_t sizeHint) { out_.reserve(sizeHint); }

  // Nothing when a number could not be written or the top level is no container.
  std::optional<std::string> take() {
    if (unencodable_ || out_.empty() || (out_.front() != '{' && out_.front() != '[')) {
      return std::nullopt;
    }
    return std::move(out_);
  }

  bool on_object_begin(error_code&) { return open('{', true); }
  bool on_array_begin(error_code&) { return open('[', false); }
  bool on_array_end(std::size_t, error_code&) {
    out_.push_back(']');
    --depth_;
    return true;
  }
  bool on_object_end(std::size_t, error_code&) {
    out_.push_back('}');
    Level& level = levels_[--depth_];
    if (level.repeated) keepLastValues(level);
    level.keys.clear();
    return true;
  }

  bool on_key_part(string_view s, std::size_t, error_code&) {
    keyPart(s);
    return true;
  }
  bool on_key(string_view s, std::size_t, error_code&) {
    keyPart(s);
    out_.push_back('"');
    Level& level = levels_[depth_ - 1];
    if (!level.keys.insert(out_, keyStart_)) level.repeated = true;
    out_.push_back(':');
    keyStart_ = kNone;
    return true;
  }
  bool on_string_part(string_view s, std::size_t, error_code&) {
    stringPart(s);
    return true;
  }
  bool on_string(string_view s, std::size_t, error_code&) {
    stringPart(s);
    out_.push_back('"');
    stringOpen_ = false;
    return true;
  }
  bool on_number(const Number& value) {
    beginValue();
    if (json_text::appendNumber(out_, value)) return true;
    unencodable_ = true;
    return false;
  }
  bool on_bool(bool b, error_code&) {
    beginValue();
    out_ += b ? "true" : "false";
    return true;
  }
  bool on_null(error_code&) {
    beginValue();
    out_ += "null";
    return true;
  }

 private:
  static constexpr std::size_t kNone = std::size_t(-1);

  // The keys of one object so far, each as the position of its text in the
  // output (the quoted, escaped key, which equal keys share). Scanned while
  // few, indexed beyond that as AnyMap does.
  class KeySet {
   public:
    // False when the key at `position` (running to the end of `out`) is there already.
    bool insert(const std::string& out, std::size_t position) {
      const std::string_view key = std::string_view(out).substr(position);
      const std::uint32_t hash = hashIfIndexed(key);
      if (lookup(out, key, hash) != kNone) return false;
      if (!index_.empty()) {
        index_.fit(++count_);
        index_.place(hash, position);
        return true;
      }
      few_.push_back(position);
      if (few_.size() <= AnyMap::kIndexedSize) return true;
      count_ = few_.size();
      index_.fit(count_);
      for (std::size_t at : few_) {
        const std::string_view known = std::string_view(out).substr(at);
        index_.place(KeyIndex::fragment(known.substr(0, endOfValue(known, 0))), at);
      }
      few_.clear();
      return true;
    }
    // The position of the key's first occurrence.
    std::size_t find(const std::string& out, std::string_view key) const {
      return lookup(out, key, hashIfIndexed(key));
    }
    void clear() {
      few_.clear();
      index_.clear();
      count_ = 0;
    }

   private:
    std::uint32_t hashIfIndexed(std::string_view key) const {
      return index_.empty() ? 0 : KeyIndex::fragment(key);
    }
    // As find, with `hash` from hashIfIndexed. A key is compared with the bytes
    // where another begins: escaped keys end at their first unescaped quote, so
    // equal bytes up to the new key's end mean an equal key.
    std::size_t lookup(const std::string& out, std::string_view key, std::uint32_t hash) const {
      const auto keyAt = [&out, &key](std::size_t at) {
        return std::string_view(out).substr(at, key.size());
      };
      if (!index_.empty()) return index_.find(key, hash, kNone, keyAt);
      for (std::size_t at : few_) {
        if (keyAt(at) == key) return at;
      }
      return kNone;
    }

    std::vector<std::size_t> few_;
    KeyIndex index_;
    std::size_t count_ = 0;
  };

  struct Level {
    bool object = false;
    bool first = true;
    bool repeated = false;
    std::size_t start = 0;  // where its bracket is in the output
    KeySet keys;
  };

  bool open(char bracket, bool object) {
    beginValue();
    if (depth_ == levels_.size()) levels_.emplace_back();
    Level& level = levels_[depth_++];
    level.object = object;
    level.first = true;
    level.repeated = false;
    level.start = out_.size();
    out_.push_back(bracket);
    return true;
  }
  // The comma before a value; an object's comes before the key.
  void beginValue() {
    if (depth_ == 0) return;
    Level& level = levels_[depth_ - 1];
    if (level.object) return;
    if (!level.first) out_.push_back(',');
    level.first = false;
  }
  void keyPart(string_view s) {
    if (keyStart_ == kNone) {
      Level& level = levels_[depth_ - 1];
      if (!level.first) out_.push_back(',');
      level.first = false;
      keyStart_ = out_.size();
      out_.push_back('"');
    }
    json_text::appendEscapedPart(out_, std::string_view(s.data(), s.size()));
  }
  void stringPart(string_view s) {
    if (!stringOpen_) {
      beginValue();
      out_.push_back('"');
      stringOpen_ = true;
    }
    json_text::appendEscapedPart(out_, std::string_view(s.data(), s.size()));
  }

  // Rewrites the object just closed, whose keys repeat: each key once, at its
  // first position, with the value of its last occurrence.
  void keepLastValues(Level& level) {
    // Where each member's key begins and its colon is (positions fit 32 bits, see
    // kLargestOnePassText); its value runs to the comma before the next key.
    struct Member {
      std::uint32_t key, colon;
    };
    std::vector<Member> members;
    for (std::size_t at = level.start + 1; out_[at] != '}';) {
      const std::size_t colon = endOfValue(out_, at);
      const std::size_t end = endOfValue(out_, colon + 1);
      members.push_back({static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(colon)});
      at = out_[end] == ',' ? end + 1 : end;
    }
    const auto valueEnd = [&](std::size_t i) {
      return i + 1 < members.size() ? members[i + 1].key - 1 : out_.size() - 1;
    };
    // For each key's first member, its last; the other members are left out.
    constexpr std::uint32_t kLeftOut = std::uint32_t(-1);
    std::vector<std::uint32_t> last(members.size(), kLeftOut);
    for (std::size_t i = 0; i < members.size(); ++i) {
      const Member& m = members[i];
      const std::size_t first =
          level.keys.find(out_, std::string_view(out_).substr(m.key, m.colon - m.key));
      const auto byKey = [](const Member& a, std::size_t key) { return a.key < key; };
      last[std::lower_bound(members.begin(), members.end(), first, byKey) - members.begin()] =
          static_cast<std::uint32_t>(i);
    }
    level.keys.clear();  // its memory is wanted for the copy
    std::string object = "{";
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (last[i] == kLeftOut) continue;
      if (object.size() > 1) object.push_back(',');
      const Member& m = members[i];
      const Member& value = members[last[i]];
      object.append(out_, m.key, m.colon + 1 - m.key);
      object.append(out_, value.colon + 1, valueEnd(last[i]) - value.colon - 1);
    }
    object.push_back('}');
    out_.resize(level.start);
    out_ += object;
  }

  std::string out_;
  std::vector<Level> levels_;  // kept for reuse: depth_ of them are open
  std::size_t depth_ = 0;
  std::size_t keyStart_ = kNone;
  bool stringOpen_ = false;
  bool unencodable_ = false;
};

// Positions in the output must fit 32 bits (a key index's, a rewritten object's): the
// output is at most 5/3 of the text ("1e5" becomes "1e+05").
constexpr std::size_t kLargestOnePassText = std::size_t{1} << 30;

}  // namespace

std::optional<AnyMap> outlineJsonObject(std::string_view text) {
  json::basic_parser<Outliner> parser(json_text::decodeOptions());
  if (!parseWhole(parser, text) || !parser.handler().topIsObject()) return std::nullopt;
  return parser.handler().take();
}

std::optional<std::string> reencodeJson(std::string_view text) {
  if (text.size() > kLargestOnePassText) {
    const std::optional<AnyValue> value = decodeJson(text);
    return value ? encodeJson(*value) : std::nullopt;
  }
  json::basic_parser<Reencoder> parser(json_text::decodeOptions(), text.size());
  if (!parseWhole(parser, text)) return std::nullopt;
  return parser.handler().take();
}

}  // namespace ostrela
