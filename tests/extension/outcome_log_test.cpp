// Proves that the outcome line costs no allocation when debug logging is off.
#include <gtest/gtest.h>

#include "extension/outcome_log.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/recording_log_sink.h"

namespace ostrela {
namespace {

long allocationsDuring(const Logger& logger, const NativeReply& reply) {
  const long before = testing::allocationCount();
  logOutcome(logger, "Relayed", "scrub", false, reply);
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
