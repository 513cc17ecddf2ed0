#include "extension/safari_web_extension_handler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/json.h"
#include "extension/extension_request_completion.h"
#include "shared/in_memory_preference_stores.h"
#include "tests/support/recording_log_sink.h"

namespace ostrela {
namespace {

// A request context that records its completions and, at each one, how many
// log lines had been written by then. Read its fields once the completing
// threads are done.
struct RecordingContext : ExtensionContext {
  RecordingContext(std::vector<InputItem> given, const testing::RecordingLogSink* logSink = nullptr)
      : items(std::move(given)), sink(logSink) {}
  const std::vector<InputItem>& inputItems() const override { return items; }
  std::optional<std::chrono::steady_clock::time_point> arrival() const override { return arrived; }
  std::optional<std::string> encodeMessage(const AnyMap& message) const override {
    return encoded ? encoded : ExtensionContext::encodeMessage(message);
  }
  void completeRequestReturningItems(std::vector<ExtensionItem> returned) override {
    std::lock_guard lock(mutex);
    completions.push_back(std::move(returned));
    linesAtCompletion = sink ? sink->lines().size() : 0;
  }
  // The one reply, or a failure when there was not exactly one completion.
  AnyMap reply() const {
    if (completions.size() != 1 || completions[0].size() != 1 || !completions[0][0].userInfo) {
      ADD_FAILURE() << "expected exactly one completion with one item";
      return {};
    }
    const AnyMap& userInfo = *completions[0][0].userInfo;
    EXPECT_EQ(userInfo.size(), 1u) << "user info holds only the message key";
    const AnyValue* reply = userInfo.find(SFExtensionMessageKey);
    return reply && reply->isMap() ? *reply->asMap() : AnyMap{};
  }

  std::vector<InputItem> items;
  std::optional<std::chrono::steady_clock::time_point> arrived;
  std::optional<std::string> encoded;  // the runtime's own text of the message
  const testing::RecordingLogSink* sink;
  std::mutex mutex;
  std::vector<std::vector<ExtensionItem>> completions;
  std::size_t linesAtCompletion = 0;
};

// Holds relayed requests until the test finishes them.
class ManualRelayTasks : public AgentRelayTasks {
 public:
  void startDetached(AgentRelayRequest request, std::function<void(NativeReply)> finish) override {
    started.push_back({std::move(request), std::move(finish)});
  }
  std::vector<std::pair<AgentRelayRequest, std::function<void(NativeReply)>>> started;
};

ExtensionItem itemWith(std::optional<AnyValue> message) {
  AnyMap userInfo;
  if (message) userInfo.set(std::string(SFExtensionMessageKey), std::move(*message));
  return ExtensionItem{std::move(userInfo)};
}

class Handler : public ::testing::Test {
 protected:
  testing::RecordingLogSink sink;
  Logger logger{"com.ostrela.safari-extension.extension", "native-bridge", sink, {true, false}};
  InMemoryPreferenceStores stores;
  ManualRelayTasks relays;
  SafariWebExtensionHandler handler{stores, logger, relays};

