#include "extension/relay/agent_exchange.h"

#include <gtest/gtest.h>

#include "core/json.h"

namespace ostrela {
namespace {

AgentRelayRequest relayRequest(std::optional<AnyValue> id) {
  return AgentRelayRequest{std::move(id), AgentRelayBudget::identity,
                           R"({"type":"getToken","host":"com.ostrela.ldap_host","id":"abc"})",
                           std::nullopt};
}

AnyMap errorPayload(std::string text, std::optional<AnyValue> id) {
  return errorReply(text, id).payload;
}

// The request bytes, with the secret sent exactly as stored: agent_relay_test.
TEST(PrepareAgentRequest, NoAuthorizationWithoutAUsableSecret) {
  // A secret that would end the header line early is never sent.
  for (const std::optional<std::string>& secret :
       {std::optional<std::string>(), std::optional<std::string>(""),
        std::optional<std::string>("abc\r\nX-Injected: 1"), std::optional<std::string>("a\nb"),
        std::optional<std::string>(std::string("a\0b", 3))}) {
    EXPECT_EQ(prepareAgentRequest(AgentUrl(), secret).headers.size(), 2u);  // no Authorization
  }
}

TEST(JudgeAgentOutcome, FailuresInTheOrderOfChecking) {
  const AgentUrl base;
  const AgentRelayRequest request = relayRequest(AnyValue("abc"));
  struct Case {
    HttpOutcome outcome;
    std::string error;
  } cases[] = {
      {TransportFailure{"the connection was refused"},
       "The Ostrela agent is not reachable at http://127.0.0.1:47653: the connection was refused"},
      {NonHttpResponse{}, "The Ostrela agent returned a non-HTTP response"},
      {OversizedAnswer{5000000}, "The reply is too large for the browser (5000000 bytes)"},
      {HttpResponse{500, R"({"ok":true})"}, "The Ostrela agent rejected the request (HTTP 500)"},
      {HttpResponse{302, ""}, "The Ostrela agent rejected the request (HTTP 302)"},
      {HttpResponse{199, ""}, "The Ostrela agent rejected the request (HTTP 199)"},
      {HttpResponse{300, ""}, "The Ostrela agent rejected the request (HTTP 300)"},
      {HttpResponse{204, ""}, "The Ostrela agent returned a malformed reply"},
      {HttpResponse{299, "{}"}, "The Ostrela agent reply is missing 'ok'"},
  };
  for (auto& [outcome, error] : cases) {
    const NativeReply reply = judgeAgentOutcome(outcome, base, request);
    EXPECT_EQ(reply.payload, errorPayload(error, AnyValue("abc")));
    EXPECT_FALSE(reply.fromAgent);
  }
  const NativeReply ok = judgeAgentOutcome(HttpResponse{200, R"({"ok":true})"}, base, request);
  EXPECT_TRUE(ok.fromAgent);
}

TEST(ParseAgentReply, BodiesThatAreNotAnObjectWithABooleanOk) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "The Ostrela agent returned a malformed reply"},
      {"[1,2]", "The Ostrela agent returned a malformed reply"},
      {R"({"ok":true} trailing)", "The Ostrela agent returned a malformed reply"},
      {"{}", "The Ostrela agent reply is missing 'ok'"},
      {R"({"ok":"true"})", "The Ostrela agent reply is missing 'ok'"},
      {R"({"ok":null})", "The Ostrela agent reply is missing 'ok'"},
      // Only JSON booleans count: the number 1 is not "ok".
      {R"({"ok":1})", "The Ostrela agent reply is missing 'ok'"},
  };
  for (const auto& [body, error] : cases) {
    const NativeReply reply = parseAgentReply(body, relayRequest(AnyValue(3)));
    EXPECT_EQ(reply.payload, errorPayload(error, AnyValue(3))) << body;
    EXPECT_FALSE(reply.fromAgent);
  }
}

// The agent's object passes through in the agent's member order; the request's id
// takes the agent's place, and without one the agent's id stays.
TEST(ParseAgentReply, AgentObjectPassesThroughWithTheRequestId) {
  const char* body = R"({"ok":false,"error":"denied","id":7,"nested":{"a":[null,1.5]},"n":null})";
  const std::pair<std::optional<AnyValue>, const char*> cases[] = {
      {AnyValue("abc"),
       R"({"ok":false,"error":"denied","id":"abc","nested":{"a":[null,1.5]},"n":null})"},
      {AnyValue(false),
       R"({"ok":false,"error":"denied","id":false,"nested":{"a":[null,1.5]},"n":null})"},
      {std::nullopt, body},
  };
  for (const auto& [id, expected] : cases) {
    const NativeReply reply = parseAgentReply(body, relayRequest(id));
    EXPECT_TRUE(reply.fromAgent);
    EXPECT_EQ(encodeJson(reply.payload), expected);
  }
  EXPECT_EQ(encodeJson(parseAgentReply(R"({"ok":true})", relayRequest(std::nullopt)).payload),
            R"({"ok":true})");
}

}  // namespace
}  // namespace ostrela
