// The XDG base directories that locate preference files.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace ostrela::linux_platform {

// The absolute folders of a colon-separated list such as $PATH, in order;
// empty and relative entries are skipped.
std::vector<std::filesystem::path> absoluteFolders(std::string_view list);

// The account's home folder: $HOME when it is absolute, else the password
// database's entry, else "/".
std::filesystem::path homeDirectory();

struct XdgDirectories {
  // $XDG_CONFIG_HOME, default ~/.config.
  std::filesystem::path configHome;
  // $XDG_CONFIG_DIRS in order of preference, default /etc/xdg.
  std::vector<std::filesystem::path> configDirs;

  // From the environment; relative entries are ignored, as the XDG rules say.
  static XdgDirectories fromEnvironment();
};

}  // namespace ostrela::linux_platform
