// The relay against a real listener on loopback.
#include "platform/linux/http/agent_relay.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <string>

#include "core/json.h"
#include "core/logger.h"
#include "platform/linux/http/pooled_agent_relay_tasks.h"
#include "tests/platform/linux/http/relay_test_helpers.h"
#include "tests/support/recording_log_sink.h"
#include "tests/support/test_agent.h"

namespace ostrela::testing {
namespace {

using linux_platform::AgentRelay;
using std::chrono::milliseconds;

class AgentRelayTest : public ::testing::Test {
 protected:
  RelayPreferences preferences;
  TestAgent agent;
  std::unique_ptr<AgentRelay> relay = preferences.relayFor(agent.port());

  std::string notReachable(std::string_view description) const {
    return "The Ostrela agent is not reachable at " + agent.url() + ": " + std::string(description);
  }
};

TEST_F(AgentRelayTest, SendsExactlyThePostWithTheSecretOfTheMomentOnOneConnection) {
  agent.answer(AgentAnswer::json(200, R"({"ok":true,"token":"t-1","id":7})"));
  const AgentRelayRequest request = relayRequest("getToken", AnyValue("abc"));
  for (const char* secret : {" s3cr\xC3\xA9t\twith spaces ", "rotated"}) {
    preferences.writeSecret(AnyValue(secret));
    const NativeReply reply = sendAndWait(preferences.pool(), *relay, request);
    EXPECT_TRUE(reply.fromAgent);
    EXPECT_EQ(reply.payload, (AnyMap{{"ok", true}, {"token", "t-1"}, {"id", "abc"}}));
  }
  const std::vector<RecordedRequest> seen = agent.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].raw,
            "POST /browser-extension/native-message HTTP/1.1\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(agent.port()) +
                "\r\n"
                "Content-Type: application/json\r\n"
                "Accept: application/json\r\n"
                "Authorization: Bearer  s3cr\xC3\xA9t\twith spaces \r\n"
                "Content-Length: " +
                std::to_string(request.body.size()) +
                "\r\n"
                "\r\n" +
                request.body);
  EXPECT_EQ(*seen[1].header("Authorization"), "Bearer rotated");
  EXPECT_EQ(agent.connectionCount(), 1u);  // kept alive
}

// What only the transport sees; statuses and bodies are judged in agent_exchange_test.
TEST_F(AgentRelayTest, EveryWayTheConnectionCanFail) {
  preferences.writeSecret(AnyValue("never-in-a-reply"));
  TestAgent redirectTarget;
  AgentAnswer redirect = AgentAnswer::json(307, R"({"ok":true})");
  redirect.headers.emplace_back("Location", redirectTarget.url() + "/elsewhere");

  // The rest of what an answer can be is read by HttpResponseReader and judged by the core.
  const std::pair<AgentAnswer, std::string> cases[] = {
      {redirect, "The Ostrela agent rejected the request (HTTP 307)"},
      {AgentAnswer::bytes("SSH-2.0-OpenSSH_9.2\r\n"),
       "The Ostrela agent returned a non-HTTP response"},
  };
  for (const auto& [answer, error] : cases) {
    agent.answer(answer);
    const NativeReply reply =
        sendAndWait(preferences.pool(), *relay, relayRequest("getToken", AnyValue(5)));
    EXPECT_EQ(reply.payload, errorReply(error, AnyValue(5)).payload) << error;
    EXPECT_FALSE(reply.fromAgent);
    EXPECT_EQ(errorText(reply).find("never-in-a-reply"), std::string::npos);
  }
  EXPECT_EQ(redirectTarget.connectionCount(), 0u);
  EXPECT_EQ(agent.requestCount(), std::size(cases));
}

