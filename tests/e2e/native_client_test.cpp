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
using ::testing::HasSubstr;
using namespace std::chrono_literals;

// An executable shell script `name` in `folder`.
std::string script(const TemporaryDirectory& folder, const std::string& name,
                   const std::string& body) {
  const auto path = folder.write(name, "#!/bin/sh\n" + body + "\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path.string();
}

TEST(NativeClient, EveryFaultOfTheHostIsAFailureWithItsReason) {
  TemporaryDirectory folder;
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string failure;
    bool childStatusIgnored = false;
  } cases[] = {
      // A child left holding stdin, stdout and stderr, and a message more than a pipe holds.
      {"HostLeavesAChildHoldingItsPipes",
       {"--timeout", "0.5", "--executable",
        script(folder, "parent", "(sleep 100 &)\nexec sleep 30"), std::string(100000, ' ') + "{}"},
       "the host did not finish within 500 ms; ended it"},
      {"HostStopsReading",  // more than a pipe holds: writing meets EPIPE, not SIGPIPE
       {"--executable", script(folder, "deaf", "exit 0"), std::string(100000, ' ') + "{}"},
       "0 replies to 1 messages; host exit status 0"},
      {"ExitStatusUnknown",
       {"--executable", script(folder, "echo", "exec cat"), "{}"},
       "cannot learn the host's exit status: waitpid: No child processes",
       true},
      {"HostKeepsWriting",
       {"--executable", writeFloodingHost(folder), "{}", "{}"},
       "the host kept writing after its replies; ended it"},
      {"HostFloodsItsErrorOutput",
       {"--timeout", "3", "--executable", script(folder, "chatty", "exec yes >&2"), "{}"},
       "the host did not finish within 3000 ms; ended it"},
  };
  for (const Case& c : cases) {
    // An ignored SIGCHLD passes through exec: the client's host is then reaped unseen.
    if (c.childStatusIgnored) ::signal(SIGCHLD, SIG_IGN);
    NativeHostProcess client(OSTRELA_NATIVE_CLIENT_PATH, c.arguments);
    ::signal(SIGCHLD, SIG_DFL);
    client.closeOutput();  // where it echoes messages and replies, more than a pipe holds
    EXPECT_EQ(client.wait(60s), 1) << c.name;
    const std::string output = client.errorOutput();  // the host's log, then the reason
    EXPECT_THAT(output.substr(output.size() - std::min<std::size_t>(output.size(), 4096)),
                HasSubstr("ostrela-native-client: " + c.failure))
        << c.name;
  }
  EXPECT_LT(largestReapedChildPeak(), 64 * 1024) << "KiB, the client's peak among them";
}

// A host that answers and exits, leaving a child that holds its output open: the
// replies count, and the child is ended with the host's process group. What the
// client prints from the host has no terminal escapes (C1 ones included).
TEST(NativeClient, PrintsTheRepliesOfAHostThatLeftAChild) {
  TemporaryDirectory folder;
  const std::string host = script(folder, "echo", "(sleep 100 &)\nexec cat");
  // The client's stdout joins its stderr, which the harness collects.
  NativeHostProcess client("/bin/sh", {"-c", "exec \"$0\" \"$@\" 1>&2", OSTRELA_NATIVE_CLIENT_PATH,
                                       "--timeout", "30", "--executable", host,
                                       "{\"csi\":\"\xC2\x9B"
                                       "31m\"}"});
  EXPECT_EQ(client.wait(60s), 0) << client.errorOutput();
  EXPECT_THAT(client.errorOutput(), HasSubstr("<- {\"csi\":\"\\u009b31m\"}\n"));
}

// A caller with a signal handler sees its calls interrupted (EINTR): each is retried.
TEST(NativeClient, InterruptedCallsAreRetried) {
  TemporaryDirectory folder;
  const std::string slowEcho = script(folder, "slow-echo", "sleep 0.3\nexec cat");
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
  const auto replies = host.readAllFrames(5s);
  const int status = host.wait(5s);

  every = {};
  ::setitimer(ITIMER_REAL, &every, nullptr);
  ::sigaction(SIGALRM, &previous, nullptr);
  EXPECT_EQ(replies, std::vector<std::string>{body});
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace ostrela::testing
