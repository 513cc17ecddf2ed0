#include "platform/linux/log_sinks.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/temporary_directory.h"

namespace ostrela::linux_platform {
namespace {

// Everything that can be read from `fd` now.
std::string drain(int fd) {
  std::string all;
  char buffer[65536];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) all.append(buffer, n);
  return all;
}

// Journald's queue holds 10 datagrams by default: a blocking send would wait forever.
TEST(JournalLogSink, AFullJournalNeverHoldsUpALine) {
  testing::TemporaryDirectory dir;
  sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
  (dir.path() / "journal").native().copy(address.sun_path, sizeof address.sun_path - 1);
  FileDescriptor journal(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));  // nobody reads it
  ASSERT_EQ(::bind(journal.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  int ends[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
  FileDescriptor stderrReader(ends[0]);
  FileDescriptor stderrWriter(ends[1]);
  JournalLogSink sink(dir.path() / "journal", stderrWriter.get());
  const auto writeLines = [&](int count, const std::string& prefix) {
    for (int i = 0; i < count; ++i) {
      sink.write(LogLevel::error, "sub", "cat", prefix + " " + std::to_string(i));
    }
  };
  // A write that waits for the journal would wait forever: the alarm ends the test then.
  ::alarm(60);

  writeLines(50, "line\nforged");
  const std::string fallen = drain(stderrReader.get());
  EXPECT_NE(fallen.find(" sub[cat] error: line\\nforged 49\n"), std::string::npos) << fallen;

  // A stderr that is full too: lines are dropped, counted and said once when one gets through.
  while (::send(stderrWriter.get(), "x", 1, MSG_DONTWAIT) == 1) {
  }
  writeLines(3, "lost");
  drain(stderrReader.get());
  writeLines(2, "kept");
  const std::string after = drain(stderrReader.get());
  const auto notice = after.find(
      "error: 3 earlier log line(s) were dropped: neither the journal nor stderr could take them "
      "without waiting\n");
  EXPECT_LT(notice, after.find("kept 0")) << after;
  EXPECT_EQ(after.find("earlier log line", after.find("kept 0")), std::string::npos);
  // The first lines reached the journal, in its binary form for a value with a newline.
  EXPECT_NE(drain(journal.get()).find("MESSAGE\n"), std::string::npos);
  ::alarm(0);
}

}  // namespace
}  // namespace ostrela::linux_platform
