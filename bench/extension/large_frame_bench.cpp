// Large native messages, answered locally or relayed: the time to read a frame
// of 1, 16 and 64 MiB in one pass (outlineJsonObject, and reencodeJson for a
// relayed one), as a value (decodeJson, and encodeJson for a relayed one) and
// with boost::json::parse (the baseline), run alternately in this process;
// then the time OstrelaExtension takes to answer that frame (wall-clock and its
// CPU time) and its peak resident memory (VmHWM) while answering it. A relayed
// frame finds no agent (run it in a network namespace of its own) and is
// answered that the agent is not reachable, after its body was written.
// Reading times are CPU seconds, medians of the runs.
// Usage: ostrela_large_frame_bench [largest MiB, default 64] [decode runs, default 3]
//        [host executable, default the OstrelaExtension built beside it: another build to compare]
#include <sys/resource.h>

#include <algorithm>
#include <boost/json/parse.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "core/json.h"
#include "core/json_one_pass.h"
#include "platform/linux/native_messaging/frame_codec.h"
#include "platform/linux/native_messaging/native_host_process.h"
#include "shared/bundle_identifiers.h"
#include "tests/support/proc_status.h"
#include "tests/support/temporary_directory.h"

namespace {

using namespace ostrela::testing;
using ostrela::linux_platform::encodeFrame;
using ostrela::linux_platform::NativeHostProcess;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kMiB = 1024 * 1024;

// Distinct keys as short as JSON allows: base 62, at most 5 characters for 64 MiB.
std::string shortKey(std::size_t n) {
  static constexpr char kDigits[] =
      "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string key;
  do {
    key.push_back(kDigits[n % 62]);
    n /= 62;
  } while (n != 0);
  return key;
}

// The head of every frame: answered locally, or relayed to the redaction agent.
std::string frameHead(bool relayed) {
  return relayed ? R"({"type":"scrub","host":")" + std::string(ostrela::kRedactionHost) +
                       R"(","id":1,"d":)"
                 : R"({"type":"nonsense","id":1,"d":)";
}

// A frame of at most `size` bytes whose "d" holds members as small as possible
// (`"k":0`, the worst case for memory) or like `"k1234":1234`.
std::string membersFrame(std::size_t size, bool shortest, bool relayed) {
  std::string text = frameHead(relayed) + "{";
  for (std::size_t i = 0;; ++i) {
    const std::string member = shortest ? "\"" + shortKey(i) + "\":0"
                                        : "\"k" + std::to_string(i) + "\":" + std::to_string(i);
    if (text.size() + member.size() + 3 > size) break;
    if (i != 0) text.push_back(',');
    text += member;
  }
  return text + "}}";
}

// "d":[0,0,...]: the most values a frame can hold.
std::string zerosFrame(std::size_t size, bool relayed) {
  std::string text = frameHead(relayed) + "[0";
  while (text.size() + 4 <= size) text += ",0";
  return text + "]}";
}

std::string stringFrame(std::size_t size, bool relayed) {
  const std::string head = frameHead(relayed) + "\"";
  return head + std::string(size - head.size() - 2, 'x') + "\"}";
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double threadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double childrenCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  const auto add = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return add(usage.ru_utime) + add(usage.ru_stime);
}

// CPU seconds: the machine is shared, so wall-clock time would measure the other work.
template <typename F>
double seconds(F body) {
  const double start = threadCpuSeconds();
  body();
  return threadCpuSeconds() - start;
}

struct Answer {
  double seconds;
  double cpuSeconds;
  long peakKiB;
  bool replied;
};

Answer answer(const std::string& executable, const std::string& frame,
              const std::vector<std::string>& env) {
  const double cpuBefore = childrenCpuSeconds();
  const auto start = Clock::now();
  NativeHostProcess host(executable, {"chrome-extension://benchmark/"}, env);
  host.writeFrame(frame);
  const auto reply = host.readFrame(600s);
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const long peak = procStatusValue(host.pid(), "VmHWM");  // still alive: it waits for end of input
  host.closeInput();
  host.wait(10s);
  const bool replied = reply && reply->find(R"("ok":false)") != std::string::npos;
  return {elapsed, childrenCpuSeconds() - cpuBefore, peak, replied};
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t largest = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::string executable = argc > 3 ? argv[3] : OSTRELA_EXTENSION_PATH;
  TemporaryDirectory folder;
  const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + (folder.path() / "home").string(),
                                        "XDG_CONFIG_DIRS=" + (folder.path() / "etc").string()};

  std::printf("%-16s %-7s %4s | %8s %8s %8s %6s | %8s %8s %9s %6s\n", "frame", "route", "MiB",
              "one pass", "value", "boost", "ratio", "answer", "cpu", "peak MiB", "x size");
  for (const char* shape :
       {"small members", "shortest members", "repeated key", "array of zeros", "one string"}) {
    for (const bool relayed : {false, true}) {
      for (std::size_t mib : {std::size_t{1}, std::size_t{16}, std::size_t{64}}) {
        if (mib > largest) continue;
        // The largest frame a browser sends is 64 MiB, header included.
        const std::size_t size = mib * kMiB - (mib == 64 ? 4 : 0);
        const std::string name(shape);
        std::string frame = name == "one string" ? stringFrame(size, relayed)
                            : name == "array of zeros"
                                ? zerosFrame(size, relayed)
                                : membersFrame(size - 8, name != "small members", relayed);
        // The shortest members, the first of them repeated last: the whole object is
        // rewritten when it closes.
        if (name == "repeated key") frame.insert(frame.size() - 2, R"(,"0":1)");
        std::vector<double> onePass, value, boost;
        // A warm-up round first, so that none pays for another's first page faults;
        // small frames get more runs, their times being short.
        const int count = 1 + std::max(runs, static_cast<int>(16 / mib));
        for (int i = 0; i < count; ++i) {  // alternated, so all see the same machine
          onePass.push_back(seconds([&] {
            if (!ostrela::outlineJsonObject(frame)) std::abort();
            if (relayed && !ostrela::reencodeJson(frame)) std::abort();
          }));
          value.push_back(seconds([&] {
            const auto decoded = ostrela::decodeJson(frame);
            if (!decoded) std::abort();
            if (relayed && !ostrela::encodeJson(*decoded)) std::abort();
          }));
          boost.push_back(seconds([&] {
            boost::json::error_code ec;
            const boost::json::value parsed = boost::json::parse(frame, ec);
            if (ec) std::abort();
          }));
        }
        const Answer a = answer(executable, frame, env);
        for (auto* times : {&onePass, &value, &boost}) times->erase(times->begin());
        const double peakMiB = static_cast<double>(a.peakKiB) / 1024.0;
        std::printf("%-16s %-7s %4zu | %8.3f %8.3f %8.3f %5.2fx | %8.3f %8.3f %9.1f %5.1fx%s\n",
                    shape, relayed ? "relayed" : "local", mib, median(onePass), median(value),
                    median(boost), median(onePass) / median(boost), a.seconds, a.cpuSeconds,
                    peakMiB, peakMiB / static_cast<double>(frame.size()) * kMiB,
                    a.replied ? "" : "  (NO ERROR REPLY)");
        std::fflush(stdout);
      }
    }
  }
  return 0;
}
