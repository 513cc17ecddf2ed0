// The XDG base directory of the user's own preference files and App Group
// store. Forced preferences never come from an XDG folder: see
// managed_preferences_trust.h.
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

  // From the environment; a relative entry is ignored, as the XDG rules say.
  static XdgDirectories fromEnvironment();
};

}  // namespace ostrela::linux_platform
