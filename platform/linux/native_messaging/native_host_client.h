// The browser's side of native messaging, for checking a deployment: find an
// installed host by name, start it, send it frames, collect its replies.
#pragma once

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

// The first manifest for `hostName` that names an executable, in the folders
// of Chromium, Google Chrome and Firefox (each browser's per-user folder first).
std::optional<InstalledHost> findInstalledHost(std::string_view hostName);

struct HostSession {
  std::vector<std::string> replies;  // frame bodies, in the order they arrived
  int exitStatus = -1;               // the exit status, or 128 + signal
  std::string failure;               // why the host could not be run, if it could not
};

// Starts `executable` with `arguments`, writes one frame per body, closes its
// input, and reads replies until it closes its output.
HostSession runHost(const std::filesystem::path& executable,
                    const std::vector<std::string>& arguments,
                    const std::vector<std::string>& frameBodies);

}  // namespace ostrela::linux_platform
