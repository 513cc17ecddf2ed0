#include "platform/linux/native_messaging/native_host_client.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "extension/native_reply.h"
#include "platform/linux/browsers/browser_registrations.h"
#include "platform/linux/native_messaging/deadline.h"
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
// How often a host that has answered everything is looked at for its exit.
constexpr std::chrono::milliseconds kExitPoll{20};

enum class Output { quiet, wrote, ended };

// Whether the host writes more, or ends its output, before `until`; a byte it
// wrote is read and dropped.
Output nextOutput(int fd, Clock::time_point until) {
  pollfd ready{fd, POLLIN, 0};
  if (::poll(&ready, 1, millisecondsUntil(until)) <= 0) return Output::quiet;
  char byte = 0;
  const ssize_t n = ::read(fd, &byte, 1);
  if (n < 0 && errno == EINTR) return Output::quiet;
  return n > 0 ? Output::wrote : Output::ended;
}

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
  // The messages go in on a thread of their own, so that a host that answers
  // before it has read them all never waits for this one to read.
  std::jthread writer([&host, &frameBodies, deadline] {
    for (const std::string& body : frameBodies) {
      if (!host.writeFrame(body, deadline)) break;
    }
    host.closeInput();
  });
  // One reply per message, each no larger than a browser takes: nothing more is kept.
  bool outputOpen = true;
  while (outputOpen && result.replies.size() < frameBodies.size() && result.failure.empty()) {
    FrameReadResult next = host.nextFrame(deadline, kMaxReplyLength);
    if (auto* frame = std::get_if<Frame>(&next)) {
      result.replies.push_back(std::move(frame->body));
    } else if (const auto* oversized = std::get_if<OversizedFrame>(&next)) {
      result.failure = "the host sent a frame of " + std::to_string(oversized->length) +
                       " bytes, more than a browser accepts";
    } else if (std::holds_alternative<EndOfInput>(next)) {
      outputOpen = false;
    } else {
      break;  // the deadline passed
    }
  }
  // Then the host should end its output and exit; what it writes instead, no browser reads.
  int status = NativeHostProcess::kStillRunning;
  std::optional<Clock::time_point> outputGraceEnd;  // set once the host is reaped
  while (result.failure.empty() &&
         Clock::now() < std::min(deadline, outputGraceEnd.value_or(deadline))) {
    if (status == NativeHostProcess::kStillRunning) {
      if (const std::optional<bool> ended = host.exited(); !ended) {
        status = NativeHostProcess::kWaitFailed;  // reaped elsewhere: read on until the output ends
      } else if (*ended) {
        status = host.wait(std::chrono::milliseconds(0));  // also ends what it left running
        outputGraceEnd = Clock::now() + kOutputGrace;
      }
    }
    if (!outputOpen) {
      if (status != NativeHostProcess::kStillRunning) break;
      std::this_thread::sleep_for(kExitPoll);
      continue;
    }
    const Output output =
        nextOutput(host.outputDescriptor(), std::min(deadline, Clock::now() + kExitPoll));
    if (output == Output::ended) outputOpen = false;
    if (output == Output::wrote)
      result.failure = "the host kept writing after its replies; ended it";
  }
  if (status == NativeHostProcess::kStillRunning && host.exited() == true) {
    status = host.wait(std::chrono::milliseconds(0));
  }
  if (status == NativeHostProcess::kStillRunning) {
    if (result.failure.empty()) {
      result.failure =
          "the host did not finish within " + std::to_string(timeout.count()) + " ms; ended it";
    }
    status = host.terminate(std::chrono::milliseconds(500));
  } else if (outputOpen && result.failure.empty()) {
    result.failure = "the host exited, but a process it started keeps its output open";
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
