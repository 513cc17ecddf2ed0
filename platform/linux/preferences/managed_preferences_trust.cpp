#include "platform/linux/preferences/managed_preferences_trust.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>
#include <system_error>
#include <vector>

#include "platform/linux/file_descriptor.h"
#include "platform/linux/preferences/preference_file.h"

namespace ostrela::linux_platform {
namespace {

// As the kernel's own bound on links in one lookup.
constexpr int kMaxLinks = 40;

// The opened file with its status, or why there is none: an errno or a reason
// not to trust it.
struct Opening {
  FileDescriptor fd;
  struct stat info {};
  int error = 0;
  std::optional<std::string> untrusted;
};

Opening failed(int error) {
  return {FileDescriptor(), {}, error, std::nullopt};
}
Opening untrusted(std::string why) {
  return {FileDescriptor(), {}, 0, std::move(why)};
}

// Why what `fd` refers to may not be trusted: another owner, a writer besides
// root, or a filesystem whose owners and modes any account makes up.
std::optional<std::string> whyDescriptorIsUntrusted(int fd, const struct stat& info) {
  struct statfs filesystem {};
  if (::fstatfs(fd, &filesystem) != 0) return "filesystem cannot be checked";
  // FUSE: any account mounts one through the setuid fusermount3, over any folder
  // it owns, and it reports whatever owner and mode its daemon likes.
  if (filesystem.f_type == FUSE_SUPER_MAGIC)
    return "on a FUSE filesystem, which any account can mount";
  if (info.st_uid != 0) return "not owned by root";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "writable by group or others";
  return std::nullopt;
}

// The folders passed so far, "/" first, each checked as it was entered.
class FolderWalk {
 public:
  explicit FolderWalk(bool checking) : checking_(checking) {}

  // Back to "/" alone; why "/" may not be passed, or nothing.
  std::optional<std::string> restart() {
    folders_.clear();
    names_.clear();
    return enter(FileDescriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)), "");
  }
  // Passes into `folder`, opened from the current folder as `name`; why it may not, or nothing.
  std::optional<std::string> enter(FileDescriptor folder, std::string name) {
    folders_.push_back(std::move(folder));
    names_.push_back(std::move(name));
    struct stat info {};
    if (!folders_.back().valid() || ::fstat(folders_.back().get(), &info) != 0) {
      return "folder " + path() + " cannot be checked";
    }
    if (!checking_) return std::nullopt;
    std::optional<std::string> why = whyDescriptorIsUntrusted(folders_.back().get(), info);
    if (why) return "folder " + path() + " is " + *why;
    return std::nullopt;
  }
  // "..": the folder this one was entered from; "/" stays "/", as in the kernel.
  void leave() {
    if (folders_.size() > 1) folders_.pop_back(), names_.pop_back();
  }
  int current() const { return folders_.back().get(); }

 private:
  std::string path() const {
    std::string all;
    for (std::size_t i = 1; i < names_.size(); ++i) all += "/" + names_[i];
    return all.empty() ? "/" : all;
  }

  bool checking_;
  std::vector<FileDescriptor> folders_;
  std::vector<std::string> names_;
};

void prependComponents(std::deque<std::string>& pending, const std::filesystem::path& path) {
  std::vector<std::string> parts;
  for (const std::filesystem::path& part : path.relative_path()) parts.push_back(part.string());
  pending.insert(pending.begin(), parts.begin(), parts.end());
}

// Walks from "/" one name at a time by descriptor, so that what is checked is
// what is opened: every folder passed meets the rule before anything in it is
// looked up, a link is followed only from such a folder (the link's text is
// then resolved the same way), and the file is opened from its checked folder.
Opening openManagedFile(const std::filesystem::path& file, bool checkOwnership) {
  FolderWalk walk(checkOwnership);
  if (std::optional<std::string> why = walk.restart()) return untrusted(std::move(*why));
  std::error_code ec;
  std::deque<std::string> pending;
  prependComponents(pending, std::filesystem::absolute(file, ec));
  if (ec) return failed(ec.value());
  int links = 0;
  while (!pending.empty()) {
    const std::string name = std::move(pending.front());
    pending.pop_front();
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      walk.leave();
      continue;
    }
    FileDescriptor entry(::openat(walk.current(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!entry.valid() || ::fstat(entry.get(), &info) != 0) return failed(errno);
    if (S_ISLNK(info.st_mode)) {
      if (++links > kMaxLinks) return failed(ELOOP);
      // The link's own descriptor: the text read is that of the link just looked at.
      char target[PATH_MAX];
      const ssize_t length = ::readlinkat(entry.get(), "", target, sizeof target);
      if (length <= 0 || length == static_cast<ssize_t>(sizeof target)) return failed(ENAMETOOLONG);
      const std::filesystem::path text(std::string(target, static_cast<std::size_t>(length)));
      if (text.is_absolute()) {
        if (std::optional<std::string> why = walk.restart()) return untrusted(std::move(*why));
      }
      prependComponents(pending, text);
      continue;
    }
    if (!pending.empty()) {
      if (!S_ISDIR(info.st_mode)) return failed(ENOTDIR);
      if (std::optional<std::string> why = walk.enter(std::move(entry), name)) {
        return untrusted(std::move(*why));
      }
      continue;
    }
    // Looked at before opening: opening a FIFO or a device may block or act on it.
    if (!S_ISREG(info.st_mode)) return untrusted("not a regular file");
    FileDescriptor opened(::openat(walk.current(), name.c_str(),
                                   O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (!opened.valid()) return failed(errno);
    // The checks that count are those of the opened file.
    if (::fstat(opened.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
      return untrusted("not a regular file");
    }
    if (checkOwnership) {
      if (std::optional<std::string> why = whyDescriptorIsUntrusted(opened.get(), info)) {
        return untrusted(std::move(*why));
      }
    }
    return {std::move(opened), info, 0, std::nullopt};
  }
  return failed(EISDIR);
}

}  // namespace

const std::filesystem::path& managedPreferencesFolder() {
  static const std::filesystem::path* const folder =
      new std::filesystem::path(OSTRELA_MANAGED_PREFERENCES_DIR);
  return *folder;
}

ManagedPreferencesRead readManagedPreferences(const std::filesystem::path& file,
                                              bool checkOwnership) {
  Opening opening = openManagedFile(file, checkOwnership);
  if (!opening.fd.valid()) {
    std::optional<std::string> unreadable;
    if (!opening.untrusted && opening.error != ENOENT) {
      unreadable = std::error_code(opening.error, std::generic_category()).message();
    }
    return {std::nullopt, std::move(opening.untrusted), std::move(unreadable)};
  }
  std::variant<AnyMap, std::string> read = readPreferenceDescriptor(opening.fd.get(), opening.info);
  if (auto* why = std::get_if<std::string>(&read)) return {std::nullopt, std::nullopt, *why};
  return {std::get<AnyMap>(std::move(read)), std::nullopt, std::nullopt};
}

FileDescriptor openTrustedManagedFile(const std::filesystem::path& file, bool checkOwnership) {
  return openManagedFile(file, checkOwnership).fd;
}

std::optional<std::string> whyManagedFileIsUntrusted(const std::filesystem::path& file) {
  Opening opening = openManagedFile(file, true);
  if (opening.fd.valid()) return std::nullopt;
  if (opening.untrusted) return std::move(opening.untrusted);
  return std::error_code(opening.error, std::generic_category()).message();
}

}  // namespace ostrela::linux_platform
