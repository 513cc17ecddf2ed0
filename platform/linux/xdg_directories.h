// The XDG base directories that locate preference files.
#pragma once

#include <filesystem>
#include <vector>

namespace ostrela::linux_platform {

struct XdgDirectories {
  // $XDG_CONFIG_HOME, default ~/.config.
  std::filesystem::path configHome;
  // $XDG_CONFIG_DIRS in order of preference, default /etc/xdg.
  std::vector<std::filesystem::path> configDirs;

  // From the environment; relative entries are ignored, as the XDG rules say.
  static XdgDirectories fromEnvironment();
};

}  // namespace ostrela::linux_platform
