// A native-messaging host as a child process on pipes, driven the way a
// browser drives it: frames to its stdin, frames from its stdout, its stderr
// collected all along (so a chatty host never blocks). The host runs in a
// process group of its own, which is ended with it. Every wait is bounded,
// also when a process the host started keeps its pipes open.
// For ostrela-native-client, deployment checks and the tests. One thread may
// write (writeBytes, writeFrame, closeInput) while another reads and waits.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/linux/file_descriptor.h"
#include "platform/linux/native_messaging/frame_reader.h"

namespace ostrela::linux_platform {

class NativeHostProcess {
 public:
  // What wait() returns instead of an exit status.
  static constexpr int kStillRunning = -1;
  static constexpr int kWaitFailed = -2;

  // Starts `executable` with `arguments`; `environment` entries ("NAME=value")
  // are added to this process's environment, replacing variables of the same
  // name. Ignores SIGPIPE in this process from then on: a host that stops
  // reading must not kill its caller. startFailure() says whether it started.
  NativeHostProcess(const std::filesystem::path& executable,
                    const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment = {});
  // Kills a host that is still running, and reaps it.
  ~NativeHostProcess();
  NativeHostProcess(const NativeHostProcess&) = delete;
  NativeHostProcess& operator=(const NativeHostProcess&) = delete;

  // Why the host could not be started; empty when it was.
  const std::string& startFailure() const { return startFailure_; }

  // False when the host stopped reading (or was never started), or when
  // `deadline` passed first; without one, writing waits as long as it takes.
  bool writeBytes(std::string_view bytes,
                  std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);
  bool writeFrame(std::string_view body,
                  std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);
  void closeInput();
  // Stops reading the host's output, as a browser that went away.
  void closeOutput();

  // The next frame, end of output, ReadTimedOut at `deadline`, or
  // OversizedFrame for a length above `maxLength`.
  FrameReadResult nextFrame(std::chrono::steady_clock::time_point deadline,
                            std::uint32_t maxLength = kMaxInboundFrameLength);
  // The next reply frame's body, or nothing at end of output or after `timeout`.
  std::optional<std::string> readFrame(std::chrono::milliseconds timeout);
  // Every remaining frame until the host closes its output (each within `timeout`).
  std::vector<std::string> readAllFrames(std::chrono::milliseconds timeout);

  // Waits for the exit: the exit status, 128 + signal, kStillRunning after
  // `timeout`, or kWaitFailed when waitpid fails (waitFailure() says why).
  // Once the host has exited, what is left of its process group is killed.
  int wait(std::chrono::milliseconds timeout);
  // Whether the host has exited, without reaping it; nothing when it cannot be learnt.
  std::optional<bool> exited();
  // Ends the host's process group: SIGTERM, then SIGKILL after `grace`. Returns as wait() does.
  int terminate(std::chrono::milliseconds grace);
  const std::string& waitFailure() const { return waitFailure_; }

  pid_t pid() const { return pid_; }
  // What the host wrote to stderr, its last kMaxErrorOutput bytes (all of
  // them once wait() has returned a status, unless a process outside its
  // group still holds stderr).
  static constexpr std::size_t kMaxErrorOutput = 1024 * 1024;
  std::string errorOutput();
  int inputDescriptor() const { return input_.get(); }
  int outputDescriptor() const { return output_.get(); }

 private:
  pid_t pid_ = -1;
  std::string startFailure_;
  std::string waitFailure_;
  FileDescriptor input_;
  FileDescriptor output_;
  void stopReadingErrors();
  std::atomic<bool> hostGone_{false};
  std::thread errorReader_;
  std::mutex errorMutex_;
  std::string errorText_;  // guarded by errorMutex_
};

}  // namespace ostrela::linux_platform
