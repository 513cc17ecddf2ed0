// The organisation's forced preferences are trusted only from files that no
// account but root can have written: the file and every folder above it are
// owned by root and writable by nobody else, as OpenSSH's StrictModes and sudo
// require of their own files.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/any_value.h"
#include "platform/linux/file_descriptor.h"

namespace ostrela::linux_platform {

// The installed folder of forced preferences, fixed when the program is built
// (OSTRELA_MANAGED_PREFERENCES_DIR, default /etc/ostrela/managed-preferences).
// Nothing at run time changes it.
const std::filesystem::path& managedPreferencesFolder();

struct ManagedPreferencesRead {
  // The file's members; nothing when it is missing, unreadable, malformed or untrusted.
  std::optional<AnyMap> contents;
  // Set when the file is there but may not be trusted.
  std::optional<std::string> untrustedReason;
  // Set when the file is there, trusted, but cannot be opened, read or parsed
  // ("Permission denied", "invalid JSON at byte 12: syntax error", "not a JSON object").
  std::optional<std::string> unreadable;
};

// Reads a forced-preferences file, found by descriptor from "/": every folder
// passed, the file itself (as opened) and the filesystems they are on must
// meet the rule, and a symbolic link is followed only from a folder that
// meets it (at most 40 links, an absolute one walked again from "/"), so that
// what is checked is what is read. Untrusted reasons: "not a regular file",
// "not owned by root", "writable by group or others", "on a FUSE filesystem,
// which any account can mount", or one of these for a folder ("folder
// /etc/ostrela is not owned by root"). A missing file is no reason, only no
// contents. Never blocks: a FIFO or device is refused before it is opened.
// The rule is left out only when `checkOwnership` is false, which tests of the
// layering use for their temporary folders; a file that is not regular is
// refused either way. The administrator's check tool reads through the same
// function, and so reports the same reason.
ManagedPreferencesRead readManagedPreferences(const std::filesystem::path& file,
                                              bool checkOwnership = true);

// The file as that walk opened it, read-only; none when it is missing or may not be trusted.
FileDescriptor openTrustedManagedFile(const std::filesystem::path& file,
                                      bool checkOwnership = true);

// The same walk for any file root is to trust (a manifest it reads, a program
// it starts): nothing when the file meets the rule, else why not (a missing
// file too, with the system's reason).
std::optional<std::string> whyManagedFileIsUntrusted(const std::filesystem::path& file);

}  // namespace ostrela::linux_platform
