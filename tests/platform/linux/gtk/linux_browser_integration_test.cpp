#include "platform/linux/gtk/linux_browser_integration.h"

#include <sys/wait.h>

#include <cerrno>
#include <fstream>
#include <future>

#include <gtest/gtest.h>

#include "tests/platform/linux/browsers/browser_test_support.h"

namespace ostrela::linux_platform {
namespace {

constexpr const char* kExtension = "com.ostrela.safari-extension.extension";

class LinuxBrowserIntegrationTest : public ::testing::Test {
 protected:
  // "enabled", "disabled" or the error's text, and whether the answer came off this thread.
  std::pair<std::string, bool> state(const char* identifier = kExtension) {
    std::promise<std::pair<std::string, bool>> answer;
    integration_.getStateOfExtension(identifier, [&answer](ExtensionStateResult result) {
      const bool elsewhere = std::this_thread::get_id() != testThread();
      if (const auto* state = std::get_if<ExtensionState>(&result)) {
        answer.set_value({state->isEnabled ? "enabled" : "disabled", elsewhere});
      } else {
        answer.set_value({std::get<BrowserIntegrationError>(result).message, elsewhere});
      }
    });
    return answer.get_future().get();
  }

  // "" when the settings were shown, else the error's text.
  std::string showSettings(const char* identifier = kExtension) {
    std::promise<std::string> answer;
    integration_.showPreferencesForExtension(
        identifier, [&answer](std::optional<BrowserIntegrationError> error) {
          answer.set_value(error ? error->message : "");
        });
    return answer.get_future().get();
  }

  static std::thread::id testThread() {
    static const std::thread::id id = std::this_thread::get_id();
    return id;
  }

  FakeDesktop desktop_;
  LinuxBrowserIntegration integration_{
      kExtension, {"com.ostrela.ldap_host", "com.ostrela.redaction_host"}, desktop_.environment()};
};

std::string waitForFile(const std::filesystem::path& path) {
  // The shell creates the file before it writes the line: wait for the line.
  std::error_code error;
  for (int i = 0; i < 500 && (std::filesystem::file_size(path, error) == 0 || error); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

TEST_F(LinuxBrowserIntegrationTest, StateFollowsTheRegistrationAndArrivesOffTheCallersThread) {
  testThread();
  desktop_.install("chromium");
  EXPECT_EQ(state(), std::make_pair(std::string("disabled"), true));
  desktop_.registerHost("config/chromium/NativeMessagingHosts/com.ostrela.redaction_host.json",
                        "com.ostrela.redaction_host");
  EXPECT_EQ(state(), std::make_pair(std::string("enabled"), true));
}

TEST_F(LinuxBrowserIntegrationTest, OtherExtensionsAreErrors) {
  EXPECT_EQ(state("com.example.other").first, "Unknown extension 'com.example.other'");
  EXPECT_EQ(showSettings("com.example.other"), "Unknown extension 'com.example.other'");
}

TEST_F(LinuxBrowserIntegrationTest, ShowsSettingsInTheRegisteredBrowserWithoutWaitingForIt) {
  const auto chromium = desktop_.install("chromium");
  desktop_.install("firefox");
  // Without a registration, the first installed browser opens its extensions page.
  EXPECT_EQ(showSettings(), "");
  EXPECT_EQ(waitForFile(chromium.string() + ".args"), "chrome://extensions/");
  std::filesystem::remove(chromium.string() + ".args");
  desktop_.registerHost("home/.mozilla/native-messaging-hosts/com.ostrela.ldap_host.json",
                        "com.ostrela.ldap_host",
                        R"("allowed_extensions": ["ostrela@example.com"])");
  EXPECT_EQ(showSettings(), "");
  EXPECT_EQ(waitForFile(desktop_.path() / "bin/firefox.args"), "about:addons");
  EXPECT_FALSE(std::filesystem::exists(chromium.string() + ".args"));
  // The browser is not our child: nothing is left for this process to reap.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(LinuxBrowserIntegrationTest, ReportsWhenNoBrowserCanBeStarted) {
  EXPECT_EQ(showSettings(), "No supported browser is installed");
  desktop_.install("chromium", "#!/nonexistent/interpreter\n");
  EXPECT_TRUE(showSettings().starts_with("Cannot start Chromium: ")) << showSettings();
}

}  // namespace
}  // namespace ostrela::linux_platform
