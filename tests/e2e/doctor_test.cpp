// ostrela-doctor on broken machines: each row breaks one thing of a machine
// where everything works and names the line the check must print. Real files,
// the real host for the round trips, real listeners on the agent's port.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/managed_namespace.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_agent.h"

namespace ostrela {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryDirectory;

constexpr const char* kChromeId = "ekfgpjddkkddijfidbnihfiiebjmbofb";
constexpr const char* kPolicy = R"({"organizationName":"Acme","machineId":"m-1","apiToken":"t"})";
constexpr const char* kCopy =
    R"({"organizationName":"Acme","machineId":"m-1","agentRelaySecret":"s"})";

// A listener on the agent's port owned by the account `uid`, in a child
// process that exits when the test closes the pipe it waits on.
class ForeignListener {
 public:
  explicit ForeignListener(uid_t uid) {
    int ready[2];
    int stop[2];
    if (::pipe(ready) != 0 || ::pipe(stop) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(stop[1]);
      if (::setuid(uid) != 0) ::_exit(1);
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      const int on = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(47653);
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
          ::listen(fd, 4) != 0) {
        ::_exit(1);
      }
      char byte = 1;
      (void)!::write(ready[1], &byte, 1);
      (void)!::read(stop[0], &byte, 1);  // until the test closes its end
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(stop[0]);
    char byte = 0;
    listening_ = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    stop_ = stop[1];
  }
  ~ForeignListener() {
    ::close(stop_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  }
  bool listening() const { return listening_; }

 private:
  pid_t pid_ = -1;
  int stop_ = -1;
  bool listening_ = false;
};

struct Machine {
  TemporaryDirectory root;
  fs::path home() const { return root.path() / "home"; }
  fs::path managed() const { return root.path() / "managed"; }
  fs::path appGroup() const {
    return home() / ".config/ostrela/group-containers" /
           "K7W2RQ9D4F.group.com.ostrela.safari-extension/preferences.json";
  }
  void registerHost(const std::string& executable) const {
    const std::string command = "HOME=" + home().string() + " " OSTRELA_MANIFEST_TOOL +
                                std::string(" --user --chrome-id ") + kChromeId +
                                " --firefox-id doctor@ostrela.example --executable " + executable +
                                " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  void unregister() const {
    fs::remove_all(home() / ".config/chromium"), fs::remove_all(home() / ".config/google-chrome"),
        fs::remove_all(home() / ".mozilla");
  }
  Machine() {
    registerHost(OSTRELA_EXTENSION_PATH);
    fs::create_directories(managed());
    fs::permissions(managed(), fs::perms(0755));
    root.write("managed/com.ostrela.safari-extension.extension.json", kPolicy);
    root.write("managed/com.ostrela.safari-extension.json", kPolicy);  // what OstrelaHost publishes
    fs::create_directories(appGroup().parent_path());
    root.write(fs::relative(appGroup(), root.path()), kCopy);
    fs::permissions(appGroup(), fs::perms(0600));
  }
};

struct DoctorRun {
  int status = -1;
  std::string output;
};

DoctorRun runDoctor(const Machine& machine) {
  const auto command = testing::withManagedPreferences(machine.managed(), OSTRELA_DOCTOR_PATH);
  std::string line = "env HOME=" + machine.home().string() +
                     " XDG_CONFIG_HOME=" + (machine.home() / ".config").string() +
                     " PATH=/usr/bin:/bin " + command.executable;
  for (const auto& argument : command.arguments) line += " '" + argument + "'";
  DoctorRun run;
  FILE* pipe = ::popen((line + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

struct BrokenMachine {
  const char* name;
  std::function<void(Machine&)> breakIt;
  bool agentRuns;
  std::optional<uid_t> agentAccount;  // a listener of this account instead of the test agent
  const char* expectedLine;
  int expectedStatus;
};

TEST(OstrelaDoctor, ReportsEachBrokenMachineWithItsLine) {
  if (!testing::canMountManagedPreferences()) GTEST_SKIP() << "needs root for a mount namespace";
  const std::vector<BrokenMachine> table = {
      {"healthy", [](Machine&) {}, true, {}, "[ ok ] agent: answers HTTP", 0},
      {"no manifest",
       [](Machine& m) { m.unregister(); },
       true,
       {},
       "[FAIL] Chromium: no manifest for com.ostrela.ldap_host",
       1},
      {"manifest names a missing file",
       [](Machine& m) { m.registerHost("/nonexistent/OstrelaExtension"); },
       true,
       {},
       "[FAIL] Chromium: /nonexistent/OstrelaExtension: missing",
       1},
      {"unparseable policy",
       [](Machine& m) {
         m.root.write("managed/com.ostrela.safari-extension.extension.json", "{x");
       },
       true,
       {},
       "com.ostrela.safari-extension.extension.json is not a JSON object",
       1},
      {"policy writable by others",
       [](Machine& m) {
         fs::permissions(m.managed() / "com.ostrela.safari-extension.extension.json",
                         fs::perms(0666));
       },
       true,
       {},
       "com.ostrela.safari-extension.extension.json is ignored: writable by group or others",
       1},
      {"wrong value types",
       [](Machine& m) {
         m.root.write("managed/com.ostrela.safari-extension.extension.json",
                      R"({"organizationName":7,"enabledServices":"mail","endpoint":""})");
       },
       true,
       {},
       "[FAIL] managed preferences: organizationName: not accepted (a number, not a non-empty "
       "string)",
       1},
      {"no App Group store",
       [](Machine& m) { fs::remove(m.appGroup()); },
       true,
       {},
       "[FAIL] App Group: no store at",
       1},
      {"stale copy",
       [](Machine& m) {
         m.root.write(fs::relative(m.appGroup(), m.root.path()),
                      R"({"organizationName":"Old","machineId":"m-1","agentRelaySecret":"s"})");
       },
       true,
       {},
       "[FAIL] App Group: configuration copy is stale (organizationName)\n       -> open "
       "OstrelaHost to publish it again",
       1},
      {"no agent",
       [](Machine&) {},
       false,
       {},
       "[FAIL] agent: nothing listens on 127.0.0.1:47653",
       1},
      {"agent of another account", [](Machine&) {}, false, 65534,
       "[FAIL] agent: 127.0.0.1:47653 belongs to nobody: neither root nor this user", 1},
  };
  for (const BrokenMachine& row : table) {
    SCOPED_TRACE(row.name);
    Machine machine;
    row.breakIt(machine);
    std::unique_ptr<testing::TestAgent> agent;
    std::unique_ptr<ForeignListener> foreign;
    if (row.agentRuns) agent = std::make_unique<testing::TestAgent>(47653);
    if (row.agentAccount) {
      foreign = std::make_unique<ForeignListener>(*row.agentAccount);
      ASSERT_TRUE(foreign->listening());
    }
    const DoctorRun run = runDoctor(machine);
    EXPECT_NE(run.output.find(row.expectedLine), std::string::npos) << run.output;
    EXPECT_EQ(run.status, row.expectedStatus) << run.output;
  }
}

}  // namespace
}  // namespace ostrela
