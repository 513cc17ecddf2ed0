#include "platform/linux/xdg_directories.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace ostrela::linux_platform {

std::filesystem::path homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return "/";
}

std::vector<std::filesystem::path> absoluteFolders(std::string_view list) {
  std::vector<std::filesystem::path> folders;
  while (!list.empty()) {
    const std::size_t colon = list.find(':');
    const std::string_view entry = list.substr(0, colon);
    if (!entry.empty() && entry.front() == '/') folders.emplace_back(entry);
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  return folders;
}

XdgDirectories XdgDirectories::fromEnvironment() {
  XdgDirectories dirs;
  const char* home = std::getenv("XDG_CONFIG_HOME");
  dirs.configHome = (home != nullptr && home[0] == '/') ? std::filesystem::path(home)
                                                        : homeDirectory() / ".config";
  const char* list = std::getenv("XDG_CONFIG_DIRS");
  dirs.configDirs = absoluteFolders(list != nullptr ? list : "");
  if (dirs.configDirs.empty()) dirs.configDirs.emplace_back("/etc/xdg");
  return dirs;
}

}  // namespace ostrela::linux_platform
