// The real OstrelaExtension over pipes, with a test agent on the agent's real
// port: the protocol as a browser speaks it, and every fault of the stream.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "core/json.h"
#include "platform/linux/file_preference_stores.h"
#include "platform/linux/managed_preferences_trust.h"
#include "platform/linux/native_messaging/frame_codec.h"
#include "platform/linux/native_messaging/host_process.h"
#include "shared/managed_configuration_key.h"
#include "tests/support/managed_namespace.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_agent.h"

namespace ostrela::testing {
namespace {

using linux_platform::encodeFrame;
using linux_platform::HostProcess;

using namespace std::chrono_literals;
using linux_platform::managedPreferencesFolder;

constexpr const char* kSecret = "do-not-log-this-secret";
constexpr const char* kMalformed =
    R"({"ok":false,"error":"Malformed native message: expected a JSON object"})";

constexpr const char* kManagedFile = "com.ostrela.safari-extension.extension.json";

class ExtensionProcess : public ::testing::Test {
 protected:
  ExtensionProcess() {
    folder.write(std::string("managed/") + kManagedFile, R"({"organizationId":"org-1"})");
    // What any user could write: it must have no effect.
    folder.write(std::string("forged/ostrela/managed-preferences/") + kManagedFile,
                 R"({"organizationId":"forged","apiToken":"forged"})");
    folder.write(linux_platform::FilePreferenceStores(
                     {folder.path() / "home"}, {folder.path() / "managed", false}, "")
                     .suiteFile(appGroupSuiteName),
                 std::string(R"({"agentRelaySecret":")") + kSecret + "\"}");
  }

  // With `forced`, in a mount namespace where folder/managed is the installed folder.
  std::unique_ptr<HostProcess> start(
      std::vector<std::string> arguments = {"chrome-extension://abcdefghijklmnop/"},
      bool forced = false) {
    const Command command = forced ? withManagedPreferences(folder.path() / "managed",
                                                            OSTRELA_EXTENSION_PATH, arguments)
                                   : Command{OSTRELA_EXTENSION_PATH, arguments};
    return std::make_unique<HostProcess>(
        command.executable, command.arguments,
        std::vector<std::string>{"XDG_CONFIG_HOME=" + (folder.path() / "home").string(),
                                 "XDG_CONFIG_DIRS=" + (folder.path() / "forged").string(),
                                 "OSTRELA_LOG_LEVEL=debug", "OSTRELA_LOG_PRIVATE=1"});
  }

  static std::string relayed(const std::string& type, const std::string& id) {
    const char* host = type == "scrub" ? "com.ostrela.redaction_host" : "com.ostrela.ldap_host";
    return R"({"type":")" + type + R"(","host":")" + host + R"(","id":")" + id + "\"}";
  }

  static std::string idOf(const std::string& reply) {
    const auto value = decodeJson(reply);
    const AnyValue* id = member(value, "id");
    return id && id->isString() ? *id->asString() : "<none>";
  }

  TemporaryDirectory folder;
  TestAgent agent{47653};
};

TEST_F(ExtensionProcess, RepliesInCompletionOrderOnOneConnection) {
  if (!canMountManagedPreferences()) GTEST_SKIP() << "needs root for a private mount namespace";
  agent.answer([](const RecordedRequest& request) {
    const auto message = decodeJson(request.body);
    const std::string id = *member(message, "id")->asString();
    auto answer = AgentAnswer::json(200, R"({"ok":true,"id":"agent"})");
    answer.delay = id == "slow" ? 400ms : 50ms;
    return answer;
  });
  auto host = start({"chrome-extension://abcdefghijklmnop/"}, true);
  host->writeFrame(relayed("getLdap", "slow"));
  host->writeFrame(relayed("getToken", "quick"));
  host->writeFrame(R"({"type":"getManagedConfig","id":"local"})");
  host->closeInput();
  const auto replies = host->readAllFrames(5s);
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(idOf(replies[0]), "local");
  EXPECT_EQ(replies[0], R"({"ok":true,"config":{"organizationId":"org-1"},"id":"local"})");
  EXPECT_EQ(idOf(replies[1]), "quick");
  EXPECT_EQ(idOf(replies[2]), "slow");
  EXPECT_EQ(host->wait(5s), 0);

  // The secret went to the agent, and nowhere into the log, even with private logging on.
  ASSERT_EQ(agent.requests().size(), 2u);
  EXPECT_EQ(*agent.requests()[0].header("Authorization"), std::string("Bearer ") + kSecret);
  const std::string log = host->errorOutput();
  EXPECT_NE(log.find("Relayed 'getLdap': ok"), std::string::npos) << log;
  EXPECT_EQ(log.find(kSecret), std::string::npos) << log;
}

TEST_F(ExtensionProcess, StreamFaults) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> replies;
  } cases[] = {
      {"EmptyInput", "", {}},
      {"ShortHeader", std::string("\x07\x00", 2), {}},
      {"EmptyBody", encodeFrame(""), {kMalformed}},
      {"ShortBody", encodeFrame(R"({"type":"x","id":1})").substr(0, 10), {}},
      {"InvalidJSON",
       encodeFrame("{\"type\":") + encodeFrame("\xff\xfe") + encodeFrame("7"),
       {kMalformed, kMalformed, kMalformed}},
      {"InvalidLength",
       encodeFrame(R"({"type":"x","id":1})") + std::string("\xff\xff\xff\xff", 4) +
           encodeFrame(R"({"type":"x","id":2})"),
       {R"({"ok":false,"error":"Unknown native message type 'x'","id":1})", kMalformed}},
  };
  for (const auto& c : cases) {
    auto host = start({"/path/to/manifest.json", "ostrela@example.org"});  // as Firefox starts it
    host->writeBytes(c.input);
    host->closeInput();
    EXPECT_EQ(host->readAllFrames(3s), c.replies) << c.name;
    EXPECT_EQ(host->wait(3s), 0) << c.name;
  }
}

