// The real OstrelaExtension over pipes, with a test agent on the agent's real
// port: a closed output, the agent's faults and load. The rules behind each are
// tested where they live; here each path once. browser_test.py speaks to it as a browser.
#include <gtest/gtest.h>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/fanotify.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "core/json.h"
#include "platform/linux/native_messaging/frame_reader.h"
#include "platform/linux/native_messaging/native_host_process.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "platform/linux/preferences/managed_preferences_trust.h"
#include "shared/managed_configuration_key.h"
#include "tests/support/managed_namespace.h"
#include "tests/support/proc_status.h"
#include "tests/support/results_in_child.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_agent.h"

namespace ostrela::testing {
namespace {

using linux_platform::NativeHostProcess;

using namespace std::chrono_literals;
using linux_platform::managedPreferencesFolder;
using Clock = std::chrono::steady_clock;

constexpr const char* kSecret = "do-not-log-this-secret";

std::string relayed(const std::string& type, const std::string& id) {
  const char* host = type == "scrub" ? "com.ostrela.redaction_host" : "com.ostrela.ldap_host";
  return R"({"type":")" + type + R"(","host":")" + host + R"(","id":")" + id + "\"}";
}

// "id" and "error" of a reply, or "<none>".
std::pair<std::string, std::string> idAndError(const std::string& reply) {
  const auto value = decodeJson(reply);
  const AnyValue* id = member(value, "id");
  const AnyValue* error = member(value, "error");
  return {id && id->isString() ? *id->asString() : "<none>",
          error && error->isString() ? *error->asString() : "<none>"};
}

// The seccomp program in force in process `pid`, read through ptrace (root only).
std::vector<sock_filter> liveFilter(pid_t pid) {
  std::vector<sock_filter> program(BPF_MAXINSNS);
  if (::ptrace(PTRACE_ATTACH, pid, nullptr, nullptr) != 0) return {};
  ::waitpid(pid, nullptr, __WALL);
  program.resize(std::max(0L, ::ptrace(PTRACE_SECCOMP_GET_FILTER, pid, 0, program.data())));
  ::ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
  return program;
}

long mapPage(int protection) {
  return reinterpret_cast<long>(
      ::mmap(nullptr, 4096, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
}

constexpr const char* kManagedFile = "com.ostrela.safari-extension.extension.json";

class ExtensionProcess : public ::testing::Test {
 protected:
  ExtensionProcess() {
    folder.write(std::string("managed/") + kManagedFile, R"({"organizationId":"org-1"})");
    // What any user could write: it must have no effect.
    folder.write(std::string("forged/ostrela/managed-preferences/") + kManagedFile,
                 R"({"organizationId":"forged","apiToken":"forged"})");
    folder.write(linux_platform::FilePreferenceStores({folder.path() / "home"},
                                                      {folder.path() / "managed", false}, "")
                     .suiteFile(appGroupSuiteName),
                 std::string(R"({"agentRelaySecret":")") + kSecret + "\"}");
  }

  std::vector<std::string> environment(const char* logLevel = "debug") const {
    return {"XDG_CONFIG_HOME=" + (folder.path() / "home").string(),
            "XDG_CONFIG_DIRS=" + (folder.path() / "forged").string(),
            std::string("OSTRELA_LOG_LEVEL=") + logLevel, "OSTRELA_LOG_PRIVATE=1"};
  }

  // With `forced`, in a mount namespace where folder/managed is the installed folder.
  std::unique_ptr<NativeHostProcess> start(
      const char* logLevel = "debug",
      std::vector<std::string> arguments = {"chrome-extension://abcdefghijklmnop/"},
      bool forced = false) {
    const Command command = forced ? withManagedPreferences(folder.path() / "managed",
                                                            OSTRELA_EXTENSION_PATH, arguments)
                                   : Command{OSTRELA_EXTENSION_PATH, arguments};
    return std::make_unique<NativeHostProcess>(command.executable, command.arguments,
                                               environment(logLevel));
  }

  // The reply to getManagedConfig and the error output, folder/managed being the installed folder.
  std::pair<std::string, std::string> managedConfigWithForcedValues() {
    auto host = start("debug", {"chrome-extension://abcdefghijklmnop/"}, true);
    host->writeFrame(R"({"type":"getManagedConfig","id":1})");
    host->closeInput();
    std::string reply = host->readFrame(5s).value_or("<none>");
    EXPECT_EQ(host->wait(5s), 0);
    return {std::move(reply), host->errorOutput()};
  }

  static std::string ignoredLine(const std::string& why) {
    return "error: Ignored managed preferences " +
           (managedPreferencesFolder() / kManagedFile).string() + ": " + why + "\n";
  }

  TemporaryDirectory folder;
};

// A browser that has gone closes both pipes. Relays are queued behind the 256 in
// flight, which the agent answers after 500 ms each: once input has ended and a
// reply failed, nothing more is sent and the process exits, with status 0, not
// killed by SIGPIPE. Serving them all would send every one of the 2,000 in 4 s.
TEST_F(ExtensionProcess, ABrowserThatHasGoneIsServedNoLonger) {
  constexpr int kMessages = 2000;
  TestAgent agent(47653);
  agent.keepRecords(false);
  auto answer = AgentAnswer::json(200, R"({"ok":true})");
  answer.delay = 500ms;
  agent.answer(answer);
  // Started as a browser starts it, with SIGPIPE at its default action: this test
  // process ignores it, and a child would inherit that.
  NativeHostProcess host("/usr/bin/env", {"--default-signal=PIPE", OSTRELA_EXTENSION_PATH},
                         environment("error"));
  for (int i = 0; i < kMessages; ++i) host.writeFrame(relayed("scrub", std::to_string(i)));
  ASSERT_TRUE(agent.waitForRequests(256, 30s));
  host.closeOutput();
  host.writeFrame(R"({"type":"getManagedConfig"})");  // its reply meets EPIPE on the main thread
  host.closeInput();
  EXPECT_EQ(host.wait(30s), 0);
  EXPECT_LT(agent.requestCount(), static_cast<std::size_t>(kMessages / 2));
}

// A relayed frame of nearly 64 MiB, whose values alone would take more memory
// than a 1 GiB address space holds, is read in one pass and reaches the agent
// whole; it is read aside, so the messages behind it are relayed meanwhile.
TEST_F(ExtensionProcess, AHugeFrameNeitherHoldsUpTheNextNorEndsTheProcess) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address-space limit";
#endif
  TestAgent agent(47653);
  agent.answer([](const RecordedRequest& request) {
    return AgentAnswer::of(request.body.find(R"("id":"stalled")") != std::string::npos
                               ? AgentAnswer::Kind::neverAnswer
                               : AgentAnswer::Kind::respond);
  });
  NativeHostProcess host("/usr/bin/prlimit", {"--as=1073741824", OSTRELA_EXTENSION_PATH},
                         environment("error"));
  std::string huge = R"({"type":"scrub","host":"com.ostrela.redaction_host","id":"huge","text":[)";
  while (huge.size() < linux_platform::kMaxInboundFrameLength - 8) huge += "0,";
  huge += "0]}";
  host.writeFrame(huge);
  host.writeFrame(relayed("getToken", "stalled"));
  host.writeFrame(relayed("getToken", "next"));
  EXPECT_EQ(idAndError(host.readFrame(60s).value_or("{}")).first, "next")
      << "relayed while the huge frame is read";
  std::map<std::string, std::string> errors;
  for (int i = 0; i < 2; ++i) errors.insert(idAndError(host.readFrame(60s).value_or("{}")));
  EXPECT_EQ(errors, (std::map<std::string, std::string>{
                        {"huge", "<none>"},
                        {"stalled",
                         "The Ostrela agent is not reachable at http://127.0.0.1:47653: "
                         "the request timed out after 3 seconds"}}));
  const auto requests = agent.requests();
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                          [&huge](const RecordedRequest& r) { return r.body == huge; }),
            1);
  host.closeInput();
  EXPECT_EQ(host.wait(30s), 0);
}