// Answers that are read in full, also one byte per segment; each closes its
// connection, which the next exchange replaces, whether or not the close has
// arrived when it starts.
TEST_F(AgentRelayTest, InterimLargeDrippedAndCloseDelimitedAnswersAreReadAndConnectionsReplaced) {
  const std::string big = R"({"ok":true,"blob":")" + std::string(3 * 1024 * 1024, 'x') + "\"}";
  AgentAnswer untilClose = AgentAnswer::json(200, R"({"ok":true})");
  untilClose.contentLength = false;
  // Promises keep-alive, then closes once the body is out: replaced, not reported.
  AgentAnswer closesAfter = AgentAnswer::json(200, R"({"ok":true})");
  closesAfter.closeAfterBodyBytes = closesAfter.body.size();
  AgentAnswer dripped =
      AgentAnswer::bytes("HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n{\"ok\":true}");
  dripped.dripInterval = milliseconds(1);
  const AgentAnswer cases[] = {
      AgentAnswer::bytes("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: " +
                         std::to_string(big.size()) + "\r\n\r\n" + big),
      untilClose, closesAfter, dripped};
  for (const AgentAnswer& answer : cases) {
    agent.answer(answer);
    const std::size_t before = agent.connectionCount();
    for (int i = 0; i < 3; ++i) {
      const NativeReply reply =
          sendAndWait(preferences.pool(), *relay, relayRequest("scrub", std::nullopt));
      EXPECT_TRUE(reply.fromAgent) << errorText(reply);
    }
    EXPECT_EQ(agent.connectionCount() - before, 3u);
  }
}

// A kept-alive connection that the agent closes as the next request goes out:
// that request goes once more, on a new connection. Never after a byte of the
// answer, never for a new connection, so never twice.
TEST_F(AgentRelayTest, ARequestLostOnAKeptAliveConnectionIsSentOnceMoreOnANewOne) {
  const auto firstThen = [](AgentAnswer later) {
    return [later](const RecordedRequest& request) {
      return request.onConnection == 1 ? AgentAnswer{} : later;
    };
  };
  const auto send = [&] {
    return sendAndWait(preferences.pool(), *relay, relayRequest("getToken", AnyValue(1)));
  };
  const AgentAnswer closes = AgentAnswer::of(AgentAnswer::Kind::closeAtOnce);
  agent.answer(firstThen(closes));
  EXPECT_TRUE(send().fromAgent);
  EXPECT_TRUE(send().fromAgent) << "sent once more";
  EXPECT_EQ(agent.requestCount(), 3u);
  EXPECT_EQ(agent.connectionCount(), 2u);

  agent.answer(closes);  // the new connection fails as well
  EXPECT_EQ(errorText(send()), notReachable("the connection was closed before the agent answered"));
  EXPECT_EQ(agent.requestCount(), 5u);

  agent.answer(firstThen(AgentAnswer::bytes("HTTP/1.1 200 OK\r\n")));
  EXPECT_TRUE(send().fromAgent);
  EXPECT_EQ(errorText(send()),
            notReachable("the connection was closed before the answer was complete"));
  EXPECT_EQ(agent.requestCount(), 7u);
}

// An agent that refuses a large body after its head and reads no more: its
// refusal is the reply, whether it then closes (a reset) or only stops sending.
TEST_F(AgentRelayTest, AnEarlyRefusalOfALargeBodyIsTheReply) {
  agent.answerOnHead(true);
  AgentRelayRequest request = relayRequest("scrub", AnyValue(8));
  request.body = R"({"type":"scrub","host":"com.ostrela.redaction_host","text":")" +
                 std::string(8 << 20, 'a') + "\"}";
  for (const bool halfClose : {false, true}) {
    AgentAnswer refusal = AgentAnswer::json(413, R"({"ok":false})");
    refusal.headers.emplace_back("Connection", "close");
    refusal.closeAfterBodyBytes = refusal.body.size();
    refusal.halfClose = halfClose;
    agent.answer(refusal);
    EXPECT_EQ(errorText(sendAndWait(preferences.pool(), *relay, request)),
              "The Ostrela agent rejected the request (HTTP 413)")
        << (halfClose ? "half-closed" : "closed");
  }
}

