#include "tests/support/host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace ostrela::testing {
namespace {

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

std::string frameOf(std::string_view body) {
  const auto length = static_cast<std::uint32_t>(body.size());
  std::string frame(4, '\0');
  std::memcpy(frame.data(), &length, 4);
  frame.append(body);
  return frame;
}

HostProcess::HostProcess(const std::string& executable, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment) {
  std::signal(SIGPIPE, SIG_IGN);  // a host that went away must not take the test with it
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<std::string> argv{executable};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> env;
  const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const bool replaced =
        std::any_of(environment.begin(), environment.end(),
                    [&](const std::string& x) { return nameOf(x) == nameOf(entry); });
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), environment.begin(), environment.end());
  std::vector<char*> argp, envp;
  for (auto& a : argv) argp.push_back(a.data());
  for (auto& e : env) envp.push_back(e.data());
  argp.push_back(nullptr);
  envp.push_back(nullptr);
  const int spawned =
      ::posix_spawn(&pid_, executable.c_str(), &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  input_ = in[1];
  output_ = out[0];
  errorReader_ = std::thread([this, fd = err[0]] {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      std::lock_guard lock(errorMutex_);
      errorText_.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
  });
  if (spawned != 0) throw std::runtime_error("cannot start " + executable);
}

HostProcess::~HostProcess() {
  closeFd(input_);
  closeFd(output_);
  if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (errorReader_.joinable()) errorReader_.join();
}

void HostProcess::writeBytes(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(input_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void HostProcess::writeFrame(std::string_view body) {
  writeBytes(frameOf(body));
}
void HostProcess::closeInput() {
  closeFd(input_);
}
void HostProcess::closeOutput() {
  closeFd(output_);
}

bool HostProcess::readExactly(char* out, std::size_t size,
                              std::chrono::steady_clock::time_point deadline) {
  std::size_t done = 0;
  while (done < size) {
    pollfd p{output_, POLLIN, 0};
    if (::poll(&p, 1, remainingMs(deadline)) <= 0) return false;
    const ssize_t n = ::read(output_, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<std::string> HostProcess::readFrame(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char header[4];
  if (!readExactly(header, 4, deadline)) return std::nullopt;
  std::uint32_t length = 0;
  std::memcpy(&length, header, 4);
  std::string body(length, '\0');
  if (!readExactly(body.data(), length, deadline)) return std::nullopt;
  return body;
}

std::vector<std::string> HostProcess::readAllFrames(std::chrono::milliseconds timeout) {
  std::vector<std::string> frames;
  while (auto frame = readFrame(timeout)) frames.push_back(std::move(*frame));
  return frames;
}

int HostProcess::wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) != pid_) {
    if (std::chrono::steady_clock::now() > deadline) return -1;
    ::usleep(5000);
  }
  pid_ = -1;
  if (errorReader_.joinable()) errorReader_.join();  // the host's stderr is closed now
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

long HostProcess::peakMemoryKiB() const {
  if (pid_ <= 0) return 0;
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

std::string HostProcess::errorOutput() {
  std::lock_guard lock(errorMutex_);
  return errorText_;
}

}  // namespace ostrela::testing
