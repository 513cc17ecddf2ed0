// Preference files: one JSON object per store.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "core/any_value.h"

namespace ostrela::linux_platform {

// Files larger than this are not read: they count as malformed.
inline constexpr std::uintmax_t kMaxPreferenceFileSize = 16 * 1024 * 1024;

// The members of the JSON object in the opened file `fd`, whose status the
// caller has taken (`info`, from fstat), or why there are none: "not a regular
// file", "larger than 16 MiB", the error of the read, or what is wrong with the
// JSON ("not a JSON object", "invalid JSON at byte 12: syntax error").
std::variant<AnyMap, std::string> readPreferenceDescriptor(int fd, const struct stat& info);

// The file's members, or nothing when it is missing, unreadable, too large or
// not a JSON object. Callers treat nothing as an empty store.
std::optional<AnyMap> readPreferenceFile(const std::filesystem::path& path);

struct PreferenceFileRead {
  std::optional<AnyMap> contents;
  // errno of a failed open (ENOENT for a missing file, or one that is not a
  // regular file, such as a FIFO); 0 when the file was opened.
  int openError = 0;
  // Why the opened file was refused by the caller's check.
  std::optional<std::string> refused;
  // Why the opened file's contents could not be read or used (readPreferenceDescriptor).
  std::optional<std::string> malformed;
};
// A read refused for `why`.
PreferenceFileRead refusedRead(std::string why);

// Looks at an opened file's status; says why it may not be used, or nothing.
using OpenedFileCheck = std::function<std::optional<std::string>(const struct stat&)>;

// readPreferenceFile for `name` in the opened folder `folder` (or a path, with AT_FDCWD),
// telling also why the file could not be opened. `check`, when given, may refuse the
// opened file before it is read.
PreferenceFileRead readPreferenceFileAt(int folder, const char* name,
                                        const OpenedFileCheck& check = {});

// Replaces `name` in the opened folder `folder` with `contents` atomically: a new
// temporary file in that folder, written, flushed and renamed over it, readable and
// writable by its owner only. Returns 0, or the errno of the step that failed
// (ENOSPC, EIO, ...); `name` is then unchanged.
int replaceFileAt(int folder, const char* name, std::string_view contents);

}  // namespace ostrela::linux_platform