// Whatever the agent does, every message gets one reply within the identity budget,
// and the secret is in no reply and no log line, private logging included. Each
// fault's own text, and the others (a drip, a cut, a body too large), are checked
// against a loopback listener in agent_relay_test.
TEST_F(ExtensionProcess, EveryAgentFaultStillGetsOneReplyWithinTheBudget) {
  TestAgent redirectTarget;
  const std::string notReachable = "The Ostrela agent is not reachable at http://127.0.0.1:47653: ";
  auto redirect = AgentAnswer::json(307, "{}");
  redirect.headers = {{"Location", redirectTarget.url() + "/elsewhere"}};
  // id -> (answer, expected error text or its beginning)
  const std::map<std::string, std::pair<AgentAnswer, std::string>> matrix{
      {"stall", {AgentAnswer::of(AgentAnswer::Kind::neverAnswer), notReachable}},
      {"not-http",
       {AgentAnswer::bytes("SSH-2.0-OpenSSH_9.2\r\n"),
        "The Ostrela agent returned a non-HTTP response"}},
      {"redirect", {redirect, "The Ostrela agent rejected the request (HTTP 307)"}},
  };
  TestAgent agent(47653);
  agent.answer([matrix](const RecordedRequest& request) {
    return matrix.at(idAndError(request.body).first).first;
  });

  auto host = start("debug", {"/path/to/manifest.json", "ostrela@example.org"});  // as Firefox
  const auto start = Clock::now();
  for (const auto& [id, entry] : matrix) host->writeFrame(relayed("getToken", id));
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
  }
  EXPECT_LT(seconds, 3.0 + 1.5) << "the identity budget is 3 s";
  EXPECT_EQ(redirectTarget.connectionCount(), 0u);
  EXPECT_EQ(host->wait(5s), 0);
  const std::string log = host->errorOutput();
  EXPECT_NE(log.find("Relayed 'getToken': The Ostrela agent rejected the request (HTTP 307)"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find(kSecret), std::string::npos) << log;
}