  std::shared_ptr<RecordingContext> send(std::vector<InputItem> items) {
    auto context = std::make_shared<RecordingContext>(std::move(items), &sink);
    handler.beginRequestWithExtensionContext(context);
    return context;
  }
  std::shared_ptr<RecordingContext> sendJson(std::string_view json) {
    return send({itemWith(decodeJson(json))});
  }
};

TEST_F(Handler, ExtractionDefectsGiveTheMalformedReplyWithoutId) {
  AnyMap noKey{{"other", AnyValue(AnyMap{{"type", "getManagedConfig"}})}};
  const std::vector<std::vector<InputItem>> defects = {
      {},                                                             // no input items
      {ForeignInputItem{}, itemWith(decodeJson(R"({"type":"x"})"))},  // first is not an item
      {ExtensionItem{std::nullopt}},                                  // no user info
      {ExtensionItem{noKey}},                                         // no message key
      // Only the first item counts.
      {itemWith(AnyValue("not an object")), itemWith(decodeJson(R"({"type":"getManagedConfig"})"))},
  };
  for (const auto& items : defects) {
    const auto context = send(items);
    EXPECT_EQ(
        context->reply(),
        (AnyMap{{"ok", false}, {"error", "Malformed native message: expected a JSON object"}}));
  }
  EXPECT_EQ(sink.messages(),
            std::vector<std::string>(
                defects.size(),
                "Answered '(none)' locally: Malformed native message: expected a JSON object"));
}

TEST(TypeLabel, ComesFromAStringTypeOnly) {
  EXPECT_EQ(typeLabel(decodeJson(R"({"type":""})")), "");
  EXPECT_EQ(typeLabel(decodeJson(R"({"type":5})")), "(none)");
  EXPECT_EQ(typeLabel(decodeJson(R"(["type"])")), "(none)");
  EXPECT_EQ(typeLabel(std::nullopt), "(none)");
}

TEST_F(Handler, ManagedConfigIsAnsweredSynchronouslyAfterTheLogLine) {
  stores.standard->force("organizationName", AnyValue("Acme"));
  stores.standard->force("Misspelt", AnyValue(1));
  stores.standard->force("PayloadContent", AnyValue(AnyArray{}));
  const auto context = sendJson(R"({"type":"getManagedConfig","id":"c1"})");
  EXPECT_EQ(context->reply(),
            (AnyMap{{"ok", true},
                    {"config", AnyValue(AnyMap{{"organizationName", "Acme"}})},
                    {"id", "c1"},
                    {"unrecognizedForcedKeys", AnyArray{"Misspelt", "PayloadContent"}},
                    {"isDoubleWrappedProfile", true}}));
  EXPECT_EQ(sink.messages(), std::vector<std::string>{"Answered 'getManagedConfig' locally: ok"});
  EXPECT_EQ(context->linesAtCompletion, 1u) << "the outcome is logged before completion";
  EXPECT_TRUE(relays.started.empty());
}

TEST_F(Handler, RelayedMessageReturnsAtOnceAndCompletesWhenTheRelayAnswers) {
  const auto context = sendJson(R"({"type":"scrub","host":"com.ostrela.redaction_host","id":3})");
  ASSERT_EQ(relays.started.size(), 1u);
  EXPECT_TRUE(context->completions.empty());
  EXPECT_TRUE(sink.lines().empty());

  relays.started[0].second(
      NativeReply{AnyMap{{"ok", false}, {"error", "agent says no"}, {"id", 3}}, true});
  EXPECT_EQ(context->reply(), (AnyMap{{"ok", false}, {"error", "agent says no"}, {"id", 3}}));
  EXPECT_EQ(sink.messages(), std::vector<std::string>{"Relayed 'scrub': <private>"});
  EXPECT_EQ(context->linesAtCompletion, 1u);
}

// A runtime that holds a large message as text writes the relayed body, and the
// budget counts from when the message arrived there.
TEST_F(Handler, ARelayedBodyAndItsArrivalComeFromTheContext) {
  auto context = std::make_shared<RecordingContext>(std::vector<InputItem>{
      itemWith(decodeJson(R"({"type":"getToken","host":"com.ostrela.ldap_host"})"))});
  context->arrived = std::chrono::steady_clock::time_point(std::chrono::seconds(42));
  context->encoded = R"({"the":"whole message"})";
  handler.beginRequestWithExtensionContext(context);
  ASSERT_EQ(relays.started.size(), 1u);
  EXPECT_EQ(relays.started[0].first.body, *context->encoded);
  EXPECT_EQ(relays.started[0].first.arrival, context->arrived);
}

TEST(ExtensionRequestCompletionTest, CompletesExactlyOnceEvenFromManyThreadsAndNotWhenDestroyed) {
  auto untouched = std::make_shared<RecordingContext>(std::vector<InputItem>{});
  { ExtensionRequestCompletion completion(untouched); }
  EXPECT_TRUE(untouched->completions.empty());
  for (int round = 0; round < 20; ++round) {
    auto context = std::make_shared<RecordingContext>(std::vector<InputItem>{});
    ExtensionRequestCompletion completion(context);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&completion, t] { completion.complete(AnyMap{{"thread", t}}); });
    }
    for (auto& thread : threads) thread.join();
    completion.complete(AnyMap{{"late", true}});
    EXPECT_EQ(context->completions.size(), 1u);
  }
}

}  // namespace
}  // namespace ostrela
