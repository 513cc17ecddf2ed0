#include "extension/native_reply.h"

#include <gtest/gtest.h>

#include "core/json.h"
#include "extension/outcome_log.h"
#include "tests/support/recording_log_sink.h"

namespace ostrela {
namespace {

TEST(ManagedConfigReply, OptionalKeysAppearOnlyWhenTheyCarrySomething) {
  const auto json = [](const NativeReply& reply) { return encodeJson(AnyValue(reply.payload)); };
  EXPECT_EQ(json(managedConfigReply(AnyMap{{"organizationName", "Acme"}}, {}, false, std::nullopt)),
            R"({"ok":true,"config":{"organizationName":"Acme"}})");
  EXPECT_EQ(json(managedConfigReply({}, {"b", "a"}, true, AnyValue("x"))),
            R"({"ok":true,"config":{},"id":"x","unrecognizedForcedKeys":["b","a"],)"
            R"("isDoubleWrappedProfile":true})");
  EXPECT_FALSE(managedConfigReply({}, {}, true, std::nullopt).fromAgent);
}

TEST(OutcomeLog, OneDebugLineWhoseTextFollowsTheReply) {
  const NativeReply agentRefusal{AnyMap{{"ok", false}, {"error", "user not found"}}, true};
  struct Case {
    const char* verb;
    const char* label;
    bool locally;
    NativeReply reply;
    bool showPrivate;
    const char* line;
  } cases[] = {
      {"Answered", "getManagedConfig", true, managedConfigReply({}, {}, false, {}), false,
       "Answered 'getManagedConfig' locally: ok"},
      // Success is judged by a boolean "ok" only.
      {"Relayed", "getToken", false, NativeReply{AnyMap{{"ok", true}, {"error", "x"}}, true}, false,
       "Relayed 'getToken': ok"},
      {"Relayed", "getToken", false, NativeReply{AnyMap{{"ok", "true"}, {"error", "E"}}, false},
       false, "Relayed 'getToken': E"},
      // The agent's own error texts are private; the relay's are public.
      {"Relayed", "scrub", false, agentRefusal, false, "Relayed 'scrub': <private>"},
      {"Relayed", "scrub", false, agentRefusal, true, "Relayed 'scrub': user not found"},
      {"Relayed", "scrub", false, errorReply("The Ostrela agent returned a malformed reply", {}),
       false, "Relayed 'scrub': The Ostrela agent returned a malformed reply"},
      {"Relayed", "getLdap", false, NativeReply{AnyMap{{"ok", false}}, true}, false,
       "Relayed 'getLdap': failed"},
      {"Relayed", "getLdap", false,
       NativeReply{AnyMap{{"ok", false}, {"error", AnyValue(AnyArray{})}}, true}, false,
       "Relayed 'getLdap': failed"},
      {"Answered", "", true, errorReply("Malformed native message: missing 'type'", {}), false,
       "Answered '' locally: Malformed native message: missing 'type'"},
  };
  for (const auto& c : cases) {
    testing::RecordingLogSink sink;
    const Logger logger("com.ostrela.safari-extension.extension", "native-bridge", sink,
                        LogSettings{true, c.showPrivate});
    logOutcome(logger, c.verb, c.label, c.locally, c.reply);
    const auto lines = sink.lines();
    ASSERT_EQ(lines.size(), 1u) << c.line;
    EXPECT_EQ(lines[0].level, LogLevel::debug);
    EXPECT_EQ(lines[0].message, c.line);
  }
}

}  // namespace
}  // namespace ostrela
