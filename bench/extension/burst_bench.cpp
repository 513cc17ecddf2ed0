// Bursts and floods of relayed messages through the real OstrelaExtension,
// with a test agent on the agent's port: for each reply, the time from the
// moment its frame began to be written into the pipe (no later than the
// process can have read it, so an upper bound of the time from its arrival)
// to the moment the reply was read; the process's descriptors and peak memory,
// sampled from /proc every 20 ms. The budget of a getToken message (3 s) is
// the line to compare with: a reply to a stalled agent is due at it.
// Usage: ostrela_burst_bench [scale in percent, default 100]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/json.h"
#include "platform/linux/native_messaging/native_host_process.h"
#include "tests/support/proc_status.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_agent.h"

namespace {

using namespace ostrela;
using namespace ostrela::testing;
using linux_platform::NativeHostProcess;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Figures {
  std::vector<double> latencies;  // seconds, one per reply
  long replies = 0, timedOut = 0, mostDescriptors = 0, peakKiB = 0;
};

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

// Writes `messages` getToken frames, `perSecond` a second (0: as fast as the pipe takes them).
Figures run(const AgentAnswer& answer, int messages, int perSecond) {
  TemporaryDirectory home;
  TestAgent agent(47653);
  agent.keepRecords(false);
  agent.answer(answer);
  NativeHostProcess host(OSTRELA_EXTENSION_PATH, {"chrome-extension://benchmark/"},
                         {"XDG_CONFIG_HOME=" + home.path().string(), "OSTRELA_LOG_LEVEL=error"});
  std::vector<Clock::time_point> written(static_cast<std::size_t>(messages));
  std::mutex writtenMutex;
  std::thread writer([&] {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < messages; ++i) {
      if (perSecond > 0) std::this_thread::sleep_until(start + i * 1s / perSecond);
      {
        std::lock_guard lock(writtenMutex);
        written[static_cast<std::size_t>(i)] = Clock::now();
      }
      host.writeFrame(R"({"type":"getToken","host":"com.ostrela.ldap_host","id":)" +
                      std::to_string(i) + "}");
    }
    host.closeInput();
  });
  Figures figures;
  std::atomic<bool> done{false};
  std::thread sampler([&] {
    while (!done) {
      figures.mostDescriptors = std::max(figures.mostDescriptors, descriptorCount(host.pid()));
      figures.peakKiB = std::max(figures.peakKiB, procStatusValue(host.pid(), "VmHWM"));
      std::this_thread::sleep_for(20ms);
    }
  });
  while (auto reply = host.readFrame(20s)) {
    const Clock::time_point now = Clock::now();
    const auto value = decodeJson(*reply);
    const AnyValue* id = member(value, "id");
    const AnyValue* error = member(value, "error");
    if (id == nullptr || !id->isNumber()) std::abort();
    const auto index = static_cast<std::size_t>(id->asNumber()->toDouble());
    std::lock_guard lock(writtenMutex);
    figures.latencies.push_back(std::chrono::duration<double>(now - written.at(index)).count());
    ++figures.replies;
    if (error != nullptr) ++figures.timedOut;
  }
  done = true;
  sampler.join();
  writer.join();
  host.wait(10s);
  return figures;
}

void print(const char* name, int messages, const Figures& f) {
  std::printf("%-34s %7d %7ld %7ld %8.2f %8.2f %8.2f %6ld %8.1f\n", name, messages, f.replies,
              f.timedOut, percentile(f.latencies, 0.5), percentile(f.latencies, 0.99),
              percentile(f.latencies, 1.0), f.mostDescriptors,
              static_cast<double>(f.peakKiB) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  const int scale = argc > 1 ? std::atoi(argv[1]) : 100;
  const auto scaled = [scale](int n) { return std::max(1, n * scale / 100); };
  std::printf("%-34s %7s %7s %7s %8s %8s %8s %6s %8s\n", "scenario (budget 3 s)", "sent", "replies",
              "timeout", "p50 s", "p99 s", "max s", "fds", "peak MiB");
  const AgentAnswer stalled = AgentAnswer::of(AgentAnswer::Kind::neverAnswer);
  const AgentAnswer answering = AgentAnswer::json(200, R"({"ok":true,"token":"t"})");
  for (const int n : {scaled(1000), scaled(8000)}) {
    print("burst, stalled agent", n, run(stalled, n, 0));
  }
  print("flood 8,000/s for 3 s, answering", scaled(24000), run(answering, scaled(24000), 8000));
  return 0;
}
