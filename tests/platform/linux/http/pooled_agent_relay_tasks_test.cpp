#include "platform/linux/http/pooled_agent_relay_tasks.h"

#include <future>
#include <new>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/recording_log_sink.h"

namespace ostrela::linux_platform {
namespace {

const AgentRelay& relayOutOfMemory() {
  throw std::bad_alloc();
}

TEST(PooledAgentRelayTasks, ATaskThatThrowsIsAnsweredWithItsIdAndLogged) {
  testing::RecordingLogSink sink;
  const Logger logger("com.ostrela.safari-extension.extension", "native-bridge", sink, {});
  PooledAgentRelayTasks tasks(&relayOutOfMemory, logger);
  std::promise<NativeReply> finished;
  tasks.startDetached(AgentRelayRequest{AnyValue(7), AgentRelayBudget::identity, "{}"},
                      [&](NativeReply reply) { finished.set_value(std::move(reply)); });

  auto reply = finished.get_future();
  ASSERT_EQ(reply.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(reply.get().payload, (AnyMap{{"ok", false}, {"error", kRelayTaskFailed}, {"id", 7}}));
  EXPECT_THAT(sink.messages(), ::testing::ElementsAre("A relay task failed: std::bad_alloc"));
}

}  // namespace
}  // namespace ostrela::linux_platform
