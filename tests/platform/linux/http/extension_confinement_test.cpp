// OstrelaExtension's lock, right by right, on the production policy: each
// case forks a child that confines itself as main does, tries what a flaw in
// the process might try, and reports the errno of each attempt.
#include "platform/linux/http/extension_confinement.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <thread>

#include "extension/relay/agent_url.h"
#include "platform/linux/confinement/landlock_abi.h"
#include "platform/linux/file_descriptor.h"
#include "platform/linux/http/listener_account.h"
#include "platform/linux/process_loggers.h"
#include "shared/managed_configuration_key.h"
#include "tests/platform/linux/http/relay_test_helpers.h"
#include "tests/support/results_in_child.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_agent.h"

namespace ostrela::testing {
namespace {

using namespace linux_platform;

// 0 when `result` says the call worked, else its errno.
int errnoOf(long result) {
  return result >= 0 ? 0 : errno;
}

int readFile(const std::filesystem::path& path) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  char byte;
  return fd.valid() ? errnoOf(::read(fd.get(), &byte, 1)) : errno;
}

// A TCP socket to 127.0.0.1:`port`, and the errno of its connect.
std::pair<FileDescriptor, int> connectTo(std::uint16_t port) {
  FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = loopbackAddress(port);
  const int error =
      errnoOf(::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address));
  return {std::move(fd), error};
}

using Probe = std::function<int()>;

class ExtensionConfinement : public ::testing::Test {
 protected:
  ExtensionConfinement() {
    ownFile = folder.write(stores.ownFile().lexically_relative(folder.path()), "{}");
    suiteFile = folder.write(stores.suiteFile(appGroupSuiteName).lexically_relative(folder.path()),
                             R"({"agentRelaySecret":"s"})");
    managedFile = folder.write(stores.managedFile().lexically_relative(folder.path()), "{}");
    outside = folder.write("outside.json", "{}");
  }

  // The errno of each probe, run in order in a child confined as main does it.
  std::vector<int> inConfinedChild(const std::vector<Probe>& probes,
                                   int landlockAbi = kKernelsLandlockAbi) const {
    const ChildResults child = resultsInChild(
        [&] { confineExtensionProcess(stores, extensionLogger(), landlockAbi); }, probes);
    EXPECT_EQ(child.status, 0);
    return child.results;
  }

  TemporaryDirectory folder;
  FilePreferenceStores stores{{folder.path() / "home"}, {folder.path() / "managed", false}, "d"};
  std::filesystem::path ownFile, suiteFile, managedFile, outside;
};

TEST_F(ExtensionConfinement, ReadsThePreferenceFoldersAndNothingElse) {
  if (kernelLandlockAbi() == 0) GTEST_SKIP() << "this kernel has no Landlock";
  EXPECT_EQ(
      inConfinedChild({[&] { return readFile(ownFile); }, [&] { return readFile(suiteFile); },
                       [&] { return readFile(managedFile); }, [&] { return readFile(outside); },
                       [&] { return readFile("/etc/passwd"); },
                       [&] { return errnoOf(::open(folder.path().c_str(), O_RDONLY)); }}),
      (std::vector<int>{0, 0, 0, EACCES, EACCES, EACCES}));
}

TEST_F(ExtensionConfinement, WritesNothingEvenInThePreferenceFolders) {
  if (kernelLandlockAbi() == 0) GTEST_SKIP() << "this kernel has no Landlock";
  const auto suiteFolder = suiteFile.parent_path();
  EXPECT_EQ(
      inConfinedChild({
          [&] { return errnoOf(::open(suiteFile.c_str(), O_WRONLY)); },
          [&] { return errnoOf(::open((suiteFolder / "new").c_str(), O_CREAT | O_WRONLY, 0600)); },
          [&] { return errnoOf(::mkdir((suiteFolder / "folder").c_str(), 0700)); },
          [&] { return errnoOf(::unlink(ownFile.c_str())); },
      }),
      // Landlock refuses the opens; mkdir and unlink are not even on the filter's list.
      (std::vector<int>{EACCES, EACCES, EPERM, EPERM}));
  EXPECT_TRUE(std::filesystem::exists(ownFile));
}

TEST_F(ExtensionConfinement, ConnectsOnlyToTheAgentsPort) {
  if (kernelLandlockAbi() < 4) {
    GTEST_SKIP() << "Landlock ABI " << kernelLandlockAbi() << " has no network rules (needs 4)";
  }
  TestAgent agent(kAgentPort);
  TestAgent other;
  EXPECT_EQ(inConfinedChild({[&] { return connectTo(kAgentPort).second; },
                             [&] { return connectTo(other.port()).second; },
                             [&] {
                               const FileDescriptor fd(::socket(AF_INET, SOCK_STREAM, 0));
                               sockaddr_in any{};
                               any.sin_family = AF_INET;
                               return errnoOf(
                                   ::bind(fd.get(), reinterpret_cast<sockaddr*>(&any), sizeof any));
                             }}),
            (std::vector<int>{0, EACCES, EACCES}));
}

