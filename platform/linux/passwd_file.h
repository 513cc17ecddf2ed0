// Accounts as /etc/passwd lists them, read directly. The executables a browser
// starts are linked statically, where getpwuid would load glibc's NSS modules
// at run time; the local file is what they need (root, the user's own
// account, the agent's service account), and a miss is a value, never a failure.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ostrela::linux_platform {

struct PasswdEntry {
  std::string name;
  uid_t uid = 0;
  std::filesystem::path home;
};

// The first entry of `file` with this uid; nothing when the file cannot be
// read or has none. Malformed lines are skipped.
std::optional<PasswdEntry> passwdEntryForUid(uid_t uid,
                                             const std::filesystem::path& file = "/etc/passwd");
// The first well-formed entry of `file` named `name`.
std::optional<PasswdEntry> passwdEntryForName(std::string_view name,
                                              const std::filesystem::path& file = "/etc/passwd");

}  // namespace ostrela::linux_platform