// One connection under load, as a browser may use it: 6,000 messages, a third
// relayed (the agent stalls on half of those and answers the others after up
// to 40 ms), the rest answered locally, 1 in 50 of those cut short. The relays
// pass the soft descriptor limit and the relays in flight. Each message is
// answered exactly once (a relayed one by the agent or with the time-out), and
// descriptors, threads and memory stay bounded. How fast is in the bench.
TEST_F(ExtensionProcess, ALoadOfMessagesIsAnsweredInFullWithinBounds) {
  const std::set<std::string> errors = {
      "<none>", "Malformed native message: expected a JSON object",
      "The Ostrela agent is not reachable at http://127.0.0.1:47653: the request timed out after "
      "3 seconds"};
  constexpr int kMessages = 6000;
  TestAgent agent(47653);
  agent.keepRecords(false);
  agent.answer([](const RecordedRequest& request) {
    const int i = std::stoi(idAndError(request.body).first.substr(1));
    if (i % 2 == 0) return AgentAnswer::of(AgentAnswer::Kind::neverAnswer);
    auto answer = AgentAnswer::json(200, R"({"ok":true,"id":"the agent's"})");
    answer.delay = std::chrono::milliseconds(i % 41);
    return answer;
  });
  // Started as a desktop browser would: a soft limit of 256 descriptors, a higher hard one.
  NativeHostProcess host("/usr/bin/prlimit", {"--nofile=256:4096", OSTRELA_EXTENSION_PATH},
                         {"XDG_CONFIG_HOME=" + (folder.path() / "home").string()});
  std::multiset<std::string> expected;  // cut-short frames are answered without an id
  std::thread writer([&] {
    for (int i = 0; i < kMessages; ++i) {
      const std::string id = "m" + std::to_string(i);
      const bool cutShort = i % 3 != 0 && i % 50 == 1;
      expected.insert(cutShort ? "<none>" : id);
      const std::string frame = R"({"type":"getManagedConfig","id":")" + id + "\"}";
      host.writeFrame(i % 3 == 0 ? relayed("getToken", id)
                      : cutShort ? frame.substr(0, frame.size() - 1)
                                 : frame);
    }
    host.closeInput();
  });
  std::multiset<std::string> ids;
  long mostDescriptors = 0, mostThreads = 0, peakKiB = 0;
  while (auto reply = host.readFrame(10s)) {
    const auto [id, error] = idAndError(*reply);
    ids.insert(id);
    EXPECT_TRUE(errors.contains(error)) << error;
    if (ids.size() % 250 == 0) {
      mostDescriptors = std::max(mostDescriptors, descriptorCount(host.pid()));
      mostThreads = std::max(mostThreads, procStatusValue(host.pid(), "Threads"));
      peakKiB = std::max(peakKiB, procStatusValue(host.pid(), "VmHWM"));
    }
  }
  writer.join();
  EXPECT_TRUE(ids == expected) << "each message gets exactly one reply";
  EXPECT_LT(mostDescriptors, 256 + 64) << "relays in flight are capped";
  // main, the pool's threads (as many as cores, at least two), one a sanitizer may add
  EXPECT_LE(mostThreads, 2 + std::max(2u, std::thread::hardware_concurrency()));
  EXPECT_LT(peakKiB, kPeakMemoryBoundKiB);
  EXPECT_EQ(host.wait(5s), 0);
}

