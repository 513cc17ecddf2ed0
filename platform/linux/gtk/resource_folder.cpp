#include "platform/linux/gtk/resource_folder.h"

namespace ostrela::linux_platform {

std::optional<std::filesystem::path> findResourceFolder(
    const std::filesystem::path& executable,
    std::initializer_list<std::filesystem::path> candidates, const std::filesystem::path& marker) {
  for (const auto& candidate : candidates) {
    std::error_code ec;
    const std::filesystem::path folder =
        std::filesystem::canonical(executable.parent_path() / candidate, ec);
    if (!ec && std::filesystem::is_regular_file(folder / marker, ec)) return folder;
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> currentExecutable() {
  std::error_code ec;
  std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::nullopt;
  return executable;
}

}  // namespace ostrela::linux_platform
