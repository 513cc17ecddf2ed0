#include "platform/linux/xdg_directories.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "platform/linux/passwd_file.h"

namespace ostrela::linux_platform {

std::filesystem::path homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  if (const auto entry = passwdEntryForUid(::getuid()); entry && entry->home.is_absolute()) {
    return entry->home;
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
  return dirs;
}

}  // namespace ostrela::linux_platform
