// The relay against a real listener on loopback.
#include "platform/linux/http/agent_relay.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "core/json.h"
#include "tests/extension/relay/relay_test_helpers.h"
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
  for (const char* secret : {" s3cr\xC3\xA9t ", "rotated"}) {
    preferences.writeSecret(AnyValue(secret));
    const NativeReply reply = sendAndWait(*relay, request);
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
                "Authorization: Bearer  s3cr\xC3\xA9t \r\n"
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
  AgentAnswer closeMidBody = AgentAnswer::json(200, R"({"ok":true,"padding":"xxxxxxxx"})");
  closeMidBody.closeAfterBodyBytes = 10;
  AgentAnswer tooLarge = AgentAnswer::json(200, "");
  tooLarge.contentLength = false;
  tooLarge.headers.emplace_back("Content-Length", "67108865");

  const std::pair<AgentAnswer, std::string> cases[] = {
      {redirect, "The Ostrela agent rejected the request (HTTP 307)"},
      {AgentAnswer::bytes("HTTP/1.1 101 Switching Protocols\r\n\r\n"),
       "The Ostrela agent rejected the request (HTTP 101)"},
      {AgentAnswer::bytes("SSH-2.0-OpenSSH_9.2\r\n"),
       "The Ostrela agent returned a non-HTTP response"},
      {AgentAnswer::bytes("HTTP/1.1 200 OK\r\nBroken header\r\n\r\n"),
       "The Ostrela agent returned a non-HTTP response"},
      {AgentAnswer::bytes("hi"), "The Ostrela agent returned a non-HTTP response"},
      {AgentAnswer::of(AgentAnswer::Kind::closeAtOnce),
       notReachable("the connection was closed before the agent answered")},
      {closeMidBody, notReachable("the connection was closed before the answer was complete")},
      {tooLarge, notReachable("the answer's body is larger than 64 MiB")},
  };
  for (const auto& [answer, error] : cases) {
    agent.answer(answer);
    const NativeReply reply = sendAndWait(*relay, relayRequest("getToken", AnyValue(5)));
    EXPECT_EQ(reply.payload, errorReply(error, AnyValue(5)).payload) << error;
    EXPECT_FALSE(reply.fromAgent);
    EXPECT_EQ(errorText(reply).find("never-in-a-reply"), std::string::npos);
  }
  EXPECT_EQ(redirectTarget.connectionCount(), 0u);
  EXPECT_EQ(agent.requestCount(), std::size(cases));
}

TEST_F(AgentRelayTest, InterimAnswersAreSkippedAndLargeBodiesRead) {
  std::string big = R"({"ok":true,"blob":")" + std::string(3 * 1024 * 1024, 'x') + "\"}";
  agent.answer(
      AgentAnswer::bytes("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: " +
                         std::to_string(big.size()) + "\r\n\r\n" + big));
  const NativeReply reply = sendAndWait(*relay, relayRequest("scrub", std::nullopt));
  ASSERT_TRUE(reply.fromAgent) << errorText(reply);
  EXPECT_EQ(reply.payload.find("blob")->asString()->size(), 3u * 1024 * 1024);
}

TEST_F(AgentRelayTest, AnswerWithoutLengthEndsAtCloseAndConnectionIsNotReused) {
  AgentAnswer untilClose = AgentAnswer::json(200, R"({"ok":true})");
  untilClose.contentLength = false;
  agent.answer(untilClose);
  EXPECT_TRUE(sendAndWait(*relay, relayRequest("getLdap", std::nullopt)).fromAgent);
  EXPECT_TRUE(sendAndWait(*relay, relayRequest("getLdap", std::nullopt)).fromAgent);
  EXPECT_EQ(agent.connectionCount(), 2u);
}

TEST_F(AgentRelayTest, IdleConnectionTheAgentClosedIsReplacedNotReported) {
  // The agent promises keep-alive, then closes once the body is out.
  AgentAnswer closesAfter = AgentAnswer::json(200, R"({"ok":true})");
  closesAfter.closeAfterBodyBytes = closesAfter.body.size();
  agent.answer(closesAfter);
  for (int i = 0; i < 3; ++i) {
    const NativeReply reply = sendAndWait(*relay, relayRequest("getLdap", std::nullopt));
    EXPECT_TRUE(reply.fromAgent) << errorText(reply);
    std::this_thread::sleep_for(milliseconds(20));  // lets the close arrive
  }
  EXPECT_EQ(agent.connectionCount(), 3u);
}

// The budget bounds the whole exchange, not each wait: a drip of a byte every 50 ms
// (about 2 s in all) ends with it like silence does.
TEST_F(AgentRelayTest, SilenceSlowHeadAndDripEndWithTheBudget) {
  const auto shortRelay = preferences.relayFor(agent.port(), 0.5);
  AgentAnswer late = AgentAnswer::json(200, R"({"ok":true})");
  late.delay = milliseconds(1500);
  AgentAnswer drip = AgentAnswer::json(200, R"({"ok":true,"padding":"....................."})");
  drip.dripInterval = milliseconds(50);
  for (const AgentAnswer& answer : {AgentAnswer::of(AgentAnswer::Kind::neverAnswer), late, drip}) {
    agent.answer(answer);
    const auto start = std::chrono::steady_clock::now();
    const NativeReply reply = sendAndWait(*shortRelay, relayRequest("getToken", AnyValue("d")));
    const double elapsed = millisecondsSince(start);
    EXPECT_EQ(
        reply.payload,
        errorReply(notReachable("the request timed out after 0.5 seconds"), AnyValue("d")).payload);
    EXPECT_GE(elapsed, 500);
    EXPECT_LT(elapsed, 1200);
  }
}

