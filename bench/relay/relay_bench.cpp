// The relay against a loopback agent, side by side in one run:
//  - one exchange: a relayed `send` through to the parsed reply, and a raw
//    blocking-socket keep-alive POST of the same bytes (the floor);
//  - 1,000 exchanges in flight at once: wall time, peak memory, threads.
// Usage: ostrela_relay_bench [samples [part]]   samples default to 20000; part
// is one of raw, pool, task, flight to run only that (for profiling).
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/json.h"
#include "extension/relay/agent_exchange.h"
#include "extension/relay/relay_secret.h"
#include "platform/linux/http/agent_relay.h"
#include "platform/linux/http/listener_account.h"
#include "platform/linux/http/worker_pool.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "platform/linux/process_setup.h"
#include "shared/managed_configuration_key.h"
#include "tests/support/proc_status.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_agent.h"

namespace ostrela {
namespace {

using linux_platform::AgentRelay;
using linux_platform::WorkerPool;
using Clock = std::chrono::steady_clock;
using testing::AgentAnswer;
using testing::TestAgent;

const char* const kMessage =
    R"({"type":"getToken","host":"com.ostrela.ldap_host","id":"7f9c2ba4-e88f-11ee-a5f1",)"
    R"("payload":{"realm":"corp.example","user":"jdoe","scopes":["read","write"]}})";
const char* const kAnswer = R"({"ok":true,"token":"eyJhbGciOiJIUzI1NiJ9.e30.sig","id":"x"})";

double microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

struct Summary {
  double median, p90, p99;
};

Summary summarize(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) { return samples[static_cast<std::size_t>(q * (samples.size() - 1))]; };
  return {at(0.5), at(0.9), at(0.99)};
}

void printRow(const char* name, const Summary& s) {
  std::printf("  %-46s %8.1f %8.1f %8.1f\n", name, s.median, s.p90, s.p99);
}

// The bytes the relay writes for `request`, for the raw socket to send as well.
std::string wireBytes(const AgentHttpRequest& request) {
  std::string bytes = "POST " + request.url.requestTarget() +
                      " HTTP/1.1\r\nHost: " + request.url.authority() + "\r\n";
  for (const HttpHeader& h : request.headers) bytes += h.name + ": " + h.value + "\r\n";
  bytes += "Content-Length: " + std::to_string(request.body.size()) + "\r\n\r\n" + request.body;
  return bytes;
}

// A blocking socket connected to 127.0.0.1:port.
int connectTo(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::abort();
  return fd;
}

// Blocking keep-alive POSTs on one connection: the floor for one exchange.
std::vector<double> rawSocketExchanges(std::uint16_t port, const std::string& bytes, int warmup,
                                       int samples) {
  const int fd = connectTo(port);
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::vector<double> result;
  std::string answer;
  char buffer[65536];
  for (int i = 0; i < warmup + samples; ++i) {
    const Clock::time_point start = Clock::now();
    if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(bytes.size())) {
      std::abort();
    }
    answer.clear();
    std::size_t expected = std::string::npos;
    while (answer.size() != expected) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) std::abort();
      answer.append(buffer, static_cast<std::size_t>(n));
      const std::size_t headEnd = answer.find("\r\n\r\n");
      if (expected == std::string::npos && headEnd != std::string::npos) {
        const std::size_t length = answer.find("Content-Length: ");
        expected = headEnd + 4 + std::stoul(answer.substr(length + 16));
      }
    }
    if (i >= warmup) result.push_back(microseconds(Clock::now() - start));
  }
  ::close(fd);
  return result;
}

// `send` awaited in a loop by one task on the worker pool.
std::vector<double> relayedInPool(WorkerPool& pool, const AgentRelay& relay,
                                  const AgentRelayRequest& request, int warmup, int samples) {
  std::vector<double> result;
  std::promise<void> done;
  pool.spawnDetached([&]() -> boost::asio::awaitable<void> {
    for (int i = 0; i < warmup + samples; ++i) {
      const Clock::time_point start = Clock::now();
      const NativeReply reply = co_await relay.send(request);
      if (!reply.fromAgent) std::abort();
      if (i >= warmup) result.push_back(microseconds(Clock::now() - start));
    }
    done.set_value();
  });
  done.get_future().wait();
  return result;
}

