#include "platform/linux/native_messaging/native_host_client.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/linux/browsers/browser_registrations.h"
#include "platform/linux/native_messaging/frame_codec.h"
#include "platform/linux/native_messaging/native_host_process.h"
#include "platform/linux/preferences/managed_preferences_trust.h"

namespace ostrela::linux_platform {

std::optional<InstalledHost> findInstalledHost(std::string_view hostName) {
  const BrowserEnvironment environment = BrowserEnvironment::fromEnvironment();
  for (const Browser& browser : browserTable()) {
    const auto found = findManifest(browser, environment, std::string(hostName));
    const auto* manifest = found ? std::get_if<HostManifest>(&found->manifest) : nullptr;
    if (manifest != nullptr) return InstalledHost{found->path, manifest->executable};
  }
  return std::nullopt;
}

std::optional<std::string> whyRootMayNotStart(const std::filesystem::path& manifest,
                                              const std::filesystem::path& executable) {
  if (::geteuid() != 0) return std::nullopt;
  for (const auto& file : {manifest, executable}) {
    if (auto why = whyManagedFileIsUntrusted(file)) {
      return "not started as root: " + file.string() + ": " + *why;
    }
  }
  return std::nullopt;
}

namespace {

using Clock = std::chrono::steady_clock;

// How long the host's output may stay open once the host has exited and its
// group has been ended: only a process that left the group can hold it.
constexpr std::chrono::milliseconds kOutputGrace{250};
// How often the loop looks whether the host has exited.
constexpr int kExitPollMs = 20;

int millisecondsUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, kExitPollMs));
}

// The host's side of one session: frames in, frames out, on one thread with
// poll(), so that no read or write ever waits past the deadline.
class Session {
 public:
  Session(NativeHostProcess& host, const std::vector<std::string>& frameBodies) : host_(host) {
    for (const std::string& body : frameBodies) pending_ += encodeFrame(body);
    const int input = host_.inputDescriptor();
    ::fcntl(input, F_SETFL, ::fcntl(input, F_GETFL) | O_NONBLOCK);
    if (pending_.empty()) closeInput();
  }

  // One round of poll(): writes what the host can take, reads what it sent.
  void step(Clock::time_point until) {
    pollfd ready[2];
    nfds_t count = 0;
    if (outputOpen_) ready[count++] = {host_.outputDescriptor(), POLLIN, 0};
    if (inputOpen_) ready[count++] = {host_.inputDescriptor(), POLLOUT, 0};
    if (::poll(ready, count, millisecondsUntil(until)) <= 0) return;
    for (nfds_t i = 0; i < count; ++i) {
      if (ready[i].revents == 0) continue;
      if (ready[i].fd == host_.inputDescriptor()) {
        write();
      } else {
        read();
      }
    }
  }

  bool outputOpen() const { return outputOpen_; }
  std::optional<std::uint32_t> oversized() const { return oversized_; }
  std::vector<std::string> takeReplies() { return std::move(replies_); }

 private:
  void closeInput() {
    host_.closeInput();
    inputOpen_ = false;
  }

  void write() {
    const std::string_view rest = std::string_view(pending_).substr(written_);
    const ssize_t n = ::write(host_.inputDescriptor(), rest.data(), rest.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n < 0) return closeInput();  // the host stopped reading
    written_ += static_cast<std::size_t>(n);
    if (written_ == pending_.size()) closeInput();
  }

  void read() {
    char buffer[64 * 1024];
    const ssize_t n = ::read(host_.outputDescriptor(), buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
      outputOpen_ = false;
      return;
    }
    received_.append(buffer, static_cast<std::size_t>(n));
    std::size_t used = 0;
    while (received_.size() - used >= kFrameHeaderSize) {
      const std::uint32_t length = decodeFrameHeader(received_.data() + used);
      if (length > kMaxInboundFrameLength) {
        oversized_ = length;
        outputOpen_ = false;
        break;
      }
      if (received_.size() - used - kFrameHeaderSize < length) break;
      replies_.push_back(received_.substr(used + kFrameHeaderSize, length));
      used += kFrameHeaderSize + length;
    }
    received_.erase(0, used);
  }

  NativeHostProcess& host_;
  std::string pending_;
  std::size_t written_ = 0;
  bool inputOpen_ = true;
  bool outputOpen_ = true;
  std::string received_;
  std::vector<std::string> replies_;
  std::optional<std::uint32_t> oversized_;
};

}  // namespace

HostSession runHost(const std::filesystem::path& executable,
                    const std::vector<std::string>& arguments,
                    const std::vector<std::string>& frameBodies,
                    std::chrono::milliseconds timeout) {
  HostSession result;
  NativeHostProcess host(executable, arguments);
  if (!host.startFailure().empty()) {
    result.failure = "cannot start the host: " + host.startFailure();
    return result;
  }
  const auto deadline = Clock::now() + timeout;
  Session session(host, frameBodies);
  int status = NativeHostProcess::kStillRunning;
  std::optional<Clock::time_point> outputGraceEnd;  // set once the host is reaped
  bool statusUnknown = false;
  while (!session.oversized() && (session.outputOpen() || (!outputGraceEnd && !statusUnknown))) {
    const auto until = outputGraceEnd ? std::min(deadline, *outputGraceEnd) : deadline;
    if (Clock::now() >= until) break;
    session.step(until);
    if (outputGraceEnd || statusUnknown) continue;
    if (const std::optional<bool> ended = host.exited(); !ended) {
      statusUnknown = true;  // reaped elsewhere: read on until the output closes
      status = NativeHostProcess::kWaitFailed;
    } else if (*ended) {
      status = host.wait(std::chrono::milliseconds(0));  // also ends what it left running
      outputGraceEnd = Clock::now() + kOutputGrace;
    }
  }
  result.replies = session.takeReplies();
  if (const auto length = session.oversized()) {
    result.failure = "the host sent a frame of " + std::to_string(*length) +
                     " bytes, more than a browser accepts";
  }
  if (status == NativeHostProcess::kStillRunning) {
    if (result.failure.empty()) {
      result.failure =
          "the host did not finish within " + std::to_string(timeout.count()) + " ms; ended it";
    }
    status = host.terminate(std::chrono::milliseconds(500));
  } else if (session.outputOpen() && result.failure.empty()) {
    result.failure =
        "the host exited, but a process it started outside its group keeps its output open";
  }
  if (status == NativeHostProcess::kWaitFailed) {
    result.failure = "cannot learn the host's exit status: " + host.waitFailure();
  } else {
    result.exitStatus = status;
  }
  result.errorOutput = host.errorOutput();
  return result;
}

}  // namespace ostrela::linux_platform
