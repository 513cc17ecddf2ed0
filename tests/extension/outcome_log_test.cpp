// The outcome line of a message: its text, and that it costs no allocation
// when debug logging is off.
#include "extension/outcome_log.h"

#include <gtest/gtest.h>

#include "tests/support/allocation_counter.h"
#include "tests/support/recording_log_sink.h"

namespace ostrela {
namespace {

// The local and agent-refusal lines are checked through the handler; here the rest.
TEST(OutcomeLog, OneDebugLineWhoseTextFollowsTheReply) {
  const NativeReply agentRefusal{AnyMap{{"ok", false}, {"error", "user not found"}}, true};
  struct Case {
    NativeReply reply;
    bool showPrivate;
    const char* line;
  } cases[] = {
      // Success is judged by a boolean "ok" only.
      {NativeReply{AnyMap{{"ok", true}, {"error", "x"}}, true}, false, "Relayed 'scrub': ok"},
      {NativeReply{AnyMap{{"ok", "true"}, {"error", "E"}}, false}, false, "Relayed 'scrub': E"},
      // The agent's own error texts are private; the relay's are public.
      {agentRefusal, true, "Relayed 'scrub': user not found"},
      {errorReply("The Ostrela agent returned a malformed reply", {}), false,
       "Relayed 'scrub': The Ostrela agent returned a malformed reply"},
      {NativeReply{AnyMap{{"ok", false}}, true}, false, "Relayed 'scrub': failed"},
      {NativeReply{AnyMap{{"ok", false}, {"error", AnyValue(AnyArray{})}}, true}, false,
       "Relayed 'scrub': failed"},
  };
  for (const auto& c : cases) {
    testing::RecordingLogSink sink;
    logOutcome(Logger("s", "c", sink, LogSettings{true, c.showPrivate}), Handling::relayed, "scrub",
               c.reply);
    const auto lines = sink.lines();
    ASSERT_EQ(lines.size(), 1u) << c.line;
    EXPECT_EQ(lines[0].level, LogLevel::debug);
    EXPECT_EQ(lines[0].message, c.line);
  }
}

long allocationsDuring(const Logger& logger, const NativeReply& reply) {
  const long before = testing::allocationCount();
  logOutcome(logger, Handling::relayed, "scrub", reply);
  return testing::allocationCount() - before;
}

TEST(OutcomeLogCost, DebugOffAllocatesNothing) {
  testing::RecordingLogSink sink;
  const Logger quiet("s", "c", sink, LogSettings{false, false});
  const Logger verbose("s", "c", sink, LogSettings{true, false});
  const NativeReply replies[] = {
      NativeReply{AnyMap{{"ok", true}}, true},
      NativeReply{AnyMap{{"ok", false}, {"error", "a long agent error text, well past SSO"}}, true},
      NativeReply{AnyMap{{"ok", false}}, false},
  };
  for (const auto& reply : replies) {
    EXPECT_EQ(allocationsDuring(quiet, reply), 0);
    // The counter itself works: the same call with debug on does allocate.
    EXPECT_GT(allocationsDuring(verbose, reply), 0);
  }
}

}  // namespace
}  // namespace ostrela