// One detached task per message, as the extension entry starts them, awaited from this thread.
std::vector<double> relayedFromOutside(WorkerPool& pool, const AgentRelay& relay,
                                       const AgentRelayRequest& request, int warmup, int samples) {
  std::vector<double> result;
  for (int i = 0; i < warmup + samples; ++i) {
    std::promise<void> done;
    const Clock::time_point start = Clock::now();
    pool.spawnDetached([&]() -> boost::asio::awaitable<void> {
      if (!(co_await relay.send(request)).fromAgent) std::abort();
      done.set_value();
    });
    done.get_future().wait();
    if (i >= warmup) result.push_back(microseconds(Clock::now() - start));
  }
  return result;
}

// A new connection's own cost (connect and close), with or without the check
// of the listener's account that the relay makes before writing on it.
std::vector<double> newConnections(std::uint16_t port, int samples, bool check) {
  std::vector<double> result;
  for (int i = 0; i < samples; ++i) {
    const Clock::time_point start = Clock::now();
    const int fd = connectTo(port);
    if (check && linux_platform::whyAgentListenerIsRefused(fd)) std::abort();
    ::close(fd);
    result.push_back(microseconds(Clock::now() - start));
  }
  return result;
}

// The account lookup alone, on one open connection: by socket diagnostics or /proc/net/tcp.
std::vector<double> accountLookups(std::uint16_t port, int samples, bool fromProc) {
  const int fd = connectTo(port);
  const auto local = linux_platform::localEndpoint(fd);
  const auto remote = linux_platform::peerEndpoint(fd);
  std::vector<double> result;
  for (int i = 0; i < samples; ++i) {
    const Clock::time_point start = Clock::now();
    const auto accounts = fromProc ? linux_platform::listenerAccountsFromProc(*local, *remote)
                                   : linux_platform::listenerAccounts(*local, *remote);
    if (linux_platform::whyAgentAccountIsRefused(accounts)) std::abort();
    result.push_back(microseconds(Clock::now() - start));
  }
  ::close(fd);
  return result;
}

// What the relay does for every exchange: reads the secret from the App Group store.
std::vector<double> secretLookups(const PreferenceStores& stores, int samples) {
  std::vector<double> result;
  for (int i = 0; i < samples; ++i) {
    const Clock::time_point start = Clock::now();
    if (!relaySecret(stores)) std::abort();
    result.push_back(microseconds(Clock::now() - start));
  }
  return result;
}

long ownStatus(const char* field) {
  return testing::procStatusValue(::getpid(), field);
}

// `threadsBeforePool`: the process's threads before the relay's pool started.
void inFlight(WorkerPool& pool, const AgentRelay& relay, TestAgent& agent,
              const AgentRelayRequest& request, std::chrono::milliseconds agentDelay,
              long threadsBeforePool) {
  constexpr int kExchanges = 1000;
  AgentAnswer answer = AgentAnswer::json(200, kAnswer);
  answer.delay = agentDelay;
  agent.answer(answer);
  const std::size_t connectionsBefore = agent.connectionCount();
  std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak resident size
  const long rssBefore = ownStatus("VmRSS");
  std::atomic<int> remaining{kExchanges};
  std::atomic<int> failures{0};
  long maxThreads = 0;

  const Clock::time_point start = Clock::now();
  for (int i = 0; i < kExchanges; ++i) {
    pool.spawnDetached([&]() -> boost::asio::awaitable<void> {
      if (!(co_await relay.send(request)).fromAgent) failures.fetch_add(1);
      remaining.fetch_sub(1);
    });
  }
  while (remaining.load() > 0) {
    maxThreads = std::max(maxThreads, ownStatus("Threads"));
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  const double wall = microseconds(Clock::now() - start) / 1000;
  const long peak = ownStatus("VmHWM");
  std::printf(
      "  agent answers after %3lld ms: wall %7.1f ms, failures %d, peak RSS +%.1f MiB "
      "(agent included), threads: pool %ld, process at most %ld (main + agent + pool), "
      "connections opened %zu\n",
      static_cast<long long>(agentDelay.count()), wall, failures.load(),
      (peak - rssBefore) / 1024.0, ownStatus("Threads") - threadsBeforePool, maxThreads,
      agent.connectionCount() - connectionsBefore);
}

}  // namespace
}  // namespace ostrela

