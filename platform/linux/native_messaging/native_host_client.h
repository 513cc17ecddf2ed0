// The browser's side of native messaging, for checking a deployment: find an
// installed host by name, start it, send it frames, collect its replies.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrela::linux_platform {

struct InstalledHost {
  std::filesystem::path manifest;
  std::filesystem::path executable;
};

// The first valid manifest for `hostName` in the folders of the browser table
// (each browser's per-user folder first; as root, the system folders only).
std::optional<InstalledHost> findInstalledHost(std::string_view hostName);

// Run as root, a host is started only from a manifest and an executable that
// root alone can have written (each file and every folder above it root's and
// writable by root only, as forced preferences are checked): why not, or
// nothing when it may be started (always nothing for other accounts).
std::optional<std::string> whyRootMayNotStart(const std::filesystem::path& manifest,
                                              const std::filesystem::path& executable);

// Long enough for the relay's longest budget (10 s) and a slow start.
inline constexpr std::chrono::milliseconds kDefaultHostTimeout{15000};

struct HostSession {
  std::vector<std::string>
      replies;              // frame bodies, in the order they arrived; one per body at most
  int exitStatus = -1;      // the exit status, or 128 + signal; -1 when unknown
  std::string failure;      // why the session did not end normally; empty when it did
  std::string errorOutput;  // what the host wrote to stderr (its last 1 MiB)
};

// Starts `executable` with `arguments` in a process group of its own, writes
// one frame per body, closes its input, and reads one reply per body, each at
// most the 1 MiB a browser accepts; then the host must end its output and exit
// (what it leaves running in its group is ended). A host that goes on writing,
// sends a larger frame, or has not finished within `timeout` is ended with its
// group (SIGTERM, then SIGKILL) and the failure says so; so does every other
// fault (start, wait, output held open by a process it started). No read or
// write waits past the timeout.
HostSession runHost(const std::filesystem::path& executable,
                    const std::vector<std::string>& arguments,
                    const std::vector<std::string>& frameBodies,
                    std::chrono::milliseconds timeout = kDefaultHostTimeout);

}  // namespace ostrela::linux_platform