// The budget bounds the whole exchange, not each wait: a drip of a byte every 50 ms
// (about 2 s in all) ends with it like silence does.
TEST_F(AgentRelayTest, SilenceAndDripEndWithTheBudget) {
  const auto shortRelay = preferences.relayFor(agent.port(), 0.5);
  AgentAnswer drip = AgentAnswer::json(200, R"({"ok":true,"padding":"....................."})");
  drip.dripInterval = milliseconds(50);
  for (const AgentAnswer& answer : {AgentAnswer::of(AgentAnswer::Kind::neverAnswer), drip}) {
    agent.answer(answer);
    const auto start = std::chrono::steady_clock::now();
    const NativeReply reply =
        sendAndWait(preferences.pool(), *shortRelay, relayRequest("getToken", AnyValue("d")));
    const double elapsed = millisecondsSince(start);
    EXPECT_EQ(
        reply.payload,
        errorReply(notReachable("the request timed out after 0.5 seconds"), AnyValue("d")).payload);
    EXPECT_GE(elapsed, 500);
  }
}

// A listener whose queue of unaccepted connections is full drops new ones
// unanswered, so the connection attempt itself must be cut off by the budget.
TEST(AgentRelayTransport, ConnectionAttemptThatHangsEndsWithTheBudget) {
  const FullListener listener = fullListener();
  RelayPreferences preferences;
  const NativeReply reply =
      sendAndWait(preferences.pool(), *preferences.relayFor(listener.port, 0.3),
                  relayRequest("getLdap", AnyValue(1)));
  EXPECT_EQ(errorText(reply), "The Ostrela agent is not reachable at http://127.0.0.1:" +
                                  std::to_string(listener.port) +
                                  ": the request timed out after 0.3 seconds");
}

TEST(AgentRelayTransport, ProxyVariablesAreNeverConsulted) {
  TestAgent proxy;
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
    ::setenv(name, proxy.url().c_str(), 1);
  }
  ::setenv("no_proxy", "", 1);
  RelayPreferences preferences;
  TestAgent agent;
  EXPECT_TRUE(sendAndWait(preferences.pool(), *preferences.relayFor(agent.port()),
                          relayRequest("getLdap", {}))
                  .fromAgent);
  // Not through the proxy either when nothing listens, and refused at once.
  const std::uint16_t port = unusedPort();
  const NativeReply refused = sendAndWait(preferences.pool(), *preferences.relayFor(port),
                                          relayRequest("getLdap", AnyValue(9)));
  EXPECT_EQ(refused.payload, errorReply("The Ostrela agent is not reachable at http://127.0.0.1:" +
                                            std::to_string(port) + ": the connection was refused",
                                        AnyValue(9))
                                 .payload);
  EXPECT_EQ(agent.requestCount(), 1u);
  EXPECT_EQ(proxy.connectionCount(), 0u);
}

