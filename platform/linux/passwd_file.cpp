#include "platform/linux/passwd_file.h"

#include <pwd.h>

#include <array>
#include <cerrno>
#include <cstdio>

namespace ostrela::linux_platform {
namespace {

// fgetpwent_r parses the file itself, with no NSS module behind it, so it is
// safe in a static executable; it skips lines it cannot parse.
template <typename Wanted>
std::optional<PasswdEntry> firstEntry(const std::filesystem::path& file, Wanted wanted) {
  std::FILE* in = std::fopen(file.c_str(), "re");
  if (in == nullptr) return std::nullopt;
  std::optional<PasswdEntry> found;
  std::array<char, 4096> buffer;
  passwd entry{};
  passwd* read = nullptr;
  while (!found && ::fgetpwent_r(in, &entry, buffer.data(), buffer.size(), &read) == 0) {
    if (read->pw_name[0] == '\0' || !wanted(*read)) continue;
    found = PasswdEntry{read->pw_name, read->pw_uid, read->pw_dir};
  }
  std::fclose(in);
  return found;
}

}  // namespace

std::optional<PasswdEntry> passwdEntryForUid(uid_t uid, const std::filesystem::path& file) {
  return firstEntry(file, [uid](const passwd& entry) { return entry.pw_uid == uid; });
}

std::optional<PasswdEntry> passwdEntryForName(std::string_view name,
                                              const std::filesystem::path& file) {
  return firstEntry(file, [name](const passwd& entry) { return entry.pw_name == name; });
}

}  // namespace ostrela::linux_platform
