// Host manifests and other small files of the browsers read from disk the way
// preference files are read: regular files only, never blocking, up to a cap.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "browsers/host_manifest.h"

namespace ostrela::linux_platform {

// Manifests and policy files are a few hundred bytes; anything past this is not one.
inline constexpr std::size_t kMaxBrowserFileSize = 1024 * 1024;

struct SmallFile {
  std::optional<std::string> text;
  std::string problem;  // when there is no text: "not a regular file", "larger than 1 MiB",
                        // or the error of stat, open or read
};
// A FIFO or device is never opened. Without `followLink`, a link is "not a regular file".
SmallFile readSmallRegularFile(const std::filesystem::path& path,
                               std::size_t limit = kMaxBrowserFileSize, bool followLink = true);

// The manifest at `path`, or "not a usable manifest: <why>"; nothing when no file is there.
std::optional<std::variant<HostManifest, std::string>> readHostManifestFile(
    const std::filesystem::path& path, std::string_view hostName, BrowserFamily family);

}  // namespace ostrela::linux_platform
