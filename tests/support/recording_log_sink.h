// A log sink that keeps every line, for tests that check what was logged.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/logger.h"

namespace ostrela::testing {

struct RecordedLine {
  LogLevel level;
  std::string subsystem;
  std::string category;
  std::string message;
};

class RecordingLogSink : public LogSink {
 public:
  void write(LogLevel level, std::string_view subsystem, std::string_view category,
             std::string_view message) override {
    std::lock_guard lock(mutex_);
    lines_.push_back({level, std::string(subsystem), std::string(category), std::string(message)});
  }
  std::vector<RecordedLine> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  std::vector<std::string> messages() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& line : lines_) out.push_back(line.message);
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<RecordedLine> lines_;
};

}  // namespace ostrela::testing
