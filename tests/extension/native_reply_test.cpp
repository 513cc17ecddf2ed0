#include "extension/native_reply.h"

#include <gtest/gtest.h>

#include "core/json.h"
#include "extension/outcome_log.h"
#include "tests/support/recording_log_sink.h"

namespace ostrela {
namespace {

std::string json(const NativeReply& reply) {
  return encodeJson(AnyValue(reply.payload)).value_or("<unencodable>");
}

TEST(ErrorReply, CarriesTheIdOnlyWhenPresent) {
  EXPECT_EQ(json(errorReply("Boom", std::nullopt)), R"({"ok":false,"error":"Boom"})");
  EXPECT_EQ(json(errorReply("Boom", AnyValue(0))), R"({"ok":false,"error":"Boom","id":0})");
  EXPECT_FALSE(errorReply("Boom", AnyValue(0)).fromAgent);
}

TEST(ManagedConfigReply, OptionalKeysAppearOnlyWhenTheyCarrySomething) {
  const AnyMap config{{"organizationName", "Acme"}};
  EXPECT_EQ(json(managedConfigReply(config, {}, false, std::nullopt)),
            R"({"ok":true,"config":{"organizationName":"Acme"}})");
  EXPECT_EQ(json(managedConfigReply({}, {"b", "a"}, true, AnyValue("x"))),
            R"({"ok":true,"config":{},"id":"x","unrecognizedForcedKeys":["b","a"],)"
            R"("isDoubleWrappedProfile":true})");
  EXPECT_FALSE(managedConfigReply({}, {}, true, std::nullopt).fromAgent);
}

class OutcomeLog : public ::testing::Test {
 protected:
  std::vector<std::string> logged(const char* verb, const char* label, bool locally,
                                  const NativeReply& reply, bool showPrivate = false) {
    testing::RecordingLogSink sink;
    const Logger logger("com.ostrela.safari-extension.extension", "native-bridge", sink,
                        LogSettings{true, showPrivate});
    logOutcome(logger, verb, label, locally, reply);
    for (const auto& line : sink.lines()) EXPECT_EQ(line.level, LogLevel::debug);
    return sink.messages();
  }
  using Lines = std::vector<std::string>;
};

TEST_F(OutcomeLog, SuccessIsJudgedByABooleanOkOnly) {
  EXPECT_EQ(logged("Answered", "getManagedConfig", true, managedConfigReply({}, {}, false, {})),
            Lines{"Answered 'getManagedConfig' locally: ok"});
  const NativeReply okWithError{AnyMap{{"ok", true}, {"error", "ignored"}}, true};
  EXPECT_EQ(logged("Relayed", "getToken", false, okWithError), Lines{"Relayed 'getToken': ok"});
  const NativeReply okAsString{AnyMap{{"ok", "true"}, {"error", "E"}}, false};
  EXPECT_EQ(logged("Relayed", "getToken", false, okAsString), Lines{"Relayed 'getToken': E"});
}

TEST_F(OutcomeLog, AgentErrorsArePrivateAndRelayErrorsPublic) {
  const NativeReply agent{AnyMap{{"ok", false}, {"error", "user not found"}}, true};
  EXPECT_EQ(logged("Relayed", "scrub", false, agent), Lines{"Relayed 'scrub': <private>"});
  EXPECT_EQ(logged("Relayed", "scrub", false, agent, true),
            Lines{"Relayed 'scrub': user not found"});
  const NativeReply relayFailure = errorReply("The Ostrela agent returned a malformed reply", {});
  EXPECT_EQ(logged("Relayed", "scrub", false, relayFailure),
            Lines{"Relayed 'scrub': The Ostrela agent returned a malformed reply"});
}

TEST_F(OutcomeLog, RepliesWithoutUsableErrorAreLoggedAsFailed) {
  EXPECT_EQ(logged("Relayed", "getLdap", false, NativeReply{AnyMap{{"ok", false}}, true}),
            Lines{"Relayed 'getLdap': failed"});
  EXPECT_EQ(logged("Relayed", "getLdap", false,
                   NativeReply{AnyMap{{"ok", false}, {"error", AnyValue(AnyArray{})}}, true}),
            Lines{"Relayed 'getLdap': failed"});
  EXPECT_EQ(
      logged("Answered", "", true, errorReply("Malformed native message: missing 'type'", {})),
      Lines{"Answered '' locally: Malformed native message: missing 'type'"});
}

TEST_F(OutcomeLog, NothingIsWrittenWhenDebugIsOff) {
  testing::RecordingLogSink sink;
  const Logger logger("s", "c", sink, LogSettings{false, true});
  logOutcome(logger, "Answered", "x", true, errorReply("E", {}));
  EXPECT_TRUE(sink.lines().empty());
}

}  // namespace
}  // namespace ostrela
