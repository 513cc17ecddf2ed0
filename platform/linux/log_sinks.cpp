#include "platform/linux/log_sinks.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace ostrela::linux_platform {
namespace {

const char* levelName(LogLevel level) {
  switch (level) {
    case LogLevel::debug:
      return "debug";
    case LogLevel::info:
      return "info";
    case LogLevel::error:
      return "error";
  }
  return "info";
}

// syslog priorities, as the journal expects them.
const char* journalPriority(LogLevel level) {
  switch (level) {
    case LogLevel::debug:
      return "7";
    case LogLevel::info:
      return "6";
    case LogLevel::error:
      return "3";
  }
  return "6";
}

std::string timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char buffer[40];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(buffer + n, sizeof buffer - n, ".%03dZ", static_cast<int>(millis));
  return buffer;
}

// "<time> <subsystem>[<category>] <level>: <message>\n", control characters escaped.
std::string formatLine(LogLevel level, std::string_view subsystem, std::string_view category,
                       std::string_view message) {
  std::string line = timestamp();
  line.append(" ").append(subsystem).append("[").append(category).append("] ");
  line.append(levelName(level)).append(": ").append(escapeControlCharacters(message)).append("\n");
  return line;
}

// Writes `line` to `fd` without waiting when `fd` is a socket (stderr connected to the
// journal is one). False when not all of it went; a line cut short loses its rest.
bool writeWithoutWaiting(int fd, std::string_view line) {
  while (!line.empty()) {
    ssize_t n = ::send(fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = ::write(fd, line.data(), line.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    line.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void appendField(std::string& out, std::string_view name, std::string_view value) {
  if (value.find_first_of(std::string_view("\n\0", 2)) == std::string_view::npos) {
    out.append(name).append("=").append(value).append("\n");
    return;
  }
  // The journal's binary form: name, newline, 64-bit little-endian length, value.
  out.append(name).append("\n");
  std::uint64_t length = value.size();
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
  out.append(value).append("\n");
}

// True when JOURNAL_STREAM names the device and inode of our stderr.
bool stderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat info {};
  return ::fstat(STDERR_FILENO, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

}  // namespace

void DescriptorLogSink::write(LogLevel level, std::string_view subsystem, std::string_view category,
                              std::string_view message) {
  // A closed stderr loses the line, never the process.
  writeAll(fd_, formatLine(level, subsystem, category, message));
}

JournalLogSink::JournalLogSink(const std::filesystem::path& socketPath, int fallbackFd)
    : socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)),
      fallbackFd_(fallbackFd) {
  address_.sun_family = AF_UNIX;
  const std::string& path = socketPath.native();
  if (path.size() < sizeof address_.sun_path) {
    std::memcpy(address_.sun_path, path.c_str(), path.size() + 1);
  } else {
    socket_.reset();  // no such socket can exist: every line goes to the fallback
  }
}

void JournalLogSink::write(LogLevel level, std::string_view subsystem, std::string_view category,
                           std::string_view message) {
  if (const std::uint64_t lost = dropped_.exchange(0); lost != 0) {
    const std::string notice = std::to_string(lost) +
                               " earlier log line(s) were dropped: neither the journal nor stderr "
                               "could take them without waiting";
    if (!deliver(LogLevel::error, subsystem, category, notice)) dropped_ += lost;
  }
  if (!deliver(level, subsystem, category, message)) ++dropped_;
}

bool JournalLogSink::deliver(LogLevel level, std::string_view subsystem, std::string_view category,
                             std::string_view message) const {
  std::string entry;
  appendField(entry, "MESSAGE", message);
  appendField(entry, "PRIORITY", journalPriority(level));
  appendField(entry, "SYSLOG_IDENTIFIER", program_invocation_short_name);
  appendField(entry, "OSTRELA_SUBSYSTEM", subsystem);
  appendField(entry, "OSTRELA_CATEGORY", category);
  // Never waits: a journal that is not there, refuses the entry (too large) or has a full
  // queue gets nothing, and the line goes to the fallback.
  if (socket_.valid() &&
      ::sendto(socket_.get(), entry.data(), entry.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&address_), sizeof address_) >= 0) {
    return true;
  }
  return writeWithoutWaiting(fallbackFd_, formatLine(level, subsystem, category, message));
}

LogSettings logSettingsFromEnvironment() {
  LogSettings settings;
  const char* level = std::getenv("OSTRELA_LOG_LEVEL");
  settings.debugEnabled = level != nullptr && std::strcmp(level, "debug") == 0;
  const char* showPrivate = std::getenv("OSTRELA_LOG_PRIVATE");
  settings.showPrivate = showPrivate != nullptr && std::strcmp(showPrivate, "1") == 0;
  return settings;
}

LogSink& processLogSink() {
  static LogSink* const sink =
      stderrIsJournal() ? static_cast<LogSink*>(new JournalLogSink(kJournalSocket, STDERR_FILENO))
                        : new DescriptorLogSink(STDERR_FILENO);
  return *sink;
}

}  // namespace ostrela::linux_platform
