// What a browser pays per message: a new host process for each
// runtime.sendNativeMessage. Measures, side by side in one run and
// interleaved, the time from spawn to the reply frame of OstrelaExtension and
// of minimal static C programs doing the same job (plain, and locked as the
// extension is); then replies per second on one long-lived connection
// (runtime.connectNative) and peak memory. With a second argument, another
// build of OstrelaExtension, the two builds side by side, both measures interleaved.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/native_messaging/native_host_process.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "shared/managed_configuration_key.h"
#include "tests/support/proc_status.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_agent.h"

namespace {

using namespace ostrela::testing;
using ostrela::linux_platform::NativeHostProcess;
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
  NativeHostProcess host(program, {"chrome-extension://benchmark/"}, env);
  host.writeFrame(message);
  const auto reply = host.readFrame(10s);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const long peak =
      procStatusValue(host.pid(), "VmHWM");  // the host waits for end of input: still alive
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

// Ours against the same job done by a minimal static C program (the floor: no
// loader) and by the same program locked as ours is, interleaved so that all
// three see the same machine.
void compare(const char* what, const std::string& plain, const std::string& locked,
             const std::string& message, const std::vector<std::string>& env, int runs) {
  Runs floor, lockedFloor, mine;
  for (int i = 0; i < runs; ++i) {
    floor.add(coldStart(plain, message, env));
    lockedFloor.add(coldStart(locked, message, env));
    mine.add(coldStart(OSTRELA_EXTENSION_PATH, message, env));
  }
  std::printf("%-18s %7.3f %6ld | %7.3f %6ld | %7.3f %7.3f %6ld | %5.2fx %5.2fx\n", what,
              floor.median(), floor.peakKiB, lockedFloor.median(), lockedFloor.peakKiB,
              mine.median(), percentile(mine.milliseconds, 0.9), mine.peakKiB,
              mine.median() / floor.median(), mine.median() / lockedFloor.median());
}

// Two builds of OstrelaExtension against each other, interleaved, each going
// first in every other round so that neither always meets the other's leftovers.
void compareBuilds(const char* what, const std::string& other, const std::string& message,
                   const std::vector<std::string>& env, int runs) {
  Runs theirs, mine;
  for (int i = 0; i < runs; ++i) {
    if (i % 2 == 0) theirs.add(coldStart(other, message, env));
    mine.add(coldStart(OSTRELA_EXTENSION_PATH, message, env));
    if (i % 2 == 1) theirs.add(coldStart(other, message, env));
  }
  std::printf("%-18s %7.3f %7.3f %6ld | %7.3f %7.3f %6ld | %6.3fx\n", what, mine.median(),
              percentile(mine.milliseconds, 0.9), mine.peakKiB, theirs.median(),
              percentile(theirs.milliseconds, 0.9), theirs.peakKiB,
              mine.median() / theirs.median());
}

// Replies per second, printed with peak memory.
double throughput(const char* what, const std::string& program, const std::string& message,
                  const std::vector<std::string>& env, int count) {
  NativeHostProcess host(program, {"chrome-extension://benchmark/"}, env);
  const auto start = Clock::now();
  std::thread writer([&] {
    for (int i = 0; i < count; ++i) host.writeFrame(message);
    host.closeInput();
  });
  int replies = 0;
  long peak = 0;
  while (host.readFrame(15s)) {
    if (++replies % 1000 == 0) peak = std::max(peak, procStatusValue(host.pid(), "VmHWM"));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  writer.join();
  host.wait(15s);
  std::printf("%-34s %8d replies in %6.3f s = %9.0f replies/s, peak memory %ld KiB%s\n", what,
              replies, seconds, replies / seconds, peak,
              replies == count ? "" : "  (REPLIES MISSING)");
  return replies / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  TemporaryDirectory folder;
  // Forced values come from the installed folder only; where it has no file, that costs one lookup.
  const ostrela::linux_platform::FilePreferenceStores stores({folder.path() / "home"}, {}, "");
  folder.write(
      std::filesystem::relative(stores.suiteFile(ostrela::appGroupSuiteName), folder.path()),
      R"({"machineId":"m-1","agentRelaySecret":"s"})");
  const auto env = environment(folder);
  TestAgent agent(47653);
  agent.keepRecords(false);
  agent.answer(AgentAnswer::json(200, R"({"ok":true,"token":"abc"})"));

  if (argc > 2) {
    std::printf(
        "Cold start to the reply frame, %d runs each, interleaved (ms; peak memory KiB)\n"
        "%-18s %7s %7s %6s | %7s %7s %6s | %s\n",
        runs, "", "ours", "ours90", "KiB", "other", "other90", "KiB", "/other");
    compareBuilds("getManagedConfig", argv[2], kConfigMessage, env, runs);
    compareBuilds("relayed getToken", argv[2], kRelayMessage, env, runs);
    std::printf("\nOne long-lived connection, the builds taking turns\n");
    std::vector<double> ours, theirs;
    for (int round = 0; round < 10; ++round) {
      ours.push_back(
          throughput("getManagedConfig, ours", OSTRELA_EXTENSION_PATH, kConfigMessage, env, 20000));
      theirs.push_back(throughput("getManagedConfig, other", argv[2], kConfigMessage, env, 20000));
    }
    std::printf("medians: ours %.0f, other %.0f replies/s: %.3fx\n", percentile(ours, 0.5),
                percentile(theirs, 0.5), percentile(ours, 0.5) / percentile(theirs, 0.5));
    return 0;
  }
  std::printf("Cold start to the reply frame, %d runs each, interleaved (ms; peak memory KiB)\n",
              runs);
  std::printf("%-18s %7s %6s | %7s %6s | %7s %7s %6s | %6s %6s\n", "", "C", "KiB", "C lock", "KiB",
              "ours", "ours90", "KiB", "/C", "/lock");
  compare("getManagedConfig", OSTRELA_MINIMAL_HOST_STATIC, OSTRELA_MINIMAL_HOST_LOCKED,
          kConfigMessage, env, runs);
  compare("relayed getToken", OSTRELA_MINIMAL_RELAY_HOST_STATIC, OSTRELA_MINIMAL_RELAY_HOST_LOCKED,
          kRelayMessage, env, runs);
  std::printf("\nOne long-lived connection (OstrelaExtension)\n");
  throughput("getManagedConfig", OSTRELA_EXTENSION_PATH, kConfigMessage, env, 20000);
  throughput("relayed getToken", OSTRELA_EXTENSION_PATH, kRelayMessage, env, 5000);
  return 0;
}