int main(int argc, char** argv) {
  using namespace ostrela;
  const int samples = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int warmup = std::max(100, samples / 10);
  const std::string part = argc > 2 ? argv[2] : "";
  linux_platform::shareOneMallocArena();  // as the extension's main does

  testing::TemporaryDirectory home;
  auto stores = std::make_shared<linux_platform::FilePreferenceStores>(
      linux_platform::XdgDirectories{home.path() / "config"},
      linux_platform::ManagedPreferencesSource{}, "com.ostrela.safari-extension.extension");
  stores->suiteForWriting(appGroupSuiteName)
      ->setObjectForKey(AnyValue("0123456789abcdef0123456789abcdef"), kAgentRelaySecretKey);

  TestAgent agent;
  agent.keepRecords(false);
  agent.answer(AgentAnswer::json(200, kAnswer));
  const AgentUrl url(agent.port());
  WorkerPool pool;
  const AgentRelay relay(pool, url, stores);
  const long threadsBeforePool = ownStatus("Threads");
  const AgentRelayRequest request{AnyValue("7f9c2ba4"), AgentRelayBudget::identity, kMessage,
                                  std::nullopt};
  AgentHttpRequest prepared = prepareAgentRequest(url, relaySecret(*stores));
  prepared.body = request.body;
  const std::string bytes = wireBytes(prepared);

  std::printf(
      "One exchange: %zu request bytes, %zu answer body bytes, %d samples after %d warm-up\n",
      bytes.size(), std::strlen(kAnswer), samples, warmup);
  std::printf("  %-46s %8s %8s %8s\n", "microseconds per exchange", "median", "p90", "p99");
  if (part == "pool") relayedInPool(pool, relay, request, warmup, samples);
  if (part == "task") relayedFromOutside(pool, relay, request, warmup, samples);
  if (part == "raw") rawSocketExchanges(agent.port(), bytes, warmup, samples);
  if (part == "flight")
    inFlight(pool, relay, agent, request, std::chrono::milliseconds(0), threadsBeforePool);
  if (!part.empty()) return 0;

  const Summary raw = summarize(rawSocketExchanges(agent.port(), bytes, warmup, samples));
  const Summary pooled = summarize(relayedInPool(pool, relay, request, warmup, samples));
  const Summary outside = summarize(relayedFromOutside(pool, relay, request, warmup, samples));
  const Summary secret = summarize(secretLookups(*stores, samples));
  printRow("raw socket keep-alive POST (floor)", raw);
  printRow("relayed send, awaited in a pool task", pooled);
  printRow("relayed send, one detached task per message", outside);
  printRow("  of which: secret lookup (App Group file)", secret);
  std::printf("  median relayed / raw: %.2fx in a pool task, %.2fx per detached task\n\n",
              pooled.median / raw.median, outside.median / raw.median);

  // Fewer connections than exchanges: each leaves a socket in TIME_WAIT.
  const int connections = std::min(samples, 5000);
  const Summary connectOnly = summarize(newConnections(agent.port(), connections, false));
  const Summary connectChecked = summarize(newConnections(agent.port(), connections, true));
  const Summary sockDiag = summarize(accountLookups(agent.port(), connections, false));
  const Summary procTable = summarize(accountLookups(agent.port(), std::min(samples, 500), true));
  std::printf("New connection, %d samples:\n", connections);
  printRow("connect and close (the connection's own cost)", connectOnly);
  printRow("connect, check the listener's account, close", connectChecked);
  printRow("  the account check alone (socket diagnostics)", sockDiag);
  printRow("  the fallback alone (/proc/net/tcp)", procTable);
  std::printf("  median with check / without: %.2fx\n\n",
              connectChecked.median / connectOnly.median);

  std::printf("1,000 exchanges in flight at once:\n");
  inFlight(pool, relay, agent, request, std::chrono::milliseconds(0), threadsBeforePool);
  inFlight(pool, relay, agent, request, std::chrono::milliseconds(200), threadsBeforePool);
  return 0;
}