// The lock of every thread, seen from outside between two messages: the relay
// has started the pool's thread by then. The rights it removes are tested in
// extension_confinement_test.cpp.
TEST_F(ExtensionProcess, ConfinedOnEveryThreadBetweenMessages) {
  TestAgent agent(47653);
  auto host = start();
  host->writeFrame(relayed("getToken", "1"));
  EXPECT_EQ(idAndError(host->readFrame(5s).value_or("{}")).second, "<none>");
  const auto tasks = std::filesystem::path("/proc") / std::to_string(host->pid()) / "task";
  int threads = 0;
  for (const auto& task : std::filesystem::directory_iterator(tasks)) {
    const pid_t thread = std::stoi(task.path().filename());  // /proc/<thread> is its status too
    EXPECT_EQ(procStatusValue(thread, "NoNewPrivs"), 1) << task.path();
    EXPECT_EQ(procStatusValue(thread, "Seccomp"), 2) << task.path();
    ++threads;
  }
  EXPECT_GE(threads, 2);
  host->writeFrame(R"({"type":"getManagedConfig","id":2})");
  EXPECT_EQ(host->readFrame(5s).value_or("<none>"), R"({"ok":true,"config":{},"id":2})");
  host->closeInput();
  EXPECT_EQ(host->wait(5s), 0);
  EXPECT_NE(host->errorOutput().find("debug: Confined: "), std::string::npos);
}