TEST(AgentRelayTransport, RefusedConnectionFailsAtOnce) {
  RelayPreferences preferences;
  const std::uint16_t port = unusedPort();
  const auto relay = preferences.relayFor(port);
  const auto start = std::chrono::steady_clock::now();
  const NativeReply reply = sendAndWait(*relay, relayRequest("getToken", AnyValue(9)));
  EXPECT_LT(millisecondsSince(start), 500);
  EXPECT_EQ(reply.payload, errorReply("The Ostrela agent is not reachable at http://127.0.0.1:" +
                                          std::to_string(port) + ": the connection was refused",
                                      AnyValue(9))
                               .payload);
}

// A listener whose queue of unaccepted connections is full drops new ones
// unanswered, so the connection attempt itself must be cut off by the budget.
TEST(AgentRelayTransport, ConnectionAttemptThatHangsEndsWithTheBudget) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  std::this_thread::sleep_for(milliseconds(50));

  RelayPreferences preferences;
  const auto relay = preferences.relayFor(ntohs(address.sin_port), 0.3);
  const auto start = std::chrono::steady_clock::now();
  const NativeReply reply = sendAndWait(*relay, relayRequest("getLdap", AnyValue(1)));
  EXPECT_LT(millisecondsSince(start), 1000);
  EXPECT_EQ(errorText(reply), "The Ostrela agent is not reachable at http://127.0.0.1:" +
                                  std::to_string(ntohs(address.sin_port)) +
                                  ": the request timed out after 0.3 seconds");
  for (int fd : fillers) ::close(fd);
  ::close(listener);
}

TEST(AgentRelayTransport, ProxyVariablesAreNeverConsulted) {
  TestAgent proxy;
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
    ::setenv(name, proxy.url().c_str(), 1);
  }
  ::setenv("no_proxy", "", 1);
  RelayPreferences preferences;
  TestAgent agent;
  EXPECT_TRUE(
      sendAndWait(*preferences.relayFor(agent.port()), relayRequest("getLdap", {})).fromAgent);
  EXPECT_FALSE(
      sendAndWait(*preferences.relayFor(unusedPort()), relayRequest("getLdap", {})).fromAgent);
  EXPECT_EQ(agent.requestCount(), 1u);
  EXPECT_EQ(proxy.connectionCount(), 0u);
}

// Identity exchanges that stall use up their own budget (3 s) and nothing else: a
// healthy exchange on the same relay is answered at once meanwhile, and a redaction
// exchange that the agent answers after 3.4 s is still waited for.
TEST(AgentRelayLoad, HundredStalledIdentityExchangesEndWithinTheirBudget) {
  constexpr int kStalled = 100;
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

  struct Finish {
    std::mutex mutex;
    std::vector<double> elapsed;
    std::vector<std::string> errors;
  } finish;
  std::atomic<int> outstanding{kStalled};
  auto redaction = std::async(std::launch::async, [&] {
    return sendAndWait(*relay, relayRequest("scrub", AnyValue("r")));
  });
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kStalled; ++i) {
    AgentRelayRequest request = relayRequest("getToken", AnyValue(i));
    request.body = R"({"type":"getToken","host":"com.ostrela.ldap_host","stall":true})";
    linux_platform::spawnDetached([&, request]() -> boost::asio::awaitable<void> {
      NativeReply reply = co_await relay->send(request);
      std::lock_guard lock(finish.mutex);
      finish.elapsed.push_back(millisecondsSince(start));
      finish.errors.push_back(errorText(reply));
      outstanding.fetch_sub(1);
    });
  }
  ASSERT_TRUE(agent.waitForRequests(kStalled + 1, milliseconds(2500)));

  const auto healthyStart = std::chrono::steady_clock::now();
  const NativeReply healthy = sendAndWait(*relay, relayRequest("getLdap", AnyValue("h")));
  const double healthyMs = millisecondsSince(healthyStart);
  EXPECT_TRUE(healthy.fromAgent);
  EXPECT_LT(healthyMs, 1000);

  while (outstanding.load() > 0 && millisecondsSince(start) < 10000) {
    std::this_thread::sleep_for(milliseconds(20));
  }
  EXPECT_EQ(redaction.get().payload, (AnyMap{{"ok", true}, {"id", "r"}}));
  std::lock_guard lock(finish.mutex);
  ASSERT_EQ(finish.elapsed.size(), static_cast<std::size_t>(kStalled));
  const auto [first, last] = std::minmax_element(finish.elapsed.begin(), finish.elapsed.end());
  for (const std::string& error : finish.errors) {
    EXPECT_EQ(error, "The Ostrela agent is not reachable at " + agent.url() +
                         ": the request timed out after 3 seconds");
  }
  EXPECT_GE(*first, 3000);
  EXPECT_LT(*last, 4000);
  std::printf(
      "stalled exchanges ended between %.1f and %.1f ms (spread %.1f ms); "
      "healthy exchange meanwhile: %.2f ms\n",
      *first, *last, *last - *first, healthyMs);
  RecordProperty("spread_ms", std::to_string(*last - *first));
}

}  // namespace
}  // namespace ostrela::testing
