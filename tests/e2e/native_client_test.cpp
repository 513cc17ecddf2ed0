// The real ostrela-native-client against hosts that misbehave: every fault
// ends the client within its timeout with a non-zero status and says why,
// and the client stays small whatever the host writes.
#include <sys/time.h>

#include <csignal>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/linux/native_messaging/native_host_process.h"
#include "tests/support/flooding_host.h"
#include "tests/support/proc_status.h"
#include "tests/support/temporary_directory.h"

namespace ostrela::testing {
namespace {

using linux_platform::NativeHostProcess;
using ::testing::EndsWith;
using namespace std::chrono_literals;

TEST(NativeClient, EveryFaultOfTheHostIsAFailureWithItsReason) {
  TemporaryDirectory folder;
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string printed;  // at the end of what the client printed
    int status = 1;
  } cases[] = {
      // A child left holding stdin, stdout and stderr, and a message more than a pipe holds.
      {"HostLeavesAChildHoldingItsPipes",
       {"--timeout", "0.5", "--executable",
        folder.writeScript("parent", "(sleep 100 &)\nexec sleep 30"),
        std::string(100000, ' ') + "{}"},
       "the host did not finish within 500 ms; ended it"},
      {"HostStopsReading",  // more than a pipe holds: writing meets EPIPE, not SIGPIPE
       {"--executable", folder.writeScript("deaf", "exit 0"), std::string(100000, ' ') + "{}"},
       "0 replies to 1 messages; host exit status 0"},
      {"ExitStatusUnknown",
       {"--executable", folder.writeScript("echo", "exec cat"), "{}"},
       "cannot learn the host's exit status: waitpid: No child processes"},
      {"HostKeepsWriting",
       {"--executable", writeFloodingHost(folder), "{}", "{}"},
       "the host kept writing after its replies; ended it"},
      {"HostFloodsItsErrorOutput",
       {"--timeout", "3", "--executable", folder.writeScript("chatty", "exec yes >&2"), "{}"},
       "the host did not finish within 3000 ms; ended it"},
      // The child is ended with the host's group; a reply's C1 control is escaped.
      {"HostAnswersAndLeavesAChild",
       {"--executable", folder.writeScript("echo-parent", "(sleep 100 &)\nexec cat"),
        "{\"csi\":\"\xC2\x9B"
        "31m\"}"},
       "<- {\"csi\":\"\\u009b31m\"}",
       0},
  };
  for (const Case& c : cases) {
    // The client's stdout joins its stderr, which the harness collects. An ignored
    // SIGCHLD passes through exec: the client's host is then reaped unseen.
    std::vector<std::string> arguments{
        "-c", "exec \"$0\" \"$@\" 1>&2", "env",
        std::string(c.name) == "ExitStatusUnknown" ? "--ignore-signal=CHLD" : "--",
        OSTRELA_NATIVE_CLIENT_PATH};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    NativeHostProcess client("/bin/sh", arguments);
    EXPECT_EQ(client.wait(60s), c.status) << c.name;
    EXPECT_THAT(client.errorOutput(), EndsWith(c.printed + "\n")) << c.name;
  }
  EXPECT_LT(largestReapedChildPeak(), kPeakMemoryBoundKiB) << "KiB, the client's peak among them";
}

// A caller with a signal handler sees its calls interrupted (EINTR): each is retried.
TEST(NativeClient, InterruptedCallsAreRetried) {
  TemporaryDirectory folder;
  const auto slowEcho = folder.writeScript("slow-echo", "sleep 0.3\nexec cat");
  struct sigaction interrupt {};
  interrupt.sa_handler = [](int) {};  // no SA_RESTART
  struct sigaction previous {};
  ::sigaction(SIGALRM, &interrupt, &previous);
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  ::pthread_sigmask(SIG_BLOCK, &alarm, nullptr);  // the stderr thread inherits the mask
  NativeHostProcess host(slowEcho, {});
  ::pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);  // so this thread alone is interrupted
  itimerval every{{0, 1000}, {0, 1000}};
  ::setitimer(ITIMER_REAL, &every, nullptr);

  const std::string body(70000, 'x');  // more than a pipe holds, less than two: the write waits
  EXPECT_TRUE(host.writeFrame(body));
  host.closeInput();
  EXPECT_EQ(host.readAllFrames(5s), std::vector<std::string>{body});
  EXPECT_EQ(host.wait(5s), 0);

  every = {};
  ::setitimer(ITIMER_REAL, &every, nullptr);
  ::sigaction(SIGALRM, &previous, nullptr);
}

}  // namespace
}  // namespace ostrela::testing