// The standard budgets, per exchange: stalled identity exchanges end after 3 s and
// hold up nothing meanwhile, and a redaction answered after 3.4 s is still waited for.
TEST(AgentRelayBudgets, IdentityStallsEndAtThreeSecondsAndRedactionWaitsLonger) {
  constexpr int kStalled = 20;
  TestAgent agent;
  agent.answer([](const RecordedRequest& request) {
    if (request.body.find("\"stall\"") != std::string::npos) {
      return AgentAnswer::of(AgentAnswer::Kind::neverAnswer);
    }
    AgentAnswer answer = AgentAnswer::json(200, R"({"ok":true})");
    if (request.body.find("\"scrub\"") != std::string::npos) answer.delay = milliseconds(3400);
    return answer;
  });
  RelayPreferences preferences;
  const auto relay = preferences.relayFor(agent.port());
  const auto start = std::chrono::steady_clock::now();
  auto redaction = std::async(std::launch::async, [&] {
    return sendAndWait(preferences.pool(), *relay, relayRequest("scrub", AnyValue("r")));
  });
  std::vector<std::future<std::pair<std::string, double>>> stalled;
  for (int i = 0; i < kStalled; ++i) {
    stalled.push_back(std::async(std::launch::async, [&] {
      AgentRelayRequest request = relayRequest("getToken", AnyValue(1));
      request.body = R"({"type":"getToken","host":"com.ostrela.ldap_host","stall":true})";
      const NativeReply reply = sendAndWait(preferences.pool(), *relay, request);
      return std::pair(errorText(reply), millisecondsSince(start));
    }));
  }
  ASSERT_TRUE(agent.waitForRequests(kStalled + 1, milliseconds(2500)));
  EXPECT_TRUE(
      sendAndWait(preferences.pool(), *relay, relayRequest("getLdap", AnyValue("h"))).fromAgent);

  for (auto& result : stalled) {
    const auto [error, elapsed] = result.get();
    EXPECT_EQ(error, "The Ostrela agent is not reachable at " + agent.url() +
                         ": the request timed out after 3 seconds");
    EXPECT_GE(elapsed, 3000);
  }
  EXPECT_EQ(redaction.get().payload, (AnyMap{{"ok", true}, {"id", "r"}}));
}

// Each budget has its own admission: redaction messages that the agent leaves
// unanswered do not hold up an identity message.
TEST(AgentRelayBudgets, StuckRedactionsDoNotHoldUpIdentityMessages) {
  auto agent = std::make_unique<TestAgent>();
  agent->answer([](const RecordedRequest& request) {
    return request.body.find("\"scrub\"") != std::string::npos
               ? AgentAnswer::of(AgentAnswer::Kind::neverAnswer)
               : AgentAnswer{};
  });
  RelayPreferences preferences;
  const auto relay = preferences.relayFor(agent->port());
  RecordingLogSink sink;
  const Logger logger("com.ostrela.safari-extension.extension", "native-bridge", sink, {});
  linux_platform::PooledAgentRelayTasks tasks(preferences.pool(), *relay, logger, 1);
  std::vector<std::future<NativeReply>> replies;
  for (const char* type : {"scrub", "scrub", "getToken"}) {
    auto promise = std::make_shared<std::promise<NativeReply>>();
    replies.push_back(promise->get_future());
    tasks.startDetached(relayRequest(type, AnyValue(type)),
                        [promise](NativeReply reply) { promise->set_value(std::move(reply)); });
  }
  EXPECT_TRUE(replies[2].get().fromAgent);
  agent.reset();  // closes the stuck connections: the redactions end
  for (int i : {0, 1}) EXPECT_FALSE(replies[i].get().fromAgent);
}

// A message's budget counts from when its frame arrived, however long it took
// to reach the relay: one whose budget has passed is answered, never sent.
TEST(AgentRelayBudgets, ABudgetCountsFromTheMessagesArrival) {
  TestAgent agent;
  RelayPreferences preferences;
  const auto relay = preferences.relayFor(agent.port());
  RecordingLogSink sink;
  const Logger logger("com.ostrela.safari-extension.extension", "native-bridge", sink, {});
  linux_platform::PooledAgentRelayTasks tasks(preferences.pool(), *relay, logger);
  AgentRelayRequest request = relayRequest("getToken", AnyValue(1));
  request.arrival = std::chrono::steady_clock::now() - std::chrono::seconds(4);
  std::promise<NativeReply> finished;
  tasks.startDetached(std::move(request),
                      [&finished](NativeReply reply) { finished.set_value(std::move(reply)); });
  EXPECT_EQ(errorText(finished.get_future().get()), "The Ostrela agent is not reachable at " +
                                                        agent.url() +
                                                        ": the request timed out after 3 seconds");
  EXPECT_EQ(agent.requestCount(), 0u);
}

}  // namespace
}  // namespace ostrela::testing
