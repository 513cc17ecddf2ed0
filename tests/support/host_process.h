// OstrelaExtension as a child process on pipes, for tests that speak the
// native-messaging protocol to the real executable.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ostrela::testing {

class HostProcess {
 public:
  // Starts `executable` with `arguments`; `environment` entries ("NAME=value")
  // are added to the test's own environment, replacing variables of the same name.
  // The host's stderr is collected all along, so a chatty host never blocks.
  HostProcess(const std::string& executable, const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment);
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  void writeBytes(std::string_view bytes);
  void writeFrame(std::string_view body);
  void closeInput();
  // Stops reading the host's output, as a browser that went away.
  void closeOutput();

  // The next reply frame's body, or nothing at end of output or after `timeout`.
  std::optional<std::string> readFrame(std::chrono::milliseconds timeout);
  // Every remaining frame until the host closes its output.
  std::vector<std::string> readAllFrames(std::chrono::milliseconds timeout);

  // Waits for the exit: the exit status, 128 + signal, or -1 after `timeout`.
  int wait(std::chrono::milliseconds timeout);
  // The running child's peak resident memory so far (VmHWM), in KiB; 0 once it has exited.
  long peakMemoryKiB() const;
  pid_t pid() const { return pid_; }
  // Everything the host wrote to stderr (all of it once wait() has returned).
  std::string errorOutput();

 private:
  bool readExactly(char* out, std::size_t size, std::chrono::steady_clock::time_point deadline);
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::thread errorReader_;
  std::mutex errorMutex_;
  std::string errorText_;  // guarded by errorMutex_
};

std::string frameOf(std::string_view body);

}  // namespace ostrela::testing
