// The one owner of a raw file descriptor (closes it when it goes), and what is
// done with any descriptor.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ostrela::linux_platform {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  // Takes ownership of `fd`; a negative value owns nothing.
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  // Closes the descriptor now (owning `fd` instead); returns close()'s result, 0 when none was
  // open. Never retried on EINTR: Linux has released the descriptor by then.
  int reset(int fd = -1) {
    const int old = std::exchange(fd_, fd);
    return old >= 0 ? ::close(old) : 0;
  }

 private:
  int fd_ = -1;
};

// Writes all of `bytes` to `fd`, again after a signal; false when a write
// failed or took nothing (what went before it stays written).
inline bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Reads `fd` to its end, again after a signal, sized first for `expected` bytes.
// Nothing when a read failed (errno says why) or when there are more than `limit`
// bytes (errno is EFBIG): a file is never read without end.
inline std::optional<std::string> readAll(int fd, std::size_t limit, std::size_t expected = 0) {
  // One byte past what is expected, so that the end is seen without a second allocation.
  std::string text(std::min(expected, limit) + 1, '\0');
  std::size_t done = 0;
  for (;;) {
    if (done == text.size()) {
      if (done > limit) {
        errno = EFBIG;
        return std::nullopt;
      }
      text.resize(std::min(std::max<std::size_t>(2 * done, 64 * 1024), limit + 1));
    }
    const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  text.resize(done);
  return text;
}

// Both ends of a pipe.
struct Pipe {
  FileDescriptor read;
  FileDescriptor write;
};

// A new pipe, close-on-exec; both ends invalid, with errno set, when it cannot be made.
inline Pipe makePipe() {
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC) != 0) return {};
  return {FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

}  // namespace ostrela::linux_platform
