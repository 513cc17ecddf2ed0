// Where log lines go on Linux: one line per event on stderr (a browser keeps
// its native hosts' stderr), or entries in the systemd journal when stderr is
// connected to it (JOURNAL_STREAM).
#pragma once

#include <sys/un.h>

#include <atomic>
#include <cstdint>
#include <filesystem>

#include "core/logger.h"
#include "platform/linux/file_descriptor.h"

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

// The journal's socket for native entries.
inline constexpr const char* kJournalSocket = "/run/systemd/journal/socket";

// Sends each line as a journal entry to the datagram socket at `socketPath`, and never
// waits, so that no reply waits on logging: when the journal is not there, refuses an
// entry (too large) or has a full queue, the line goes to `fallbackFd` (stderr) in the
// descriptor sink's form, also without waiting when it is a socket. A line that neither
// takes is dropped and counted; the next line that gets through is preceded by one error
// line that says how many were lost.
class JournalLogSink : public LogSink {
 public:
  JournalLogSink(const std::filesystem::path& socketPath, int fallbackFd);
  void write(LogLevel level, std::string_view subsystem, std::string_view category,
             std::string_view message) override;

 private:
  // False when the line went nowhere.
  bool deliver(LogLevel level, std::string_view subsystem, std::string_view category,
               std::string_view message) const;

  FileDescriptor socket_;
  sockaddr_un address_{};
  int fallbackFd_;
  std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace ostrela::linux_platform