TEST_F(ExtensionProcess, EndOfInputWaitsForRelaysInFlight) {
  auto answer = AgentAnswer::json(200, R"({"ok":false,"error":"no such user"})");
  answer.delay = 500ms;
  agent.answer(answer);
  auto host = start();
  host->writeFrame(relayed("getLdap", "in-flight"));
  host->closeInput();
  const auto reply = host->readFrame(5s);
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, R"({"ok":false,"error":"no such user","id":"in-flight"})");
  EXPECT_EQ(host->wait(5s), 0);
  EXPECT_NE(host->errorOutput().find("Relayed 'getLdap': no such user"), std::string::npos);
}

TEST_F(ExtensionProcess, ClosedOutputNeverKillsTheProcess) {
  auto answer = AgentAnswer::json(200, R"({"ok":true})");
  answer.delay = 300ms;
  agent.answer(answer);
  auto host = start();
  host->writeFrame(relayed("scrub", "late"));
  host->closeOutput();  // the browser went away before the reply
  host->writeFrame(R"({"type":"getManagedConfig"})");
  host->closeInput();
  EXPECT_EQ(host->wait(5s), 0);  // not 128 + SIGPIPE
  EXPECT_TRUE(agent.waitForRequests(1, 1s));
}

TEST_F(ExtensionProcess, AgentReplyTooLargeForTheBrowserIsReplaced) {
  const std::string big(2 * 1024 * 1024, 'x');
  agent.answer(AgentAnswer::json(200, R"({"ok":true,"blob":")" + big + "\"}"));
  auto host = start();
  host->writeFrame(relayed("getToken", "big"));
  host->writeFrame(relayed("getToken", "also-big"));
  host->closeInput();
  const auto replies = host->readAllFrames(5s);
  ASSERT_EQ(replies.size(), 2u);
  for (const auto& reply : replies) {
    const std::string expectedSize = std::to_string(big.size() + 21 + idOf(reply).size() + 8);
    EXPECT_EQ(reply, R"x({"ok":false,"error":"The reply is too large for the browser ()x" +
                         expectedSize + R"x( bytes)","id":")x" + idOf(reply) + "\"}");
  }
  EXPECT_EQ(host->wait(5s), 0);
  EXPECT_NE(host->errorOutput().find("error: Replaced a reply of"), std::string::npos);
}

TEST_F(ExtensionProcess, ForcedValuesOnlyFromRootsFilesInTheInstalledFolder) {
  if (!canMountManagedPreferences()) GTEST_SKIP() << "needs root for a private mount namespace";
  const std::filesystem::path managed = folder.path() / "managed";
  const std::filesystem::path file = managed / kManagedFile;
  const std::string elsewhere = folder.write("elsewhere.json", R"({"organizationId":"org-1"})");
  const std::string org1 = R"({"ok":true,"config":{"organizationId":"org-1"},"id":1})";
  const std::string none = R"({"ok":true,"config":{},"id":1})";
  struct Case {
    const char* name;
    std::function<void()> prepare;
    std::string reply;
    std::string ignoredBecause;  // empty: no line
  } cases[] = {
      {"RootsFile", [] {}, org1, ""},
      {"GroupWritable", [&] { ::chmod(file.c_str(), 0664); }, none, "writable by group or others"},
      {"OtherOwner", [&] { ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0); }, none,
       "not owned by root"},
      {"WritableFolder", [&] { ::chmod(managed.c_str(), 0777); }, none,
       "folder " + managedPreferencesFolder().string() + " is writable by group or others"},
      {"LinkOutOfTheFolder",
       [&] {
         std::filesystem::remove(file);
         std::filesystem::create_symlink(elsewhere, file);
       },
       none, "folder " + folder.path().parent_path().string() + " is writable by group or others"},
      {"Fifo",
       [&] {
         std::filesystem::remove(file);
         ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
       },
       none, "not a regular file"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(file);
    folder.write(file.lexically_relative(folder.path()), R"({"organizationId":"org-1"})");
    ::chmod(managed.c_str(), 0755);
    ::chmod(file.c_str(), 0644);
    c.prepare();
    auto host = start({"chrome-extension://abcdefghijklmnop/"}, true);
    host->writeFrame(R"({"type":"getManagedConfig","id":1})");
    host->closeInput();
    EXPECT_EQ(host->readFrame(5s).value_or("<none>"), c.reply) << c.name;
    EXPECT_EQ(host->wait(5s), 0) << c.name;
    const std::string log = host->errorOutput();
    const std::string line = "error: Ignored managed preferences " +
                             (managedPreferencesFolder() / kManagedFile).string() + ": " +
                             c.ignoredBecause + "\n";
    EXPECT_EQ(log.find(c.ignoredBecause.empty() ? "Ignored" : line) != std::string::npos,
              !c.ignoredBecause.empty())
        << c.name << "\n"
        << log;
  }
}

}  // namespace
}  // namespace ostrela::testing
