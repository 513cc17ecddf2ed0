// The account's own preference stores (its own values, the App Group) are used
// only when no other account can have written them: the folder and the file
// belong to this process's account or to root, and neither is writable by group
// or others. The checks are made on opened descriptors and the files are opened
// from the checked folder, so no rename or link between a check and the use
// changes what is read or written.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/linux/file_descriptor.h"
#include "platform/linux/preferences/preference_file.h"

namespace ostrela::linux_platform {

struct PrivateStoreFolder {
  // Open when the folder may be used.
  FileDescriptor fd;
  // errno when it could not be opened (ENOENT: not made yet).
  int error = 0;
  // Why it may not be used: "folder /x belongs to another account", "folder /x is
  // writable by group or others", "folder /x cannot be made owner-only: <reason>",
  // "folder /x is a symbolic link".
  std::optional<std::string> untrusted;
};

// Opens `folder`, never through a link, and checks it. With `makePrivate`, a folder of
// the process's own account is first made owner-only, as a writer does with the folder
// it made.
PrivateStoreFolder openPrivateStoreFolder(const std::filesystem::path& folder, bool makePrivate);

// Makes `folder` and the folders above it that are missing, each owner-only whatever
// the umask. Returns 0, or the errno of the step that failed.
int makePrivateFolders(const std::filesystem::path& folder);

// Reads `name` in a checked folder, refusing a link ("a symbolic link": replacing it
// would leave its target stale), a file that belongs to another account ("owned by
// another account") or that group or others can write.
PreferenceFileRead readPrivateStoreFile(const PrivateStoreFolder& folder, const char* name);

}  // namespace ostrela::linux_platform
