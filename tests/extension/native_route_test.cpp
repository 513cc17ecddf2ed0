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

TEST(Route, EveryErrorRowAndItsText) {
  struct Case {
    std::optional<AnyValue> message;
    const char* reply;
  } cases[] = {
      // Not an object: no id, even when one is inside.
      {std::nullopt, R"({"ok":false,"error":"Malformed native message: expected a JSON object"})"},
      {decodeJson(R"(["id",{"id":7}])"),
       R"({"ok":false,"error":"Malformed native message: expected a JSON object"})"},
      {AnyValue("getManagedConfig"),
       R"({"ok":false,"error":"Malformed native message: expected a JSON object"})"},
      {AnyValue(7), R"({"ok":false,"error":"Malformed native message: expected a JSON object"})"},
      // No usable type: the id stays.
      {decodeJson(R"({"id":7})"),
       R"({"ok":false,"error":"Malformed native message: missing 'type'","id":7})"},
      {decodeJson(R"({"type":5})"),
       R"({"ok":false,"error":"Malformed native message: missing 'type'"})"},
      {decodeJson(R"({"type":""})"),
       R"({"ok":false,"error":"Malformed native message: missing 'type'"})"},
      {decodeJson(R"({"type":null,"host":"com.ostrela.ldap_host"})"),
       R"({"ok":false,"error":"Malformed native message: missing 'type'"})"},
      {decodeJson(R"({"type":"getLdap"})"),
       R"({"ok":false,"error":"Unknown native message type 'getLdap'"})"},
      {decodeJson(R"({"type":"getLdap","host":42})"),
       R"({"ok":false,"error":"Unknown native message type 'getLdap'"})"},
      {decodeJson(R"({"type":"scrub","host":"com.ostrela.ldap_host"})"),
       R"({"ok":false,"error":"Unsupported 'scrub' request for com.ostrela.ldap_host"})"},
      {decodeJson(R"({"type":"GetLdap","host":"com.ostrela.ldap_host"})"),
       R"({"ok":false,"error":"Unsupported 'GetLdap' request for com.ostrela.ldap_host"})"},
      {decodeJson(R"({"type":"getManagedConfig","host":"com.ostrela.ldap_host"})"),
       R"({"ok":false,"error":"Unsupported 'getManagedConfig' request for com.ostrela.ldap_host"})"},
      {decodeJson(R"({"type":"getToken","host":"com.ostrela.redaction_host"})"),
       R"({"ok":false,"error":"Unsupported 'getToken' request for com.ostrela.redaction_host"})"},
      {decodeJson(R"({"type":"scrub","host":""})"),
       R"({"ok":false,"error":"Unknown native-messaging host ''"})"},
      {decodeJson(R"({"type":"scrub","host":"com.ostrela.LDAP_host"})"),
       R"({"ok":false,"error":"Unknown native-messaging host 'com.ostrela.LDAP_host'"})"},
      // A relayed message must travel as JSON.
      {AnyValue(AnyMap{{"type", "getToken"},
                       {"host", "com.ostrela.ldap_host"},
                       {"id", 3},
                       {"when", AnyValue(Date{})}}),
       R"({"ok":false,"error":"Malformed 'getToken' request: not serializable as JSON","id":3})"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encodeJson(AnyValue(errorPayload(route(c.message)))), c.reply) << c.reply;
  }
}

TEST(Route, GetManagedConfigIsAnsweredLocallyWhenNoStringHost) {
  const std::pair<const char*, std::optional<AnyValue>> cases[] = {
      {R"({"type":"getManagedConfig"})", std::nullopt},
      {R"({"type":"getManagedConfig","host":3})", std::nullopt},
      {R"({"type":"getManagedConfig","host":null,"id":"abc"})", AnyValue("abc")}};
  for (const auto& [text, id] : cases) {
    const auto r = routeJson(text);
    ASSERT_TRUE(std::holds_alternative<ManagedConfigRoute>(r)) << text;
    EXPECT_EQ(std::get<ManagedConfigRoute>(r).id, id);
  }
}

TEST(Route, RelayedMessagesGetBudgetIdAndTheWholeBody) {
  const auto r = routeJson(
      R"({"type":"getToken","host":"com.ostrela.ldap_host","id":"req-1","extra":{"n":[1,null]}})");
  const auto* relay = std::get_if<RelayRoute>(&r);
  ASSERT_NE(relay, nullptr);
  EXPECT_EQ(relay->request.id, AnyValue("req-1"));
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

}  // namespace
}  // namespace ostrela
