#include "platform/linux/preferences/private_store_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ostrela::linux_platform {
namespace {

bool ownedByTrustedAccount(const struct stat& info) {
  return info.st_uid == ::geteuid() || info.st_uid == 0;
}

bool writableByOthers(const struct stat& info) {
  return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace

PrivateStoreFolder openPrivateStoreFolder(const std::filesystem::path& folder, bool makePrivate) {
  PrivateStoreFolder opened;
  // Never through a link: making its target owner-only would change another folder's mode.
  opened.fd.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!opened.fd.valid()) {
    opened.error = errno;
    struct stat link {};
    if (::lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      opened.untrusted = "folder " + folder.string() + " is a symbolic link";
    }
    return opened;
  }
  struct stat info {};
  if (::fstat(opened.fd.get(), &info) != 0) {
    opened.error = errno;
  } else if (!ownedByTrustedAccount(info)) {
    opened.untrusted = "folder " + folder.string() + " belongs to another account";
  } else if (makePrivate && (info.st_mode & 07777) != S_IRWXU &&
             ::fchmod(opened.fd.get(), S_IRWXU) != 0) {
    opened.untrusted =
        "folder " + folder.string() + " cannot be made owner-only: " + std::strerror(errno);
  } else if (!makePrivate && writableByOthers(info)) {
    opened.untrusted = "folder " + folder.string() + " is writable by group or others";
  }
  if (opened.error != 0 || opened.untrusted) opened.fd.reset();
  return opened;
}

int makePrivateFolders(const std::filesystem::path& folder) {
  std::filesystem::path made;
  for (const std::filesystem::path& part : folder) {
    made /= part;
    // The mode is an upper bound that the umask can only lower.
    if (::mkdir(made.c_str(), S_IRWXU) == 0 || errno == EEXIST) continue;
    const int error = errno;
    struct stat info {};
    if (::stat(made.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return error;
  }
  return 0;
}

PreferenceFileRead readPrivateStoreFile(const PrivateStoreFolder& folder, const char* name) {
  struct stat link {};
  if (::fstatat(folder.fd.get(), name, &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode)) {
    return refusedRead("a symbolic link");
  }
  return readPreferenceFileAt(folder.fd.get(), name,
                              [](const struct stat& info) -> std::optional<std::string> {
                                if (!ownedByTrustedAccount(info)) return "owned by another account";
                                if (writableByOthers(info)) return "writable by group or others";
                                return std::nullopt;
                              });
}

}  // namespace ostrela::linux_platform