// The live process's seccomp program, read from outside as root can
// (PTRACE_SECCOMP_GET_FILTER), installed in a forked child that tries each call
// of the table there: what the process never does is refused with EPERM, not
// with the call's own error (arguments that would work, or that are merely
// wrong), and what it lives on passes.
TEST_F(ExtensionProcess, TheLiveFilterRefusesWhatTheProcessNeverDoes) {
  if (::geteuid() != 0) GTEST_SKIP() << "reading another process's filter needs root";
  auto host = start();
  host->writeFrame(R"({"type":"getManagedConfig","id":1})");
  ASSERT_TRUE(host->readFrame(5s));
  std::vector<sock_filter> program = liveFilter(host->pid());
  host->closeInput();
  EXPECT_EQ(host->wait(5s), 0);
  ASSERT_FALSE(program.empty());
  // A test build's program traps where an installed one answers EPERM.
  for (sock_filter& instruction : program) {
    if (instruction.code == (BPF_RET | BPF_K) && instruction.k == SECCOMP_RET_TRAP) {
      instruction.k = SECCOMP_RET_ERRNO | EPERM;
    }
  }
  const std::string file = folder.write("mine", "x");
  const auto path = file.c_str();
  struct Case {
    const char* name;
    int expected;
    std::function<long()> probe;
  } cases[] = {
    {"chmod", EPERM, [&] { return ::chmod(path, 0644); }},
    {"fchmodat", EPERM, [&] { return ::fchmodat(AT_FDCWD, path, 0644, 0); }},
    {"setxattr ACL", EPERM, [&] { return ::setxattr(path, "system.posix_acl_access", "", 0, 0); }},
    {"setxattr user.", EPERM, [&] { return ::setxattr(path, "user.x", "1", 1, 0); }},
    {"utimensat", EPERM, [&] { return ::utimensat(AT_FDCWD, path, nullptr, 0); }},
    {"chown", EPERM, [&] { return ::chown(path, 0, 0); }},
    {"fchownat", EPERM, [&] { return ::fchownat(AT_FDCWD, path, 0, 0, 0); }},
    {"shmget", EPERM, [] { return ::shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600); }},
    {"shmat", EPERM, [] { return reinterpret_cast<long>(::shmat(0, nullptr, 0)); }},
    {"prlimit", EPERM, [] { return ::prlimit(::getppid(), RLIMIT_NOFILE, nullptr, nullptr); }},
    {"setpriority", EPERM, [] { return ::setpriority(PRIO_PROCESS, ::getppid(), 0); }},
    {"inotify", EPERM, [] { return ::inotify_init1(IN_CLOEXEC); }},
    {"fanotify", EPERM, [] { return ::fanotify_init(0, 0); }},
    {"prctl dumpable", EPERM, [] { return ::prctl(PR_SET_DUMPABLE, 1); }},
    {"mmap exec", EPERM, [] { return mapPage(PROT_READ | PROT_EXEC); }},
    {"mprotect exec", EPERM,
     [] { return ::mprotect(reinterpret_cast<void*>(mapPage(PROT_READ)), 4096, PROT_EXEC); }},
    {"fork", EPERM,
     [] {
       const long pid = ::syscall(SYS_clone, SIGCHLD, nullptr, nullptr, nullptr, nullptr);
       if (pid == 0) ::_exit(0);
       return pid;
     }},
    {"kill", EPERM, [] { return ::kill(::getppid(), 0); }},
    // Without the filter: ESRCH (not attached), and 0 (nothing to read).
    {"ptrace", EPERM, [] { return ::ptrace(PTRACE_PEEKDATA, ::getppid(), nullptr, nullptr); }},
    {"process_vm_readv", EPERM,
     [] { return ::process_vm_readv(::getppid(), nullptr, 0, nullptr, 0, 0); }},
    {"clone3", ENOSYS, [] { return ::syscall(SYS_clone3, nullptr, 0); }},
    {"ioctl TIOCSTI", EPERM, [] { return ::ioctl(-1, TIOCSTI, "x"); }},
#if defined(__x86_64__)
    {"x32 getpid", EPERM, [] { return ::syscall(0x40000000 | SYS_getpid); }},
#endif
    {"socket TCP", 0, [] { return ::socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP); }},
    {"own prlimit", 0, [] { return ::prlimit(0, RLIMIT_NOFILE, nullptr, nullptr); }},
    {"mmap writable", 0, [] { return mapPage(PROT_READ | PROT_WRITE); }},
  };
  std::vector<std::function<int()>> probes;
  for (const Case& c : cases) probes.push_back([&c] { return c.probe() >= 0 ? 0 : errno; });
  const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
  const auto errors = resultsInChild(
                          [&] {
                            if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
                                ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) != 0) {
                              ::_exit(1);
                            }
                          },
                          probes)
                          .results;
  ASSERT_EQ(errors.size(), std::size(cases));
  for (std::size_t i = 0; i < errors.size(); ++i) {
    EXPECT_EQ(errors[i], cases[i].expected) << cases[i].name << ": " << std::strerror(errors[i]);
  }
}

