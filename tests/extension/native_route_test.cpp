#include "extension/native_route.h"

#include <gtest/gtest.h>

#include "core/json.h"

namespace ostrela {
namespace {

NativeRoute routeJson(std::string_view text) {
  return route(decodeJson(text));
}

// The error reply of an error route, or a failure when the route is another case.
AnyMap errorPayload(const NativeRoute& r) {
  const auto* reply = std::get_if<ReplyRoute>(&r);
  if (reply == nullptr) {
    ADD_FAILURE() << "expected an error reply";
    return {};
  }
  EXPECT_FALSE(reply->reply.fromAgent);
  return reply->reply.payload;
}

std::string errorText(const NativeRoute& r) {
  const AnyMap payload = errorPayload(r);
  const AnyValue* error = payload.find("error");
  return error && error->isString() ? *error->asString() : "<none>";
}

TEST(Route, NonObjectMessagesAreMalformedAndCarryNoId) {
  for (const char* text : {R"(["id",{"id":7}])", "[]"}) {
    const AnyMap payload = errorPayload(routeJson(text));
    EXPECT_EQ(payload, (AnyMap{{"ok", false},
                               {"error", "Malformed native message: expected a JSON object"}}));
  }
  EXPECT_EQ(errorText(route(std::nullopt)), "Malformed native message: expected a JSON object");
  EXPECT_EQ(errorText(route(AnyValue("getManagedConfig"))),
            "Malformed native message: expected a JSON object");
  EXPECT_EQ(errorText(route(AnyValue(7))), "Malformed native message: expected a JSON object");
}

TEST(Route, MissingOrUnusableTypeKeepsTheId) {
  EXPECT_EQ(
      errorPayload(routeJson(R"({"id":7})")),
      (AnyMap{{"ok", false}, {"error", "Malformed native message: missing 'type'"}, {"id", 7}}));
  EXPECT_EQ(errorText(routeJson(R"({"type":5})")), "Malformed native message: missing 'type'");
  EXPECT_EQ(errorText(routeJson(R"({"type":""})")), "Malformed native message: missing 'type'");
  EXPECT_EQ(errorText(routeJson(R"({"type":null,"host":"com.ostrela.ldap_host"})")),
            "Malformed native message: missing 'type'");
}

TEST(Route, EveryErrorRowOfTheRoutingTable) {
  struct Case {
    const char* message;
    const char* error;
  } cases[] = {
      {R"({"type":"getLdap"})", "Unknown native message type 'getLdap'"},
      {R"({"type":"getLdap","host":42})", "Unknown native message type 'getLdap'"},
      {R"({"type":"scrub","host":"com.ostrela.ldap_host"})",
       "Unsupported 'scrub' request for com.ostrela.ldap_host"},
      {R"({"type":"GetLdap","host":"com.ostrela.ldap_host"})",
       "Unsupported 'GetLdap' request for com.ostrela.ldap_host"},
      {R"({"type":"getManagedConfig","host":"com.ostrela.ldap_host"})",
       "Unsupported 'getManagedConfig' request for com.ostrela.ldap_host"},
      {R"({"type":"getToken","host":"com.ostrela.redaction_host"})",
       "Unsupported 'getToken' request for com.ostrela.redaction_host"},
      {R"({"type":"scrub","host":""})", "Unknown native-messaging host ''"},
      {R"({"type":"scrub","host":"com.ostrela.LDAP_host"})",
       "Unknown native-messaging host 'com.ostrela.LDAP_host'"},
  };
  for (const auto& c : cases) EXPECT_EQ(errorText(routeJson(c.message)), c.error) << c.message;
}

TEST(Route, GetManagedConfigIsAnsweredLocallyWhenNoStringHost) {
  for (const char* text :
       {R"({"type":"getManagedConfig"})", R"({"type":"getManagedConfig","host":3})",
        R"({"type":"getManagedConfig","host":null})"}) {
    const auto r = routeJson(text);
    const auto* local = std::get_if<ManagedConfigRoute>(&r);
    ASSERT_NE(local, nullptr) << text;
    EXPECT_FALSE(local->id);
  }
  const auto r = routeJson(R"({"type":"getManagedConfig","id":"abc"})");
  EXPECT_EQ(std::get<ManagedConfigRoute>(r).id, AnyValue("abc"));
}

TEST(Route, RelayedMessagesGetBudgetPathIdAndTheWholeBody) {
  const auto r = routeJson(
      R"({"type":"getToken","host":"com.ostrela.ldap_host","id":"req-1","extra":{"n":[1,null]}})");
  const auto* relay = std::get_if<RelayRoute>(&r);
  ASSERT_NE(relay, nullptr);
  EXPECT_EQ(relay->request.id, AnyValue("req-1"));
  EXPECT_EQ(relay->request.path, "/browser-extension/native-message");
  EXPECT_EQ(relay->request.budget, AgentRelayBudget::identity);
  EXPECT_EQ(
      relay->request.body,
      R"({"type":"getToken","host":"com.ostrela.ldap_host","id":"req-1","extra":{"n":[1,null]}})");

  const auto ldap = routeJson(R"({"type":"getLdap","host":"com.ostrela.ldap_host"})");
  EXPECT_EQ(std::get<RelayRoute>(ldap).request.budget, AgentRelayBudget::identity);

  const auto scrub = routeJson(R"({"host":"com.ostrela.redaction_host","type":"scrub"})");
  const auto& request = std::get<RelayRoute>(scrub).request;
  EXPECT_EQ(request.budget, AgentRelayBudget::redaction);
  EXPECT_FALSE(request.id);
  EXPECT_EQ(request.body, R"({"host":"com.ostrela.redaction_host","type":"scrub"})");
}

TEST(Route, UnusableIdsAreDroppedFromRepliesButTravelInTheBody) {
  // A number beyond a double (1e400) cannot be written back; such a message
  // cannot be relayed either.
  for (const char* id : {"{\"x\":1}", "[1]", "null", "1e400", "-1e400"}) {
    const std::string text =
        std::string(R"({"type":"scrub","host":"com.ostrela.redaction_host","id":)") + id + "}";
    const auto r = routeJson(text);
    if (std::string_view(id).find("e400") == std::string_view::npos) {
      const auto& request = std::get<RelayRoute>(r).request;
      EXPECT_FALSE(request.id) << id;
      EXPECT_EQ(request.body, text);
    } else {
      EXPECT_FALSE(errorPayload(r).contains("id")) << id;
    }
    EXPECT_FALSE(
        errorPayload(routeJson(std::string(R"({"type":"x","id":)") + id + "}")).contains("id"));
    EXPECT_FALSE(std::get<ManagedConfigRoute>(
                     routeJson(std::string(R"({"type":"getManagedConfig","id":)") + id + "}"))
                     .id)
        << id;
  }
}

TEST(Route, IdsEchoExactlyAsDelivered) {
  for (const char* id : {"true", "false", "0", "7", "1.5", "9007199254740993", "-0", "\"\""}) {
    const std::string text = std::string(R"({"type":"nope","id":)") + id + "}";
    const AnyMap payload = errorPayload(routeJson(text));
    const AnyValue* echoed = payload.find("id");
    ASSERT_NE(echoed, nullptr) << id;
    EXPECT_EQ(encodeJson(AnyValue(AnyArray{*echoed})), "[" + std::string(id) + "]");
  }
}

TEST(Route, MessageThatCannotBeEncodedIsAnsweredWithAnError) {
  AnyMap message{{"type", "getToken"},
                 {"host", "com.ostrela.ldap_host"},
                 {"id", 3},
                 {"when", AnyValue(Date{})}};
  const AnyMap payload = errorPayload(route(AnyValue(message)));
  EXPECT_EQ(payload, (AnyMap{{"ok", false},
                             {"error", "Malformed 'getToken' request: not serializable as JSON"},
                             {"id", 3}}));
}

}  // namespace
}  // namespace ostrela
