// ostrela-doctor on broken machines: each row breaks one thing of a machine
// where everything works and names the line the check must print. Real files,
// the real host for the round trips, real listeners on the agent's port.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "doctor/trial_limits.h"
#include "extension/relay/agent_url.h"
#include "platform/linux/native_messaging/native_host_process.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "shared/managed_configuration_key.h"
#include "tests/support/flooding_host.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/managed_namespace.h"
#include "tests/support/proc_status.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_agent.h"

namespace ostrela {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryDirectory;

constexpr const char* kChromeId = "ekfgpjddkkddijfidbnihfiiebjmbofb";
constexpr const char* kPolicy = R"({"organizationName":"Acme","machineId":"m-1","apiToken":"t"})";
constexpr const char* kPolicyFile = "com.ostrela.safari-extension.extension.json";
// The user the check is run as: an account of its own, with no entry in /etc/passwd.
constexpr uid_t kUser = 4242;
constexpr const char* kCopy =
    R"({"organizationName":"Acme","machineId":"m-1","agentRelaySecret":"s"})";

struct Machine {
  TemporaryDirectory root;
  fs::path home() const { return root.path() / "home"; }
  fs::path managed() const { return root.path() / "managed"; }
  fs::path appGroup() const {
    return linux_platform::FilePreferenceStores({home() / ".config"}, {}, "")
        .suiteFile(appGroupSuiteName);
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
  void copy(const char* text) { root.write(fs::relative(appGroup(), root.path()), text); }
  // Chromium's own record of the extension in the user's profile.
  void extensionIn(const char* record) const {
    root.write("home/.config/chromium/Default/Preferences",
               std::string(R"({"extensions":{"settings":{")") + kChromeId + "\":" + record + "}}}");
  }
  // The user's home becomes the user's (root wrote it), the rest stays root's.
  void handOver() const {
    fs::permissions(root.path(), fs::perms(0755));
    for (const auto& entry : fs::recursive_directory_iterator(home())) {
      ASSERT_EQ(::lchown(entry.path().c_str(), kUser, kUser), 0);
    }
    ASSERT_EQ(::lchown(home().c_str(), kUser, kUser), 0);
  }
  Machine() {
    registerHost(OSTRELA_EXTENSION_PATH);
    extensionIn(R"({"state":1})");
    root.write("managed/" + std::string(kPolicyFile), kPolicy);
    root.write("managed/com.ostrela.safari-extension.json", kPolicy);  // what OstrelaHost publishes
    fs::permissions(managed(), fs::perms(0755));
    copy(kCopy);
    fs::permissions(appGroup(), fs::perms(0600));
  }
};

struct DoctorRun {
  int status = -1;
  std::string output;
};

// The doctor's report, which it writes to stdout, arrives as the harness's stderr capture.
// It runs as `account` (root stays root), with the machine's home.
DoctorRun runDoctor(const Machine& machine, uid_t account = kUser,
                    const std::string& program = OSTRELA_DOCTOR_PATH,
                    std::vector<std::string> programArguments = {}) {
  std::vector<std::string> asAccount{"--reuid=" + std::to_string(account),
                                     "--regid=" + std::to_string(account), "--clear-groups",
                                     program};
  asAccount.insert(asAccount.end(), programArguments.begin(), programArguments.end());
  machine.handOver();
  const auto command =
      testing::withManagedPreferences(machine.managed(), "/usr/bin/setpriv", asAccount);
  std::vector<std::string> arguments{"-c", "exec \"$0\" \"$@\" 1>&2", command.executable};
  arguments.insert(arguments.end(), command.arguments.begin(), command.arguments.end());
  linux_platform::NativeHostProcess doctor(
      "/bin/sh", arguments,
      {"HOME=" + machine.home().string(),
       "XDG_CONFIG_HOME=" + (machine.home() / ".config").string(), "PATH=/usr/bin:/bin"});
  const int status = doctor.wait(std::chrono::seconds(60));
  return {status, doctor.errorOutput()};
}

// Or the account of a listener on the agent's port.
constexpr int kNoAgent = -1, kTestAgent = -2, kFullQueue = -3;

struct BrokenMachine {
  const char* name;
  std::function<void(Machine&)> breakIt;
  const char* expectedLine;
  int agent = kTestAgent;
};

TEST(OstrelaDoctor, ReportsEachBrokenMachineWithItsLine) {
  if (!testing::canMountManagedPreferences()) GTEST_SKIP() << "needs root for a mount namespace";
  const auto policy = [](const char* text) {
    return [text](Machine& m) { m.root.write("managed/" + std::string(kPolicyFile), text); };
  };
  const std::vector<BrokenMachine> table = {
      {"healthy", [](Machine&) {}, "[ ok ] agent: answers HTTP"},
      {"extension turned off", [](Machine& m) { m.extensionIn(R"({"disable_reasons":[1]})"); },
       "[FAIL] extension: Chromium has the Ostrela extension installed but turned off."},
      {"no manifest", [](Machine& m) { m.unregister(); },
       "[FAIL] Chromium: no manifest for com.ostrela.ldap_host"},
      {"host leaves a child holding its pipes",
       [](Machine& m) {
         m.registerHost(
             m.root.writeScript("host", "(sleep 100 &)\nexec " OSTRELA_EXTENSION_PATH " \"$@\""));
       },
       "[ ok ] Chromium: getManagedConfig round trip answered"},
      {"host keeps writing after its reply",
       [](Machine& m) { m.registerHost(testing::writeFloodingHost(m.root)); },
       "[FAIL] Chromium: getManagedConfig round trip: the host kept writing after its replies; "
       "ended it"},
      {"manifest names a missing file",
       [](Machine& m) { m.registerHost("/nonexistent/OstrelaExtension"); },
       "[FAIL] Chromium: /nonexistent/OstrelaExtension: missing"},
      {"unparseable policy", policy("{x"), "extension.json is not a JSON object"},
      {"policy writable by others",
       [](Machine& m) { fs::permissions(m.managed() / kPolicyFile, fs::perms(0666)); },
       "extension.json is ignored: writable by group or others"},
      {"policy through another account's folder",
       [](Machine& m) {
         m.root.write("managed/real.json", kPolicy);
         fs::create_directory(m.managed() / "theirs");
         fs::create_symlink("../real.json", m.managed() / "theirs/policy.json");
         ASSERT_EQ(::chown((m.managed() / "theirs").c_str(), 65534, 65534), 0);
         fs::remove(m.managed() / kPolicyFile);
         fs::create_symlink("theirs/policy.json", m.managed() / kPolicyFile);
       },
       "extension.json is ignored: folder " OSTRELA_MANAGED_PREFERENCES_DIR
       "/theirs is not owned by root"},
      {"wrong value types",
       policy(R"({"organizationName":7,"enabledServices":"mail","endpoint":""})"),
       "[FAIL] managed preferences: organizationName: not accepted (a number, not a non-empty "
       "string)"},
      {"no App Group store", [](Machine& m) { fs::remove(m.appGroup()); },
       "[FAIL] App Group: no store at"},
      {"stale copy",
       [](Machine& m) {
         m.copy(R"({"organizationName":"Old","machineId":"m-1","agentRelaySecret":"s"})");
       },
       "[FAIL] App Group: configuration copy is stale (organizationName)\n       -> open "
       "OstrelaHost to publish it again"},
      {"no agent", [](Machine&) {}, "[FAIL] agent: nothing listens on 127.0.0.1:47653", kNoAgent},
      {"agent that accepts nothing", [](Machine&) {},
       "[FAIL] agent: 127.0.0.1:47653 listens (account root) but accepts no connection",
       kFullQueue},
      {"agent of another account", [](Machine&) {},
       "[FAIL] agent: 127.0.0.1:47653 (account nobody): the listening process belongs to another "
       "user",
       65534},
  };
  for (const BrokenMachine& row : table) {
    SCOPED_TRACE(row.name);
    Machine machine;
    row.breakIt(machine);
    std::unique_ptr<testing::TestAgent> agent;
    std::unique_ptr<testing::ForkedListener> otherAccount;
    std::optional<testing::FullListener> stuck;
    if (row.agent == kTestAgent) agent = std::make_unique<testing::TestAgent>(kAgentPort);
    if (row.agent == kFullQueue) stuck = testing::fullListener(kAgentPort);
    if (row.agent >= 0)
      otherAccount = std::make_unique<testing::ForkedListener>(row.agent, 1, kAgentPort);
    const DoctorRun run = runDoctor(machine);
    if (otherAccount) {
      EXPECT_TRUE(otherAccount->receivedNothing()) << "not even a request line";
    }
    EXPECT_NE(run.output.find(row.expectedLine), std::string::npos) << run.output;
    const bool works = std::string_view(row.expectedLine).starts_with("[ ok ]");
    EXPECT_EQ(run.status, works ? 0 : 1) << run.output;
  }
  EXPECT_LT(testing::largestReapedChildPeak(), testing::kPeakMemoryBoundKiB)
      << "KiB, the doctor's peak among them (a host kept writing)";
}

// A host that never answers, registered for every browser but Firefox under
// both names, is tried once and ended at the trial's limit, and every one of
// its registrations says so. Firefox's program answers only while that host
// still runs: the trials run side by side.
TEST(OstrelaDoctor, TriesEachProgramOnceAllSideBySide) {
  if (!testing::canMountManagedPreferences()) GTEST_SKIP() << "needs root for a mount namespace";
  Machine machine;
  const std::string pid = (machine.home() / "hanging.pid").string();
  machine.registerHost(machine.root.writeScript(
      "alongside", "until [ -s " + pid + " ]; do sleep 0.01; done\nkill -0 $(cat " + pid +
                       ") && exec " OSTRELA_EXTENSION_PATH));
  fs::rename(machine.home() / ".mozilla", machine.home() / "mozilla");
  machine.registerHost(
      machine.root.writeScript("hang", "echo >> " + (machine.home() / "starts").string() +
                                           "\necho $$ > " + pid + "\nexec sleep 1000"));
  fs::remove_all(machine.home() / ".mozilla");
  fs::rename(machine.home() / "mozilla", machine.home() / ".mozilla");
  const auto begun = std::chrono::steady_clock::now();
  const DoctorRun run = runDoctor(machine, kUser, OSTRELA_DOCTOR_PATH, {"--json"});
  EXPECT_GE(std::chrono::steady_clock::now() - begun, doctor::kRoundTripLimit);
  EXPECT_EQ(run.status, 1) << run.output;  // not kStillRunning: it ended within runDoctor's guard
  const std::string line = "round trip: the host did not finish within 5000 ms; ended it";
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = run.output.find(line, at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 10u) << run.output;                      // five browsers, two host names
  EXPECT_EQ(fs::file_size(machine.home() / "starts"), 1u);  // one line: started once
  EXPECT_NE(run.output.find("round trip answered"), std::string::npos) << run.output;  // Firefox
}

// Run as root with a user's HOME, neither the check nor the client starts the
// program that the user's manifests name; the check says why it skipped them.
TEST(OstrelaDoctor, RootStartsNothingThatAUsersManifestNames) {
  if (!testing::canMountManagedPreferences()) GTEST_SKIP() << "needs root for a mount namespace";
  Machine machine;
  const auto marker = machine.root.path() / "started";
  machine.registerHost(machine.root.writeScript("user-program", "id -u > " + marker.string()));
  const DoctorRun doctor = runDoctor(machine, 0);
  EXPECT_NE(doctor.output.find("[    ] browsers: per-user manifest folders are not read as root"),
            std::string::npos)
      << doctor.output;
  const DoctorRun client = runDoctor(machine, 0, OSTRELA_NATIVE_CLIENT_PATH, {"{}"});
  EXPECT_NE(client.output.find("no manifest for com.ostrela.ldap_host"), std::string::npos)
      << client.output;
  EXPECT_FALSE(fs::exists(marker));
}

}  // namespace
}  // namespace ostrela
