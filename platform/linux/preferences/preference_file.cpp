#include "platform/linux/preferences/preference_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "core/json.h"
#include "platform/linux/file_descriptor.h"

namespace ostrela::linux_platform {
namespace {

PreferenceFileRead openFailed(int error) {
  PreferenceFileRead read;
  read.openError = error;
  return read;
}

}  // namespace

PreferenceFileRead refusedRead(std::string why) {
  PreferenceFileRead read;
  read.refused = std::move(why);
  return read;
}

std::variant<AnyMap, std::string> readPreferenceDescriptor(int fd, const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return std::string("not a regular file");
  constexpr const char* kTooLarge = "larger than 16 MiB";
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxPreferenceFileSize) return kTooLarge;
  // Files are replaced by renaming, never written in place: the size is final.
  const std::optional<std::string> text =
      readAll(fd, kMaxPreferenceFileSize, static_cast<std::size_t>(info.st_size));
  if (!text)
    return errno == EFBIG ? kTooLarge : std::error_code(errno, std::generic_category()).message();
  std::optional<AnyValue> value = decodeJson(*text);
  if (!value) return whyJsonIsRefused(*text).value_or("not JSON");
  if (!value->isMap()) return std::string("not a JSON object");
  return std::move(*value->asMap());
}

PreferenceFileRead readPreferenceFileAt(int folder, const char* name,
                                        const OpenedFileCheck& check) {
  // A FIFO, device or folder counts as absent. It is never opened: opening a
  // FIFO waits for a writer, and opening a device may act on it.
  struct stat info {};
  if (::fstatat(folder, name, &info, 0) != 0) return openFailed(errno);
  if (!S_ISREG(info.st_mode)) return openFailed(ENOENT);
  // Non-blocking all the same, should the path be replaced by a FIFO meanwhile.
  FileDescriptor fd(::openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) return openFailed(errno);
  // The status that counts is that of the opened file.
  if (::fstat(fd.get(), &info) != 0) return openFailed(errno);
  if (check) {
    if (std::optional<std::string> why = check(info)) return refusedRead(std::move(*why));
  }
  std::variant<AnyMap, std::string> read = readPreferenceDescriptor(fd.get(), info);
  PreferenceFileRead result;
  if (auto* why = std::get_if<std::string>(&read)) {
    result.malformed = std::move(*why);
  } else {
    result.contents = std::get<AnyMap>(std::move(read));
  }
  return result;
}

std::optional<AnyMap> readPreferenceFile(const std::filesystem::path& path) {
  return readPreferenceFileAt(AT_FDCWD, path.c_str()).contents;
}

int replaceFileAt(int folder, const char* name, std::string_view contents) {
  FileDescriptor fd;
  std::string temporary;
  for (int attempt = 0; !fd.valid(); ++attempt) {
    unsigned char random[6];
    if (::getentropy(random, sizeof random) != 0) return errno;
    temporary = std::string(name) + ".";
    for (unsigned char byte : random) temporary += "abcdefghijklmnopqrstuvwxyz012345"[byte % 32];
    fd.reset(::openat(folder, temporary.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!fd.valid() && (errno != EEXIST || attempt == 100)) return errno;
  }
  int error = 0;
  errno = 0;
  if (::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0 || !writeAll(fd.get(), contents) ||
      ::fsync(fd.get()) != 0) {
    error = errno != 0 ? errno : EIO;
  }
  if (fd.reset() != 0 && error == 0) error = errno;
  if (error == 0 && ::renameat(folder, temporary.c_str(), folder, name) != 0) error = errno;
  if (error != 0) {
    ::unlinkat(folder, temporary.c_str(), 0);
    return error;
  }
  // Makes the rename itself durable; the new file is in place whatever this says.
  ::fsync(folder);
  return 0;
}

}  // namespace ostrela::linux_platform
