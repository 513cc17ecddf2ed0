#include "platform/linux/preference_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/json.h"
#include "platform/linux/file_descriptor.h"

namespace ostrela::linux_platform {
namespace {

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::optional<AnyMap> readPreferenceDescriptor(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uintmax_t>(info.st_size) > kMaxPreferenceFileSize) {
    return std::nullopt;
  }
  // Files are replaced by renaming, never written in place: the size read here is final.
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  text.resize(done);
  std::optional<AnyValue> value = decodeJson(text);
  if (!value || !value->isMap()) return std::nullopt;
  return std::move(*value->asMap());
}

PreferenceFileRead readPreferenceFileReporting(const std::filesystem::path& path) {
  // A FIFO, device or folder counts as absent. It is never opened: opening a
  // FIFO waits for a writer, and opening a device may act on it.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {std::nullopt, errno};
  if (!S_ISREG(info.st_mode)) return {std::nullopt, ENOENT};
  // Non-blocking all the same, should the path be replaced by a FIFO meanwhile.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) return {std::nullopt, errno};
  return {readPreferenceDescriptor(fd.get()), 0};
}

std::optional<AnyMap> readPreferenceFile(const std::filesystem::path& path) {
  return readPreferenceFileReporting(path).contents;
}

bool replaceFileAtomically(const std::filesystem::path& path, std::string_view contents) {
  std::string temporary = path.string() + ".XXXXXX";
  FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  const bool written = ::fchmod(fd.get(), S_IRUSR | S_IWUSR) == 0 && writeAll(fd.get(), contents) &&
                       ::fsync(fd.get()) == 0;
  const bool closed = fd.reset() == 0;
  if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable.
  FileDescriptor folder(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) ::fsync(folder.get());
  return true;
}

}  // namespace ostrela::linux_platform
