#include "platform/linux/log_sinks.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <future>
#include <string>

#include "tests/support/temporary_directory.h"

namespace ostrela::linux_platform {
namespace {

using namespace std::chrono_literals;

// A datagram socket bound at `path` that nobody reads: a stalled journal.
FileDescriptor stalledJournal(const std::filesystem::path& path) {
  FileDescriptor fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.native().copy(address.sun_path, sizeof address.sun_path - 1);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return {};
  return fd;
}

// Everything that can be read from `fd` now.
std::string drain(int fd) {
  std::string all;
  char buffer[65536];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) all.append(buffer, n);
  return all;
}

// Writes `count` lines "<prefix> <i>" through `sink` on another thread; the longest
// single write, or nothing when they had not all returned within 5 s (`journal` is then
// closed, which frees a blocked writer).
std::optional<std::chrono::steady_clock::duration> writeLines(LogSink& sink, int count,
                                                              const std::string& prefix,
                                                              FileDescriptor& journal) {
  auto writes = std::async(std::launch::async, [&] {
    std::chrono::steady_clock::duration longest{};
    for (int i = 0; i < count; ++i) {
      const auto start = std::chrono::steady_clock::now();
      sink.write(LogLevel::error, "sub", "cat", prefix + " " + std::to_string(i));
      longest = std::max(longest, std::chrono::steady_clock::now() - start);
    }
    return longest;
  });
  if (writes.wait_for(5s) != std::future_status::ready) {
    journal.reset();
    return std::nullopt;
  }
  return writes.get();
}

// Journald's queue holds 10 datagrams by default: a blocking send would wait forever.
TEST(JournalLogSink, AFullJournalNeverHoldsUpALine) {
  testing::TemporaryDirectory dir;
  FileDescriptor journal = stalledJournal(dir.path() / "journal.socket");
  ASSERT_TRUE(journal.valid());
  int fallback[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fallback), 0);
  FileDescriptor stderrReader(fallback[0]);
  FileDescriptor stderrWriter(fallback[1]);
  JournalLogSink sink(dir.path() / "journal.socket", stderrWriter.get());

  const auto longest = writeLines(sink, 50, "line\nforged", journal);
  ASSERT_TRUE(longest) << "a write waited on the full journal";
  EXPECT_LT(*longest, 100ms);
  const std::string fallen = drain(stderrReader.get());
  EXPECT_NE(fallen.find(" sub[cat] error: line\\nforged 49\n"), std::string::npos) << fallen;

  // A stderr that is full too: lines are dropped, counted and said once when one gets through.
  while (::send(stderrWriter.get(), "x", 1, MSG_DONTWAIT) == 1) {
  }
  ASSERT_TRUE(writeLines(sink, 3, "lost", journal));
  drain(stderrReader.get());
  ASSERT_TRUE(writeLines(sink, 2, "kept", journal));
  const std::string after = drain(stderrReader.get());
  EXPECT_EQ(after.find("lost"), std::string::npos);
  const auto notice = after.find(
      "error: 3 earlier log line(s) were dropped: neither the journal nor stderr could take them "
      "without waiting\n");
  EXPECT_NE(notice, std::string::npos) << after;
  EXPECT_LT(notice, after.find("kept 0"));
  EXPECT_EQ(after.find("earlier log line", after.find("kept 0")), std::string::npos);
  // The first lines reached the journal, in its binary form for a value with a newline.
  EXPECT_NE(drain(journal.get()).find("MESSAGE\n"), std::string::npos);
}

}  // namespace
}  // namespace ostrela::linux_platform
