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
  opened.fd.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.fd.valid()) {
    opened.error = errno;
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

PreferenceFileRead readPrivateStoreFile(const PrivateStoreFolder& folder, const char* name) {
  return readPreferenceFileAt(folder.fd.get(), name,
                              [](const struct stat& info) -> std::optional<std::string> {
                                if (!ownedByTrustedAccount(info)) return "owned by another account";
                                if (writableByOthers(info)) return "writable by group or others";
                                return std::nullopt;
                              });
}

}  // namespace ostrela::linux_platform