TEST_F(ExtensionProcess, ForcedValuesOnlyFromRootsFilesInTheInstalledFolder) {
  if (!canMountManagedPreferences()) GTEST_SKIP() << "needs root for a private mount namespace";
  const std::filesystem::path managed = folder.path() / "managed";
  const std::filesystem::path file = managed / kManagedFile;
  // Out of the folder, to a folder that others may write; made at the top, so that the way
  // there passes no folder of this machine but "/".
  const TemporaryDirectory outside("/");
  const auto elsewhere = outside.write("open/elsewhere.json", R"({"organizationId":"org-1"})");
  ::chmod(outside.path().c_str(), 0755);
  ::chmod(elsewhere.parent_path().c_str(), 0777);
  struct Case {
    const char* name;
    std::function<void()> prepare;
    std::string ignoredBecause;  // empty: the forced value is used and no line is written
  } cases[] = {
      {"RootsFile", [] {}, ""},
      {"GroupWritable", [&] { ::chmod(file.c_str(), 0664); }, "writable by group or others"},
      {"OtherOwner", [&] { ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0); },
       "not owned by root"},
      {"WritableFolder", [&] { ::chmod(managed.c_str(), 0777); },
       "folder " + managedPreferencesFolder().string() + " is writable by group or others"},
      {"LinkOutOfTheFolder",
       [&] {
         std::filesystem::remove(file);
         std::filesystem::create_symlink(elsewhere, file);
       },
       "folder " + elsewhere.parent_path().string() + " is writable by group or others"},
      // Links are followed from root's folders only, wherever they lead.
      {"LinkWithinRootsFolders",
       [&] {
         folder.write("managed/real/policy.json", R"({"organizationId":"org-1"})");
         std::filesystem::remove(file);
         std::filesystem::create_symlink("real/policy.json", file);
       },
       ""},
      {"LinkThroughAnotherAccountsFolder",
       [&] {
         // Their link leads back to a root's file: only the way there betrays it.
         folder.write("managed/real/policy.json", R"({"organizationId":"org-1"})");
         std::filesystem::create_directories(managed / "theirs");
         std::filesystem::create_symlink("../real/policy.json", managed / "theirs/policy.json");
         ASSERT_EQ(::chown((managed / "theirs").c_str(), 65534, 65534), 0);
         std::filesystem::remove(file);
         std::filesystem::create_symlink("theirs/policy.json", file);
       },
       "folder " + (managedPreferencesFolder() / "theirs").string() + " is not owned by root"},
      {"Fifo",
       [&] {
         std::filesystem::remove(file);
         ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
       },
       "not a regular file"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(file);
    folder.write(file.lexically_relative(folder.path()), R"({"organizationId":"org-1"})");
    ::chmod(managed.c_str(), 0755);
    ::chmod(file.c_str(), 0644);
    c.prepare();
    const auto [reply, log] = managedConfigWithForcedValues();
    EXPECT_EQ(reply, c.ignoredBecause.empty()
                         ? R"({"ok":true,"config":{"organizationId":"org-1"},"id":1})"
                         : R"({"ok":true,"config":{},"id":1})")
        << c.name;
    EXPECT_EQ(log.find(c.ignoredBecause.empty() ? "Ignored" : ignoredLine(c.ignoredBecause)) !=
                  std::string::npos,
              !c.ignoredBecause.empty())
        << c.name << "\n"
        << log;
  }
}

// Any account can mount a FUSE filesystem over a folder of its own, and its
// daemon reports whatever owner and mode it likes: bindfs here shows root's
// own files as they are, and they are refused for where they are.
TEST_F(ExtensionProcess, ForcedFileOnFuseIsIgnored) {
  if (!canMountManagedPreferences()) GTEST_SKIP() << "needs root for a private mount namespace";
  if (std::system("command -v bindfs >/dev/null") != 0) GTEST_SKIP() << "bindfs is not installed";
  const std::filesystem::path managed = folder.path() / "managed", plain = folder.path() / "plain";
  std::filesystem::rename(managed, plain);
  std::filesystem::create_directory(managed);
  if (std::system(("bindfs " + plain.string() + " " + managed.string()).c_str()) != 0) {
    GTEST_SKIP() << "no FUSE mount here (no /dev/fuse in this container?)";
  }
  struct Unmount {
    std::string at;
    ~Unmount() { EXPECT_EQ(std::system(("umount " + at).c_str()), 0); }
  } unmount{managed.string()};
  const auto [reply, log] = managedConfigWithForcedValues();
  EXPECT_EQ(reply, R"({"ok":true,"config":{},"id":1})");
  EXPECT_NE(log.find(ignoredLine("folder " + managedPreferencesFolder().string() +
                                 " is on a FUSE filesystem, which any account can mount")),
            std::string::npos)
      << log;
}

}  // namespace
}  // namespace ostrela::testing
