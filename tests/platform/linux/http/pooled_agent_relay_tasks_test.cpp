#include "platform/linux/http/pooled_agent_relay_tasks.h"

#include <future>
#include <new>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "extension/relay/agent_url.h"
#include "platform/linux/http/agent_relay.h"
#include "platform/linux/http/worker_pool.h"
#include "tests/support/recording_log_sink.h"

namespace ostrela::linux_platform {
namespace {

// Stores that fail as memory running out would: the relay reads its secret from them.
class StoresOutOfMemory : public PreferenceStores {
  std::shared_ptr<ManagedPreferenceDomain> standardUserDefaults() const override {
    throw std::bad_alloc();
  }
  std::shared_ptr<ManagedPreferenceDomain> suiteForReading(std::string_view) const override {
    throw std::bad_alloc();
  }
  std::shared_ptr<MutablePreferenceDomain> suiteForWriting(std::string_view) const override {
    throw std::bad_alloc();
  }
};

TEST(PooledAgentRelayTasks, ATaskThatThrowsIsAnsweredWithItsIdAndLogged) {
  testing::RecordingLogSink sink;
  const Logger logger("com.ostrela.safari-extension.extension", "native-bridge", sink, {});
  WorkerPool pool;
  const AgentRelay relay(pool, AgentUrl(), std::make_shared<StoresOutOfMemory>());
  PooledAgentRelayTasks tasks(pool, relay, logger);
  std::promise<NativeReply> finished;
  tasks.startDetached(
      AgentRelayRequest{AnyValue(7), AgentRelayBudget::identity, "{}", std::nullopt},
      [&](NativeReply reply) { finished.set_value(std::move(reply)); });

  auto reply = finished.get_future();
  ASSERT_EQ(reply.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(reply.get().payload, (AnyMap{{"ok", false}, {"error", kRelayTaskFailed}, {"id", 7}}));
  EXPECT_THAT(sink.messages(), ::testing::ElementsAre("A relay task failed: std::bad_alloc"));
}

}  // namespace
}  // namespace ostrela::linux_platform
