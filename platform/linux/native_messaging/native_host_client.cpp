#include "platform/linux/native_messaging/native_host_client.h"

#include <algorithm>
#include <thread>

#include "platform/linux/browser_registrations.h"
#include "platform/linux/native_messaging/host_process.h"
#include "platform/linux/preference_file.h"

namespace ostrela::linux_platform {

std::optional<InstalledHost> findInstalledHost(std::string_view hostName) {
  for (const KnownBrowser& browser : knownBrowsers(BrowserEnvironment::fromEnvironment())) {
    for (const auto& folder : browser.manifestFolders) {
      const auto manifest = folder / (std::string(hostName) + ".json");
      const auto contents = readPreferenceFile(manifest);
      if (!contents) continue;
      const AnyValue* path = contents->find("path");
      if (path != nullptr && path->isString()) return InstalledHost{manifest, *path->asString()};
    }
  }
  return std::nullopt;
}

HostSession runHost(const std::filesystem::path& executable,
                    const std::vector<std::string>& arguments,
                    const std::vector<std::string>& frameBodies,
                    std::chrono::milliseconds timeout) {
  HostSession session;
  HostProcess host(executable, arguments);
  if (!host.startFailure().empty()) {
    session.failure = "cannot start the host: " + host.startFailure();
    return session;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // Writes on a thread of its own, so that a host that answers before reading
  // everything never blocks against us. Ends when the host stops reading.
  std::thread writer([&host, &frameBodies] {
    for (const std::string& body : frameBodies) {
      if (!host.writeFrame(body)) break;
    }
    host.closeInput();
  });
  bool timedOut = false;
  for (;;) {
    FrameReadResult next = host.nextFrame(deadline);
    if (auto* frame = std::get_if<Frame>(&next)) {
      session.replies.push_back(std::move(frame->body));
      continue;
    }
    if (auto* oversized = std::get_if<OversizedFrame>(&next)) {
      session.failure = "the host sent a frame of " + std::to_string(oversized->length) +
                        " bytes, more than a browser accepts";
    }
    timedOut = std::holds_alternative<ReadTimedOut>(next);
    break;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  int status = timedOut ? HostProcess::kStillRunning
                        : host.wait(std::max(left, std::chrono::milliseconds(0)));
  if (status == HostProcess::kStillRunning) {
    timedOut = true;
    status = host.terminate(std::chrono::milliseconds(500));
  }
  writer.join();  // the host is gone or has closed its input: the writer has stopped
  if (timedOut) {
    session.failure =
        "the host did not finish within " + std::to_string(timeout.count()) + " ms; ended it";
  }
  if (status == HostProcess::kWaitFailed) {
    session.failure = "cannot learn the host's exit status: " + host.waitFailure();
  } else {
    session.exitStatus = status;
  }
  session.errorOutput = host.errorOutput();
  return session;
}

}  // namespace ostrela::linux_platform
