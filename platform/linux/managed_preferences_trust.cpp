#include "platform/linux/managed_preferences_trust.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/preference_file.h"

namespace ostrela::linux_platform {
namespace {

// The opened file, or why there is none: an errno or a reason not to trust it.
struct Opening {
  int fd = -1;
  int error = 0;
  std::optional<std::string> untrusted;
};

std::optional<std::string> whyOwnerIsUntrusted(const struct stat& info) {
  if (info.st_uid != 0) return "not owned by root";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "writable by group or others";
  return std::nullopt;
}

// Checks every folder from "/" down to `folder`, which has no symbolic links left.
std::optional<std::string> whyFoldersAreUntrusted(const std::filesystem::path& folder) {
  std::filesystem::path current;
  for (const std::filesystem::path& part : folder) {
    current /= part;
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
      return "folder " + current.string() + " cannot be checked";
    }
    if (std::optional<std::string> why = whyOwnerIsUntrusted(info)) {
      return "folder " + current.string() + " is " + *why;
    }
  }
  return std::nullopt;
}

Opening openManagedFile(const std::filesystem::path& file, bool checkOwnership) {
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::canonical(file, ec);
  if (ec) return {-1, ec.value(), std::nullopt};
  // Looked at before opening: opening a FIFO or a device may block or act on it.
  struct stat info {};
  if (::lstat(resolved.c_str(), &info) != 0) return {-1, errno, std::nullopt};
  if (!S_ISREG(info.st_mode)) return {-1, 0, "not a regular file"};
  const int fd =
      ::open(resolved.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {-1, errno, std::nullopt};
  // The checks that count are those of the opened file, whatever the path names now.
  std::optional<std::string> why;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    why = "not a regular file";
  } else if (checkOwnership) {
    why = whyOwnerIsUntrusted(info);
    if (!why) why = whyFoldersAreUntrusted(resolved.parent_path());
  }
  if (why) {
    ::close(fd);
    return {-1, 0, std::move(why)};
  }
  return {fd, 0, std::nullopt};
}

}  // namespace

const std::filesystem::path& managedPreferencesFolder() {
  static const std::filesystem::path* const folder =
      new std::filesystem::path(OSTRELA_MANAGED_PREFERENCES_DIR);
  return *folder;
}

std::optional<std::string> whyManagedFileIsUntrusted(const std::filesystem::path& file) {
  Opening opening = openManagedFile(file, true);
  if (opening.fd >= 0) {
    ::close(opening.fd);
    return std::nullopt;
  }
  if (opening.untrusted) return std::move(opening.untrusted);
  return std::string(std::strerror(opening.error));
}

ManagedPreferencesRead readManagedPreferences(const std::filesystem::path& file,
                                              bool checkOwnership) {
  Opening opening = openManagedFile(file, checkOwnership);
  if (opening.fd < 0) return {std::nullopt, std::move(opening.untrusted)};
  ManagedPreferencesRead read{readPreferenceDescriptor(opening.fd), std::nullopt};
  ::close(opening.fd);
  return read;
}

}  // namespace ostrela::linux_platform
