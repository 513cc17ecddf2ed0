// Faults and load through the real executable: whatever the agent does, every
// message gets exactly one reply within its budget, and the secret stays secret.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "core/json.h"
#include "platform/linux/file_preference_stores.h"
#include "platform/linux/native_messaging/host_process.h"
#include "shared/managed_configuration_key.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_agent.h"

namespace ostrela::testing {
namespace {

using linux_platform::HostProcess;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kSecret = "fault-matrix-secret-7f3a";

// The host is built like this test: sanitizers keep freed memory in quarantine
// and shadow all of it, so their bound only proves that memory stops growing.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long kPeakMemoryBoundKiB = 1024 * 1024;
#else
constexpr long kPeakMemoryBoundKiB = 64 * 1024;
#endif

std::string identity(const std::string& id) {
  return R"({"type":"getToken","host":"com.ostrela.ldap_host","id":")" + id + "\"}";
}

// "id" and "error" of a reply, or "<none>".
std::pair<std::string, std::string> idAndError(const std::string& reply) {
  const auto value = decodeJson(reply);
  const AnyValue* id = member(value, "id");
  const AnyValue* error = member(value, "error");
  return {id && id->isString() ? *id->asString() : "<none>",
          error && error->isString() ? *error->asString() : "<none>"};
}

long procStatus(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

class ExtensionFaults : public ::testing::Test {
 protected:
  ExtensionFaults() {
    folder.write(linux_platform::FilePreferenceStores({folder.path() / "home", {}}, "")
                     .suiteFile(appGroupSuiteName),
                 std::string(R"({"agentRelaySecret":")") + kSecret + "\"}");
  }
  std::unique_ptr<HostProcess> start(std::vector<std::string> extraEnvironment = {}) {
    std::vector<std::string> env{"XDG_CONFIG_HOME=" + (folder.path() / "home").string(),
                                 "OSTRELA_LOG_LEVEL=debug", "OSTRELA_LOG_PRIVATE=1"};
    env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
    return std::make_unique<HostProcess>(OSTRELA_EXTENSION_PATH,
                                         std::vector<std::string>{"chrome-extension://x/"}, env);
  }
  TemporaryDirectory folder;
};

TEST_F(ExtensionFaults, EveryAgentFaultStillGetsOneReplyWithinTheBudget) {
  TestAgent redirectTarget;
  const std::string notReachable = "The Ostrela agent is not reachable at http://127.0.0.1:47653: ";
  // id -> (answer, expected error text or its beginning)
  std::map<std::string, std::pair<AgentAnswer, std::string>> matrix;
  auto drip = AgentAnswer::json(200, R"({"ok":true,"padding":"0123456789"})");
  drip.dripInterval = 1000ms;
  auto cut = AgentAnswer::json(200, R"({"ok":true,"padding":"0123456789"})");
  cut.closeAfterBodyBytes = 5;
  auto redirect = AgentAnswer::json(307, "{}");
  redirect.headers = {{"Location", redirectTarget.url() + "/elsewhere"}};
  matrix["stall"] = {AgentAnswer::of(AgentAnswer::Kind::neverAnswer), notReachable};
  matrix["drip"] = {drip, notReachable};
  matrix["cut"] = {cut, notReachable};
  matrix["hangup"] = {AgentAnswer::of(AgentAnswer::Kind::closeAtOnce), notReachable};
  matrix["not-http"] = {AgentAnswer::bytes("SSH-2.0-OpenSSH_9.2\r\n"),
                        "The Ostrela agent returned a non-HTTP response"};
  matrix["switching"] = {AgentAnswer::bytes("HTTP/1.1 101 Switching Protocols\r\n\r\n"), ""};
  matrix["redirect"] = {redirect, "The Ostrela agent rejected the request (HTTP 307)"};
  matrix["404"] = {AgentAnswer::json(404, R"({"ok":true})"),
                   "The Ostrela agent rejected the request (HTTP 404)"};
  matrix["503"] = {AgentAnswer::json(503, ""), "The Ostrela agent rejected the request (HTTP 503)"};
  matrix["bad-utf8"] = {AgentAnswer::json(200, "{\"ok\":true,\"x\":\"\xff\xfe\"}"),
                        "The Ostrela agent returned a malformed reply"};
  matrix["one-mib"] = {
      AgentAnswer::json(200, R"({"ok":true,"x":")" + std::string(1 << 20, 'a') + "\"}"),
      "The reply is too large for the browser ("};
  matrix["hundred-mib"] = {AgentAnswer::json(200, std::string(100 << 20, ' ')), notReachable};
  // Declared after the matrix it reads, so that its thread stops before the matrix goes.
  TestAgent agent(47653);
  agent.answer([&matrix](const RecordedRequest& request) {
    const auto [id, unused] = idAndError(request.body);
    return matrix.at(id).first;
  });

  auto host = start();
  const auto start = Clock::now();
  for (const auto& [id, entry] : matrix) host->writeFrame(identity(id));
  host->closeInput();
  const auto replies = host->readAllFrames(10s);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  std::map<std::string, std::string> errors;
  for (const auto& reply : replies) {
    EXPECT_EQ(reply.find(kSecret), std::string::npos);
    const auto [id, error] = idAndError(reply);
    EXPECT_TRUE(errors.emplace(id, error).second) << "two replies for " << id;
  }
  ASSERT_EQ(errors.size(), matrix.size());
  for (const auto& [id, entry] : matrix) {
    EXPECT_TRUE(errors.at(id).starts_with(entry.second)) << id << ": " << errors.at(id);
    EXPECT_NE(errors.at(id), "<none>") << id;
  }
  EXPECT_LT(seconds, 3.0 + 1.5) << "the identity budget is 3 s";
  EXPECT_EQ(redirectTarget.connectionCount(), 0u);
  EXPECT_EQ(host->wait(5s), 0);
  EXPECT_EQ(host->errorOutput().find(kSecret), std::string::npos);
}

TEST_F(ExtensionFaults, NoAgentListeningFailsAtOnce) {
  auto host = start();
  host->writeFrame(identity("refused"));
  const auto start = Clock::now();
  const auto reply = host->readFrame(5s);
  ASSERT_TRUE(reply);
  EXPECT_LT(Clock::now() - start, 500ms);
  EXPECT_EQ(idAndError(*reply).second,
            "The Ostrela agent is not reachable at http://127.0.0.1:47653: the connection was "
            "refused");
}

TEST_F(ExtensionFaults, ProxyVariablesNeverRouteAgentTraffic) {
  TestAgent proxy;
  TestAgent agent(47653);
  const std::string via = "http://127.0.0.1:" + std::to_string(proxy.port());
  auto host = start({"http_proxy=" + via, "HTTP_PROXY=" + via, "all_proxy=" + via,
                     "ALL_PROXY=" + via, "no_proxy=", "NO_PROXY="});
  host->writeFrame(identity("direct"));
  host->closeInput();
  ASSERT_EQ(host->readAllFrames(5s).size(), 1u);
  EXPECT_EQ(agent.requestCount(), 1u);
  EXPECT_EQ(proxy.connectionCount(), 0u);
}

TEST_F(ExtensionFaults, BurstBeyondTheSoftDescriptorLimitIsRelayedInFull) {
  // Started as a desktop browser would: a soft limit of 256 descriptors, a higher hard one.
  constexpr int kMessages = 600;
  TestAgent agent(47653);
  agent.keepRecords(false);
  auto answer = AgentAnswer::json(200, R"({"ok":true})");
  answer.delay = 500ms;  // all of them in flight together
  agent.answer(answer);
  HostProcess host("/usr/bin/prlimit", {"--nofile=256:4096", OSTRELA_EXTENSION_PATH},
                   {"XDG_CONFIG_HOME=" + (folder.path() / "home").string()});
  for (int i = 0; i < kMessages; ++i) host.writeFrame(identity("b" + std::to_string(i)));
  host.closeInput();
  std::size_t ok = 0;
  for (const auto& reply : host.readAllFrames(10s)) {
    const auto [id, error] = idAndError(reply);
    if (error == "<none>") ++ok;
  }
  EXPECT_EQ(ok, static_cast<std::size_t>(kMessages));
  EXPECT_EQ(host.wait(5s), 0);
}

TEST_F(ExtensionFaults, TenThousandMessagesOnOneConnectionEachGetOneReply) {
  TestAgent agent(47653);
  agent.keepRecords(false);
  agent.answer([](const RecordedRequest& request) {
    // Delays from the request's own bytes: random enough, and the same on every run.
    auto answer = AgentAnswer::json(200, R"({"ok":true,"id":"the agent's"})");
    answer.delay = std::chrono::milliseconds(std::hash<std::string>{}(request.body) % 41);
    return answer;
  });
  constexpr int kMessages = 10000;
  auto host = start({"OSTRELA_LOG_LEVEL=error"});
  std::thread writer([&] {
    for (int i = 0; i < kMessages; ++i) {
      const std::string id = "m" + std::to_string(i);
      if (i % 3 == 0) {
        host->writeFrame(identity(id));
      } else if (i % 50 == 1) {
        host->writeFrame("{\"type\":\"getManagedConfig\",\"id\":\"" + id + "\"");  // cut short
      } else {
        host->writeFrame(R"({"type":"getManagedConfig","id":")" + id + "\"}");
      }
    }
    host->closeInput();
  });

  // Threads once the pool is up (after the first thousand replies), and the most seen later.
  std::multiset<std::string> ids;
  long threadsEarly = 0, threadsLate = 0, peakKiB = 0;
  while (auto reply = host->readFrame(10s)) {
    ids.insert(idAndError(*reply).first);
    if (ids.size() % 500 == 0) {
      const long threads = procStatus(host->pid(), "Threads:");
      if (ids.size() == 1000) threadsEarly = threads;
      if (ids.size() > 1000) threadsLate = std::max(threadsLate, threads);
      peakKiB = std::max(peakKiB, procStatus(host->pid(), "VmHWM:"));
    }
  }
  if (ids.size() < static_cast<std::size_t>(kMessages)) host.reset();  // unblocks the writer
  writer.join();
  ASSERT_EQ(ids.size(), static_cast<std::size_t>(kMessages));
  EXPECT_EQ(host->wait(10s), 0);
  std::size_t cutShort = 0;
  for (int i = 0; i < kMessages; ++i) {
    if (i % 3 != 0 && i % 50 == 1) {
      ++cutShort;
      continue;
    }
    EXPECT_EQ(ids.count("m" + std::to_string(i)), 1u) << i;
  }
  EXPECT_EQ(ids.count("<none>"), cutShort) << "cut-short frames are answered without an id";
  EXPECT_GT(threadsLate, 0);
  EXPECT_LE(threadsLate, threadsEarly) << "the thread count must not grow with load";
  EXPECT_LT(peakKiB, kPeakMemoryBoundKiB);
  std::printf("10,000 messages: peak memory %ld KiB, threads %ld early, %ld late\n", peakKiB,
              threadsEarly, threadsLate);
}

}  // namespace
}  // namespace ostrela::testing