// What the relay's listener check, the journal sink and nothing else need.
TEST_F(ExtensionConfinement, OpensOnlyTheSocketsItUses) {
  TestAgent agent(kAgentPort);
  const auto listenerCheck = [](bool fallback) {
    const auto [fd, error] = connectTo(kAgentPort);
    if (error != 0) return error;
    if (!fallback) return whyAgentListenerIsRefused(fd.get()) ? -1 : 0;
    const auto accounts =
        listenerAccountsFromProc(*localEndpoint(fd.get()), *peerEndpoint(fd.get()));
    return whyAgentAccountIsRefused(accounts) ? -1 : 0;
  };
  EXPECT_EQ(inConfinedChild({
                [&] { return listenerCheck(false); },
                [&] { return listenerCheck(true); },
                [] { return errnoOf(FileDescriptor(::socket(AF_UNIX, SOCK_DGRAM, 0)).get()); },
                [] { return errnoOf(::socket(AF_UNIX, SOCK_STREAM, 0)); },
                [] { return errnoOf(::socket(AF_INET, SOCK_DGRAM, 0)); },
                [] { return errnoOf(::socket(AF_INET, SOCK_STREAM, 262 /* MPTCP */)); },
                [] { return errnoOf(::socket(AF_NETLINK, SOCK_RAW, 0 /* NETLINK_ROUTE */)); },
                [] { return errnoOf(::socket(AF_PACKET, SOCK_RAW, 0)); },
            }),
            (std::vector<int>{0, 0, 0, EPERM, EPERM, EPERM, EPERM, EPERM}));
}

// Reaching into other processes: ExtensionProcess.TheLiveFilterRefusesWhatTheProcessNeverDoes.
TEST_F(ExtensionConfinement, StartsNoProgramAndMakesNoNamespace) {
  EXPECT_EQ(
      inConfinedChild({
          [] {
            char* const arguments[] = {const_cast<char*>("/bin/true"), nullptr};
            return errnoOf(::execve("/bin/true", arguments, environ));
          },
          [] { return errnoOf(::unshare(CLONE_NEWUSER)); },
          [] { return errnoOf(::syscall(SYS_clone, CLONE_NEWUSER | SIGCHLD, nullptr, nullptr)); },
          [] { return ::prctl(PR_GET_DUMPABLE) == 0 ? 0 : -1; },
          [] {
            // Threads still start: glibc falls back from clone3 to clone.
            std::thread thread([] {});
            thread.join();
            return 0;
          },
      }),
      (std::vector<int>{EPERM, EPERM, EPERM, 0, 0}));
}

// The forced file's rule is for the file the trusted walk opened: a link to a
// file is followed, a link the walk refuses (here to a folder) gives no rule.
TEST_F(ExtensionConfinement, AForcedLinkGetsARuleOnlyForWhatTheWalkOpened) {
  if (kernelLandlockAbi() == 0) GTEST_SKIP() << "this kernel has no Landlock";
  for (const bool toFolder : {false, true}) {
    std::filesystem::remove(managedFile);
    std::filesystem::create_symlink(toFolder ? folder.path() : std::filesystem::path(outside),
                                    managedFile);
    EXPECT_EQ(inConfinedChild({[&] { return readFile(outside); }}),
              (std::vector<int>{toFolder ? EACCES : 0}))
        << (toFolder ? "to a folder" : "to a file");
  }
}

// Test builds end the process at the first refused call, naming it.
TEST_F(ExtensionConfinement, ARefusalEndsATestBuildNamingTheCall) {
  Pipe error = makePipe();
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(error.write.get(), STDERR_FILENO);
    confineExtensionProcess(stores, extensionLogger(), kKernelsLandlockAbi,
                            Refusals::reportAndExit);
    ::_exit(static_cast<int>(::syscall(SYS_chmod, outside.c_str(), 0644)));
  }
  error.write.reset();
  char text[64] = {};
  EXPECT_GT(::read(error.read.get(), text, sizeof text - 1), 0);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 159);
  EXPECT_EQ(std::string(text), "refused system call " + std::to_string(SYS_chmod) + "\n");
}

// Debian 12's kernel offers ABI 2: files only. Asked for no more than that, the
// file rules hold and TCP is left as it was.
TEST_F(ExtensionConfinement, AtAbiTwoTheFileRulesStillHold) {
  if (kernelLandlockAbi() < 2) GTEST_SKIP() << "this kernel's Landlock is older than ABI 2";
  TestAgent other;
  EXPECT_EQ(inConfinedChild({[&] { return readFile(suiteFile); }, [&] { return readFile(outside); },
                             [&] { return errnoOf(::open(suiteFile.c_str(), O_WRONLY)); },
                             [&] { return connectTo(other.port()).second; }},
                            2),
            (std::vector<int>{0, EACCES, EACCES, 0}));
}

}  // namespace
}  // namespace ostrela::testing
