// Writers in several processes and readers in threads share one App Group file:
// no reader ever sees a partial file, and no writer loses another's keys.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/linux/preferences/file_preference_stores.h"
#include "platform/linux/preferences/preference_file.h"
#include "shared/managed_configuration_key.h"
#include "tests/support/temporary_directory.h"

namespace ostrela::linux_platform {
namespace {

TEST(SuiteStoreConcurrency, ReadersNeverSeeAPartialFileAndWritersLoseNothing) {
  testing::TemporaryDirectory dir;
  // Patience enough for a loaded machine: a writer that gave up waiting for the
  // lock would lose its write by design, which is not what this test looks for.
  const FilePreferenceStores stores(XdgDirectories{dir.path()}, {dir.path() / "managed", false},
                                    "d", std::chrono::seconds(60));
  const auto file = stores.suiteFolder(appGroupSuiteName) / "preferences.json";
  stores.suiteForWriting(appGroupSuiteName)->setObjectForKey(AnyValue("kept"), "agentRelaySecret");

  constexpr int kWriters = 3;
  constexpr int kWritesEach = 60;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const auto suite = stores.suiteForWriting(appGroupSuiteName);
      // A large value makes a torn write easy to see.
      const std::string big(20000, static_cast<char>('a' + w));
      for (int i = 0; i < kWritesEach; ++i) {
        suite->setObjectForKey(AnyValue(big + std::to_string(i)), "writer" + std::to_string(w));
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }

  std::atomic<bool> writersDone{false};
  std::atomic<int> badReads{0};
  std::atomic<int> reads{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      while (!writersDone.load()) {  // the file exists from the start
        const auto map = readPreferenceFile(file);
        reads.fetch_add(1);
        if (!map || map->find("agentRelaySecret") == nullptr) badReads.fetch_add(1);
      }
    });
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  writersDone = true;
  for (auto& reader : readers) reader.join();

  EXPECT_EQ(badReads.load(), 0) << "of " << reads.load() << " reads";
  EXPECT_GT(reads.load(), 0);
  const auto final = readPreferenceFile(file);
  ASSERT_TRUE(final);
  EXPECT_EQ(final->size(), 1u + kWriters);
  for (int w = 0; w < kWriters; ++w) {
    const AnyValue* value = final->find("writer" + std::to_string(w));
    ASSERT_NE(value, nullptr);
    EXPECT_TRUE(value->asString()->ends_with(std::to_string(kWritesEach - 1)));
  }
}

}  // namespace
}  // namespace ostrela::linux_platform
