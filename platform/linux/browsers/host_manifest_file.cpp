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

std::string tooLarge(std::size_t limit) {
  return "larger than " + std::to_string(limit >> 20) + " MiB";
}

// Regular and within the cap, judged on what is open (the path may have changed since).
std::optional<std::string> whyNotSmallRegular(const struct stat& info, std::size_t limit) {
  if (!S_ISREG(info.st_mode)) return std::string("not a regular file");
  if (static_cast<std::uintmax_t>(info.st_size) > limit) return tooLarge(limit);
  return std::nullopt;
}

}  // namespace

SmallFile readSmallRegularFile(const std::filesystem::path& path, std::size_t limit,
                               bool followLink) {
  const auto failed = [](std::string why) { return SmallFile{std::nullopt, std::move(why)}; };
  struct stat info {};
  if (::fstatat(AT_FDCWD, path.c_str(), &info, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
    return failed(describe(errno));
  }
  if (auto why = whyNotSmallRegular(info, limit)) return failed(*why);
  const int noFollow = followLink ? 0 : O_NOFOLLOW;
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | noFollow));
  if (!fd.valid()) return failed(describe(errno));
  if (::fstat(fd.get(), &info) != 0) return failed(describe(errno));
  if (auto why = whyNotSmallRegular(info, limit)) return failed(*why);
  std::optional<std::string> text =
      readAll(fd.get(), limit, static_cast<std::size_t>(info.st_size));
  if (!text) return failed(errno == EFBIG ? tooLarge(limit) : describe(errno));
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
