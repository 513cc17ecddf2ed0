// Where log lines go on Linux: one line per event on stderr (a browser keeps
// its native hosts' stderr), or entries in the systemd journal when stderr is
// connected to it (JOURNAL_STREAM).
#pragma once

#include "core/logger.h"

namespace ostrela::linux_platform {

// OSTRELA_LOG_LEVEL=debug turns on debug lines; OSTRELA_LOG_PRIVATE=1 shows private arguments.
LogSettings logSettingsFromEnvironment();

// The process's sink, chosen once on first use; never destroyed.
LogSink& processLogSink();

// Writes "<time> <subsystem>[<category>] <level>: <message>" lines to a file
// descriptor, each with a single write.
class DescriptorLogSink : public LogSink {
 public:
  explicit DescriptorLogSink(int fd) : fd_(fd) {}
  void write(LogLevel level, std::string_view subsystem, std::string_view category,
             std::string_view message) override;

 private:
  int fd_;
};

}  // namespace ostrela::linux_platform
