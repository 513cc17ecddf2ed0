// The one test that waits out the full redaction budget.
#include <gtest/gtest.h>

#include "platform/linux/http/agent_relay.h"
#include "tests/extension/relay/relay_test_helpers.h"
#include "tests/support/test_agent.h"

namespace ostrela::testing {
namespace {

TEST(RedactionBudget, SilentAgentEndsTheScrubAfterTenSeconds) {
  TestAgent agent;
  agent.answer(AgentAnswer::of(AgentAnswer::Kind::neverAnswer));
  RelayPreferences preferences;
  const auto relay = preferences.relayFor(agent.port());
  const auto start = std::chrono::steady_clock::now();
  const NativeReply reply = sendAndWait(*relay, relayRequest("scrub", AnyValue("s")));
  const double elapsed = millisecondsSince(start);
  EXPECT_EQ(reply.payload, errorReply("The Ostrela agent is not reachable at " + agent.url() +
                                          ": the request timed out after 10 seconds",
                                      AnyValue("s"))
                               .payload);
  EXPECT_GE(elapsed, 10000);
  EXPECT_LT(elapsed, 11000);
}

}  // namespace
}  // namespace ostrela::testing
