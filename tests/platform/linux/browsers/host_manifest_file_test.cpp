// Manifest files that are not files: each is refused with its reason, never
// opened in a way that blocks or reads without end (a hang here is the fault).
#include "platform/linux/browsers/host_manifest_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/temporary_directory.h"

namespace ostrela::linux_platform {
namespace {

std::string outcome(const std::filesystem::path& path) {
  const auto read = readHostManifestFile(path, "com.ostrela.ldap_host", BrowserFamily::chromium);
  if (!read) return "absent";
  if (const auto* why = std::get_if<std::string>(&*read)) return *why;
  return "usable";
}

TEST(HostManifestFile, WhatIsNotASmallRegularFileIsNotAUsableManifest) {
  testing::TemporaryDirectory folder;
  const auto path = [&](const char* name) { return folder.path() / name; };
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", path("zero"));
  {
    const int fd = ::open(path("sparse").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 1L << 30), 0);
    ::close(fd);
  }
  std::filesystem::create_symlink(path("nowhere"), path("dangling"));
  folder.write("usable",
               R"({"name":"com.ostrela.ldap_host","type":"stdio","path":"/bin/true",)"
               R"("allowed_origins":["chrome-extension://abcdefghijklmnopabcdefghijklmnop/"]})");

  EXPECT_EQ(outcome(path("fifo")), "not a usable manifest: not a regular file");
  EXPECT_EQ(outcome(path("zero")), "not a usable manifest: not a regular file");
  EXPECT_EQ(outcome(path("sparse")), "not a usable manifest: larger than 1 MiB");
  EXPECT_EQ(outcome(path("dangling")), "not a usable manifest: No such file or directory");
  EXPECT_EQ(outcome(path("missing")), "absent");
  EXPECT_EQ(outcome(path("usable")), "usable");
}

}  // namespace
}  // namespace ostrela::linux_platform
