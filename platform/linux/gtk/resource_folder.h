// Finds the host application's resources relative to its executable, so the
// same program runs from the build tree and once installed.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <optional>

namespace ostrela::linux_platform {

// The first of `candidates` (relative to the executable's folder) that holds
// `marker`, as an absolute path without symbolic links.
std::optional<std::filesystem::path> findResourceFolder(
    const std::filesystem::path& executable,
    std::initializer_list<std::filesystem::path> candidates, const std::filesystem::path& marker);

// The running program, from /proc/self/exe.
std::optional<std::filesystem::path> currentExecutable();

}  // namespace ostrela::linux_platform
