// The process's own relay on the agent's real port, wired as the executable's
// main wires it.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <thread>

#include "platform/linux/http/agent_relay.h"
#include "tests/platform/linux/http/relay_test_helpers.h"
#include "tests/support/test_agent.h"

namespace ostrela::testing {
namespace {

using linux_platform::AgentRelay;

// Entries of a /proc/self folder: threads ("task") or open files ("fd").
std::ptrdiff_t countEntries(const char* folder) {
  return std::distance(std::filesystem::directory_iterator(folder), {});
}

// This process's thread count once it has settled (a joined thread leaves a moment later).
std::ptrdiff_t threadsSettledAt(std::ptrdiff_t expected) {
  for (int i = 0; i < 100 && countEntries("/proc/self/task") != expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return countEntries("/proc/self/task");
}

TEST(MainsRelay, MadeWithoutThreadsOrSocketsThenRelaysOnTheAgentPort) {
  const RelayPreferences preferences;  // the stores main built

  // A sanitizer's runtime may start a thread of its own with the first thread.
  std::thread([] {}).join();
  const auto threadsBefore = countEntries("/proc/self/task");
  const auto filesBefore = countEntries("/proc/self/fd");
  linux_platform::WorkerPool pool;
  const AgentRelay relay(pool, agentBaseURL(), preferences.stores());
  EXPECT_EQ(countEntries("/proc/self/task"), threadsBefore);
  EXPECT_EQ(countEntries("/proc/self/fd"), filesBefore);

  // Written from outside the relay, as whatever provisions the secret would,
  // into the stores that main built: the relay has no second set of its own.
  preferences.writeSecret(AnyValue("agent-secret"));

  TestAgent agent(47653);
  const auto threadsWithAgent = countEntries("/proc/self/task");
  agent.answer(AgentAnswer::json(200, R"({"ok":true,"ldap":{"uid":"jdoe"}})"));
  const NativeReply reply = sendAndWait(pool, relay, relayRequest("getLdap", AnyValue(42)));
  EXPECT_EQ(reply.payload, (AnyMap{{"ok", true}, {"ldap", AnyMap{{"uid", "jdoe"}}}, {"id", 42}}));
  EXPECT_EQ(*agent.requests().at(0).header("Host"), "127.0.0.1:47653");
  EXPECT_EQ(*agent.requests().at(0).header("Authorization"), "Bearer agent-secret");
  EXPECT_EQ(threadsSettledAt(threadsWithAgent + 1), threadsWithAgent + 1)
      << "one exchange at a time needs one pool thread";
}

}  // namespace
}  // namespace ostrela::testing
