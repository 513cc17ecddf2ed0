// The process's own relay on the agent's real port. CTest runs the test in a
// process of its own, so the relay is first used here.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "platform/linux/http/agent_relay.h"
#include "tests/extension/relay/relay_test_helpers.h"
#include "tests/support/test_agent.h"

namespace ostrela::testing {
namespace {

using linux_platform::AgentRelay;

// Entries of a /proc/self folder: threads ("task") or open files ("fd").
std::size_t countEntries(const char* folder) {
  std::size_t count = 0;
  DIR* dir = ::opendir(folder);
  while (dir != nullptr && ::readdir(dir) != nullptr) ++count;
  if (dir != nullptr) ::closedir(dir);
  return count;
}

TEST(SharedAgentRelay, BuiltOnceOnFirstUseWithoutThreadsOrSocketsThenRelaysOnTheAgentPort) {
  TemporaryDirectory home;
  ::setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
  ::setenv("XDG_CONFIG_DIRS", (home.path() / "etc").c_str(), 1);

  // A sanitizer's runtime may start a thread of its own with the first thread.
  std::thread([] {}).join();
  const std::size_t threadsBefore = countEntries("/proc/self/task");
  const std::size_t filesBefore = countEntries("/proc/self/fd");
  std::vector<const AgentRelay*> seen(8);
  std::vector<std::thread> racers;
  for (auto& slot : seen) racers.emplace_back([&slot] { slot = &AgentRelay::shared(); });
  for (auto& racer : racers) racer.join();
  for (const AgentRelay* relay : seen) EXPECT_EQ(relay, seen[0]);
  EXPECT_EQ(countEntries("/proc/self/task"), threadsBefore);
  EXPECT_EQ(countEntries("/proc/self/fd"), filesBefore);
  EXPECT_EQ(linux_platform::workerThreadCount(), 0u);

  const AgentRelay& relay = AgentRelay::shared();
  ASSERT_TRUE(relay.baseURL());
  EXPECT_EQ(relay.baseURL()->absoluteString(), "http://127.0.0.1:47653");
  EXPECT_EQ(&relay.identitySession(), &AgentRelay::shared().identitySession());

  TestAgent agent(47653);
  agent.answer(AgentAnswer::json(200, R"({"ok":true,"ldap":{"uid":"jdoe"}})"));
  const NativeReply reply = sendAndWait(relay, relayRequest("getLdap", AnyValue(42)));
  EXPECT_EQ(reply.payload, (AnyMap{{"ok", true}, {"ldap", AnyMap{{"uid", "jdoe"}}}, {"id", 42}}));
  EXPECT_GE(linux_platform::workerThreadCount(), 2u);
}

}  // namespace
}  // namespace ostrela::testing
