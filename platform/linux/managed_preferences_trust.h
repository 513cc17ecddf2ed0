// The organisation's forced preferences are trusted only from files that no
// account but root can have written: the file and every folder above it are
// owned by root and writable by nobody else, as OpenSSH's StrictModes and sudo
// require of their own files.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/any_value.h"

namespace ostrela::linux_platform {

// The installed folder of forced preferences, fixed when the program is built
// (OSTRELA_MANAGED_PREFERENCES_DIR, default /etc/ostrela/managed-preferences).
// Nothing at run time changes it.
const std::filesystem::path& managedPreferencesFolder();

// Why `file` may not be used as forced preferences, or nothing when it may:
// "not a regular file", "not owned by root", "writable by group or others",
// "folder /etc/ostrela is not owned by root", or why it cannot be opened
// ("No such file or directory"). Never blocks: a FIFO or device is refused
// before it is opened. Symbolic links are resolved first and each folder of
// the resolved path is checked. Callable on its own, for an administrator's
// check tool.
std::optional<std::string> whyManagedFileIsUntrusted(const std::filesystem::path& file);

struct ManagedPreferencesRead {
  // The file's members; nothing when it is missing, unreadable, malformed or untrusted.
  std::optional<AnyMap> contents;
  // Set when the file is there but may not be trusted.
  std::optional<std::string> untrustedReason;
};

// Reads a forced-preferences file. The checks of ownership and permissions
// apply to the opened file itself (no race with a rename), and are left out
// only when `checkOwnership` is false, which tests of the layering use for
// their temporary folders; a file that is not regular is refused either way.
ManagedPreferencesRead readManagedPreferences(const std::filesystem::path& file,
                                              bool checkOwnership = true);

}  // namespace ostrela::linux_platform
