#include "platform/linux/native_messaging/native_host_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "platform/linux/native_messaging/deadline.h"
#include "platform/linux/native_messaging/frame_codec.h"

extern char** environ;

namespace ostrela::linux_platform {
namespace {

std::string describe(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// This process's environment with `overrides` ("NAME=value") replacing or added.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides) {
  const auto nameOf = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view name = nameOf(*entry);
    const bool replaced = std::any_of(overrides.begin(), overrides.end(),
                                      [&](const std::string& o) { return nameOf(o) == name; });
    if (!replaced) merged.emplace_back(*entry);
  }
  merged.insert(merged.end(), overrides.begin(), overrides.end());
  return merged;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

int statusOf(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

}  // namespace

NativeHostProcess::NativeHostProcess(const std::filesystem::path& executable,
                                     const std::vector<std::string>& arguments,
                                     const std::vector<std::string>& environment) {
  ::signal(SIGPIPE, SIG_IGN);
  Pipe in = makePipe();
  Pipe out = makePipe();
  Pipe err = makePipe();
  if (!in.read.valid() || !out.read.valid() || !err.read.valid()) {
    startFailure_ = "cannot make a pipe: " + describe(errno);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.read.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);
  std::vector<std::string> argv{executable.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> env = mergedEnvironment(environment);
  // The host starts as a browser starts it: SIGPIPE not ignored, no signal blocked.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  // In a process group of its own, so that ending the host ends what it started.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  const int spawned = ::posix_spawn(&pid_, executable.c_str(), &actions, &attributes,
                                    pointersTo(argv).data(), pointersTo(env).data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    pid_ = -1;
    startFailure_ = executable.string() + ": " + describe(spawned);
    return;
  }
  input_ = std::move(in.write);
  output_ = std::move(out.read);
  // Writes wait in poll(), where a deadline can end them (this end is ours alone).
  ::fcntl(input_.get(), F_SETFL, ::fcntl(input_.get(), F_GETFL) | O_NONBLOCK);
  errorReader_ = std::thread([this, fd = std::move(err.read)] {
    char buffer[4096];
    // A process that escaped the host's group may hold stderr open for ever:
    // once the host is gone, reading stops at the first quiet moment, or soon.
    std::optional<std::chrono::steady_clock::time_point> stopAt;
    for (;;) {
      if (!stopAt && hostGone_.load()) {
        stopAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
      }
      if (stopAt && std::chrono::steady_clock::now() >= *stopAt) break;
      pollfd ready{fd.get(), POLLIN, 0};
      const int polled = ::poll(&ready, 1, 20);
      if (polled < 0 && errno != EINTR) break;
      if (polled <= 0) {
        if (stopAt) break;
        continue;
      }
      const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      std::lock_guard lock(errorMutex_);
      errorText_.append(buffer, static_cast<std::size_t>(n));
      if (errorText_.size() > 2 * kMaxErrorOutput) {
        errorText_.erase(0, errorText_.size() - kMaxErrorOutput);
      }
    }
  });
}

NativeHostProcess::~NativeHostProcess() {
  input_.reset();
  output_.reset();
  if (pid_ > 0) terminate(std::chrono::milliseconds(0));
  stopReadingErrors();
}

void NativeHostProcess::stopReadingErrors() {
  hostGone_.store(true);
  if (errorReader_.joinable()) errorReader_.join();
}

bool NativeHostProcess::writeBytes(std::string_view bytes,
                                   std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (!input_.valid()) return false;
  while (!bytes.empty()) {
    pollfd ready{input_.get(), POLLOUT, 0};
    const int polled = ::poll(&ready, 1, deadline ? millisecondsUntil(*deadline) : -1);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    const ssize_t n = ::write(input_.get(), bytes.data(), bytes.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool NativeHostProcess::writeFrame(std::string_view body,
                                   std::optional<std::chrono::steady_clock::time_point> deadline) {
  return writeBytes(encodeFrame(body), deadline);
}

void NativeHostProcess::closeInput() {
  input_.reset();
}

void NativeHostProcess::closeOutput() {
  output_.reset();
}

FrameReadResult NativeHostProcess::nextFrame(std::chrono::steady_clock::time_point deadline,
                                             std::uint32_t maxLength) {
  return FrameReader(output_.get(), deadline, maxLength).next();
}

std::optional<std::string> NativeHostProcess::readFrame(std::chrono::milliseconds timeout) {
  FrameReadResult next = nextFrame(std::chrono::steady_clock::now() + timeout);
  if (auto* frame = std::get_if<Frame>(&next)) return std::move(frame->body);
  return std::nullopt;
}

std::vector<std::string> NativeHostProcess::readAllFrames(std::chrono::milliseconds timeout) {
  std::vector<std::string> frames;
  while (auto frame = readFrame(timeout)) frames.push_back(std::move(*frame));
  return frames;
}

int NativeHostProcess::wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) {
    waitFailure_ = "the host is not running";
    return kWaitFailed;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::optional<bool> ended = exited();
    if (!ended) {
      pid_ = -1;  // gone, or never ours to wait for: nothing left to end
      return kWaitFailed;
    }
    if (*ended) break;
    if (std::chrono::steady_clock::now() >= deadline) return kStillRunning;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The host is a zombie, so its group's id is still ours: end what it left running there.
  ::kill(-pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  stopReadingErrors();
  return statusOf(status);
}

std::optional<bool> NativeHostProcess::exited() {
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
      return info.si_pid == pid_;
    }
    if (errno == EINTR) continue;
    waitFailure_ = "waitpid: " + describe(errno);
    return std::nullopt;
  }
}

int NativeHostProcess::terminate(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return wait(grace);
  ::kill(-pid_, SIGTERM);
  const int status = wait(grace);
  if (status != kStillRunning) return status;
  ::kill(-pid_, SIGKILL);
  return wait(std::chrono::seconds(5));
}

std::string NativeHostProcess::errorOutput() {
  std::lock_guard lock(errorMutex_);
  return errorText_.substr(errorText_.size() - std::min(errorText_.size(), kMaxErrorOutput));
}

}  // namespace ostrela::linux_platform
