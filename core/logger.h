// A unified-log style logger: a subsystem and a category, levels, and format
// strings whose arguments are marked public or private ("%{public}s",
// "%{private}s", "%{public}ld").
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace ostrela {

enum class LogLevel { debug, info, error };

// One argument of a log line: a C string, a string view (which may hold NUL
// characters, logged whole) or a signed 64-bit integer. Holds no copy, so
// passing arguments costs nothing when the level is off.
class LogArg {
 public:
  LogArg(const char* text) : text_(text) {}
  LogArg(std::string_view text) : text_(text.data()), size_(text.size()) {}
  LogArg(std::int64_t number) : number_(number), isNumber_(true) {}

  bool isNumber() const { return isNumber_; }
  // Null for a null C string.
  const char* data() const { return text_; }
  std::string_view text() const {
    return size_ == kNulTerminated ? std::string_view(text_) : std::string_view(text_, size_);
  }
  std::int64_t number() const { return number_; }

 private:
  static constexpr std::size_t kNulTerminated = static_cast<std::size_t>(-1);
  const char* text_ = nullptr;
  std::size_t size_ = kNulTerminated;
  std::int64_t number_ = 0;
  bool isNumber_ = false;
};

// Where formatted lines go. Implementations are thread-safe.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void write(LogLevel level, std::string_view subsystem, std::string_view category,
                     std::string_view message) = 0;
};

// Which levels are written, and whether private arguments are shown.
struct LogSettings {
  bool debugEnabled = false;
  bool showPrivate = false;
};

// Immutable after construction; safe to use from any thread.
class Logger {
 public:
  Logger(std::string subsystem, std::string category, LogSink& sink, LogSettings settings)
      : subsystem_(std::move(subsystem)),
        category_(std::move(category)),
        sink_(&sink),
        settings_(settings) {}

  bool isEnabled(LogLevel level) const {
    return level != LogLevel::debug || settings_.debugEnabled;
  }

  // Formats and writes one line when `level` is enabled; does nothing else otherwise.
  void log(LogLevel level, std::string_view format, std::initializer_list<LogArg> args) const;

  const std::string& subsystem() const { return subsystem_; }
  const std::string& category() const { return category_; }

 private:
  std::string subsystem_;
  std::string category_;
  LogSink* sink_;
  LogSettings settings_;
};

// Expands an os_log style format. Private arguments print as "<private>"
// unless `showPrivate`. Unknown directives are copied as they stand.
std::string formatLogMessage(std::string_view format, std::initializer_list<LogArg> args,
                             bool showPrivate);

// `text` for a line of its own in a text log: a line feed as "\\n", every
// other control character (C0, DEL and C1) as "\\u00XX", so that no argument
// can end the line or write one that looks like another event.
std::string escapeControlCharacters(std::string_view text);

}  // namespace ostrela
