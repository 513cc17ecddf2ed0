#include "platform/linux/browsers/host_manifest_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/linux/file_descriptor.h"

namespace ostrela::linux_platform {
namespace {

std::string describe(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// Regular and within the cap, judged on what is open (the path may have changed since).
std::optional<std::string> whyNotSmallRegular(const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return std::string("not a regular file");
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxBrowserFileSize) {
    return std::string("larger than 1 MiB");
  }
  return std::nullopt;
}

}  // namespace

SmallFile readSmallRegularFile(const std::filesystem::path& path) {
  const auto failed = [](std::string why) { return SmallFile{std::nullopt, std::move(why)}; };
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return failed(describe(errno));
  if (auto why = whyNotSmallRegular(info)) return failed(*why);
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return failed(describe(errno));
  if (::fstat(fd.get(), &info) != 0) return failed(describe(errno));
  if (auto why = whyNotSmallRegular(info)) return failed(*why);
  std::string text(kMaxBrowserFileSize + 1, '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::read(fd.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failed(describe(errno));
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done > kMaxBrowserFileSize) return failed("larger than 1 MiB");
  text.resize(done);
  return {std::move(text), {}};
}

std::optional<std::variant<HostManifest, std::string>> readHostManifestFile(
    const std::filesystem::path& path, std::string_view hostName, BrowserFamily family) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 && errno == ENOENT) return std::nullopt;
  const SmallFile file = readSmallRegularFile(path);
  if (!file.text) return "not a usable manifest: " + file.problem;
  auto manifest = parseHostManifest(*file.text, hostName, family);
  if (auto* why = std::get_if<std::string>(&manifest)) *why = "not a usable manifest: " + *why;
  return manifest;
}

}  // namespace ostrela::linux_platform
