// The process's own relay on the agent's real port, wired as the executable's
// main wires it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <thread>

#include "platform/linux/http/agent_relay.h"
#include "tests/platform/linux/http/relay_test_helpers.h"
#include "tests/support/proc_status.h"
#include "tests/support/test_agent.h"

namespace ostrela::testing {
namespace {

using linux_platform::AgentRelay;

long threads() {
  return procStatusValue(::getpid(), "Threads");
}

TEST(MainsRelay, MadeWithoutThreadsOrSocketsThenRelaysOnTheAgentPort) {
  const RelayPreferences preferences;  // the stores main built

  // A sanitizer's runtime may start a thread of its own with the first thread.
  std::thread([] {}).join();
  const auto threadsBefore = threads();
  const auto filesBefore = descriptorCount(::getpid());
  linux_platform::WorkerPool pool;
  const AgentRelay relay(pool, AgentUrl(), preferences.stores());
  EXPECT_EQ(threads(), threadsBefore);
  EXPECT_EQ(descriptorCount(::getpid()), filesBefore);

  // Written from outside the relay, as whatever provisions the secret would,
  // into the stores that main built: the relay has no second set of its own.
  preferences.writeSecret(AnyValue("agent-secret"));

  TestAgent agent(47653);
  const auto threadsWithAgent = threads();
  agent.answer(AgentAnswer::json(200, R"({"ok":true,"ldap":{"uid":"jdoe"}})"));
  const NativeReply reply = sendAndWait(pool, relay, relayRequest("getLdap", AnyValue(42)));
  EXPECT_EQ(reply.payload, (AnyMap{{"ok", true}, {"ldap", AnyMap{{"uid", "jdoe"}}}, {"id", 42}}));
  EXPECT_EQ(*agent.requests().at(0).header("Host"), "127.0.0.1:47653");
  EXPECT_EQ(*agent.requests().at(0).header("Authorization"), "Bearer agent-secret");
  EXPECT_EQ(threads(), threadsWithAgent + 1) << "one exchange at a time needs one pool thread";
}

}  // namespace
}  // namespace ostrela::testing
