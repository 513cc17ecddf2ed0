// Preference files: one JSON object per store.
#pragma once

#include <filesystem>
#include <optional>

#include "core/any_value.h"

namespace ostrela::linux_platform {

// Files larger than this are not read: they count as malformed.
inline constexpr std::uintmax_t kMaxPreferenceFileSize = 16 * 1024 * 1024;

// The members of the JSON object in the opened file `fd`; nothing when it is
// not a regular file, too large, unreadable or not a JSON object.
std::optional<AnyMap> readPreferenceDescriptor(int fd);

// The file's members, or nothing when it is missing, unreadable, too large or
// not a JSON object. Callers treat nothing as an empty store.
std::optional<AnyMap> readPreferenceFile(const std::filesystem::path& path);

struct PreferenceFileRead {
  std::optional<AnyMap> contents;
  // errno of a failed open (ENOENT for a missing file, or one that is not a
  // regular file, such as a FIFO); 0 when the file was opened.
  int openError = 0;
};
// readPreferenceFile, telling also why a file could not be opened.
PreferenceFileRead readPreferenceFileReporting(const std::filesystem::path& path);

// Replaces `path` with `contents` atomically: a temporary file in the same
// folder, written, flushed and renamed over it, readable and writable by its
// owner only. Returns false when any step failed; `path` is then unchanged.
bool replaceFileAtomically(const std::filesystem::path& path, std::string_view contents);

}  // namespace ostrela::linux_platform
