// What a browser pays per message: a new host process for each
// runtime.sendNativeMessage. Measures, side by side in one run and
// interleaved, the time from spawn to the reply frame of OstrelaExtension and
// of minimal C programs doing the same job (linked statically and
// dynamically); then replies per second on one
// long-lived connection (runtime.connectNative) and peak memory. Given another
// build of OstrelaExtension, compares the two builds' cold starts instead.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/native_messaging/host_process.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_agent.h"

namespace {

using namespace ostrela::testing;
using ostrela::linux_platform::HostProcess;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kConfigMessage = R"({"type":"getManagedConfig","id":1})";
const std::string kRelayMessage = R"({"type":"getToken","host":"com.ostrela.ldap_host","id":"t1"})";

struct Sample {
  double milliseconds;
  long peakKiB;
};

std::vector<std::string> environment(const TemporaryDirectory& folder) {
  return {"XDG_CONFIG_HOME=" + (folder.path() / "home").string()};
}

Sample coldStart(const std::string& program, const std::string& message,
                 const std::vector<std::string>& env) {
  const auto start = Clock::now();
  HostProcess host(program, {"chrome-extension://benchmark/"}, env);
  host.writeFrame(message);
  const auto reply = host.readFrame(10s);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const long peak = host.peakMemoryKiB();  // the host waits for end of input: still alive
  host.closeInput();
  host.wait(10s);
  if (!reply) std::fprintf(stderr, "no reply from %s\n", program.c_str());
  return {ms, peak};
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

struct Runs {
  std::vector<double> milliseconds;
  long peakKiB = 0;

  void add(const Sample& sample) {
    milliseconds.push_back(sample.milliseconds);
    peakKiB = std::max(peakKiB, sample.peakKiB);
  }
  double median() const { return percentile(milliseconds, 0.5); }
};

// Ours against the same job done by a minimal C program linked statically
// (the floor: no loader) and dynamically, interleaved so that all three see
// the same machine.
void compare(const char* what, const std::string& staticBaseline,
             const std::string& dynamicBaseline, const std::string& ours,
             const std::string& message, const std::vector<std::string>& env, int runs) {
  Runs floor, dynamic, mine;
  for (int i = 0; i < runs; ++i) {
    floor.add(coldStart(staticBaseline, message, env));
    dynamic.add(coldStart(dynamicBaseline, message, env));
    mine.add(coldStart(ours, message, env));
  }
  std::printf("%-18s %7.3f %6ld | %7.3f %6ld | %7.3f %7.3f %6ld | %5.2fx %5.2fx\n", what,
              floor.median(), floor.peakKiB, dynamic.median(), dynamic.peakKiB, mine.median(),
              percentile(mine.milliseconds, 0.9), mine.peakKiB, mine.median() / floor.median(),
              mine.median() / dynamic.median());
}

// This build against another build of OstrelaExtension, interleaved: what a
// change costs at a cold start.
void compareBuilds(const char* what, const std::string& other, const std::string& message,
                   const std::vector<std::string>& env, int runs) {
  Runs theirs, mine;
  for (int i = 0; i < runs; ++i) {
    theirs.add(coldStart(other, message, env));
    mine.add(coldStart(OSTRELA_EXTENSION_PATH, message, env));
  }
  std::printf("%-18s %7.3f %7.3f | %7.3f %7.3f | %5.3fx\n", what, theirs.median(),
              percentile(theirs.milliseconds, 0.9), mine.median(),
              percentile(mine.milliseconds, 0.9), mine.median() / theirs.median());
}

void throughput(const char* what, const std::string& program, const std::string& message,
                const std::vector<std::string>& env, int count) {
  HostProcess host(program, {"chrome-extension://benchmark/"}, env);
  const auto start = Clock::now();
  std::thread writer([&] {
    for (int i = 0; i < count; ++i) host.writeFrame(message);
    host.closeInput();
  });
  int replies = 0;
  long peak = 0;
  while (host.readFrame(15s)) {
    if (++replies % 1000 == 0) peak = std::max(peak, host.peakMemoryKiB());
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  writer.join();
  host.wait(15s);
  std::printf("%-34s %8d replies in %6.3f s = %9.0f replies/s, peak memory %ld KiB%s\n", what,
              replies, seconds, replies / seconds, peak,
              replies == count ? "" : "  (REPLIES MISSING)");
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  // With a second argument, only this build against that one.
  const std::string other = argc > 2 ? argv[2] : "";
  TemporaryDirectory folder;
  // Forced values come from the installed folder only; where it has no file, that costs one lookup.
  folder.write(
      "home/ostrela/group-containers/K7W2RQ9D4F.group.com.ostrela.safari-extension/"
      "preferences.json",
      R"({"machineId":"m-1","agentRelaySecret":"s"})");
  const auto env = environment(folder);
  TestAgent agent(47653);
  agent.keepRecords(false);
  agent.answer(AgentAnswer::json(200, R"({"ok":true,"token":"abc"})"));

  if (!other.empty()) {
    std::printf("Cold start to the reply frame, %d runs each, interleaved (ms)\n", runs);
    std::printf("%-18s %7s %7s | %7s %7s | %6s\n", "", "other", "other90", "this", "this90",
                "ratio");
    compareBuilds("getManagedConfig", other, kConfigMessage, env, runs);
    compareBuilds("relayed getToken", other, kRelayMessage, env, runs);
    return 0;
  }
  std::printf("Cold start to the reply frame, %d runs each, interleaved (ms; peak memory KiB)\n",
              runs);
  std::printf("%-18s %7s %6s | %7s %6s | %7s %7s %6s | %6s %6s\n", "", "C stat", "KiB", "C dyn",
              "KiB", "ours", "ours90", "KiB", "/stat", "/dyn");
  compare("getManagedConfig", OSTRELA_MINIMAL_HOST_STATIC, OSTRELA_MINIMAL_HOST,
          OSTRELA_EXTENSION_PATH, kConfigMessage, env, runs);
  compare("relayed getToken", OSTRELA_MINIMAL_RELAY_HOST_STATIC, OSTRELA_MINIMAL_RELAY_HOST,
          OSTRELA_EXTENSION_PATH, kRelayMessage, env, runs);
  std::printf("\nOne long-lived connection (OstrelaExtension)\n");
  throughput("getManagedConfig", OSTRELA_EXTENSION_PATH, kConfigMessage, env, 20000);
  throughput("relayed getToken", OSTRELA_EXTENSION_PATH, kRelayMessage, env, 5000);
  return 0;
}
