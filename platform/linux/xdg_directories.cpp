#include "platform/linux/xdg_directories.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace ostrela::linux_platform {
namespace {

std::filesystem::path homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return "/";
}

}  // namespace

XdgDirectories XdgDirectories::fromEnvironment() {
  XdgDirectories dirs;
  const char* home = std::getenv("XDG_CONFIG_HOME");
  dirs.configHome = (home != nullptr && home[0] == '/') ? std::filesystem::path(home)
                                                        : homeDirectory() / ".config";
  std::string_view list = std::getenv("XDG_CONFIG_DIRS") ? std::getenv("XDG_CONFIG_DIRS") : "";
  while (!list.empty()) {
    const std::size_t colon = list.find(':');
    const std::string_view entry = list.substr(0, colon);
    if (!entry.empty() && entry.front() == '/') dirs.configDirs.emplace_back(entry);
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  if (dirs.configDirs.empty()) dirs.configDirs.emplace_back("/etc/xdg");
  return dirs;
}

}  // namespace ostrela::linux_platform
