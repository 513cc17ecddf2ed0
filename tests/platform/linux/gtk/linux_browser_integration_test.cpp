#include "platform/linux/gtk/linux_browser_integration.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <future>

#include <gtest/gtest.h>

#include "tests/platform/linux/browsers/browser_test_support.h"

namespace ostrela::linux_platform {
namespace {

constexpr const char* kExtension = "com.ostrela.safari-extension.extension";

class LinuxBrowserIntegrationTest : public ::testing::Test {
 protected:
  // "on: <description>", "off: <description>" or the error's text, and whether the answer
  // came off this thread.
  std::pair<std::string, bool> state(const char* identifier = kExtension) {
    std::promise<std::pair<std::string, bool>> answer;
    integration_.getStateOfExtension(identifier, [&answer](ExtensionStateResult result) {
      const bool elsewhere = std::this_thread::get_id() != testThread();
      if (const auto* state = std::get_if<ExtensionState>(&result)) {
        answer.set_value({(state->isEnabled ? "on: " : "off: ") + state->description, elsewhere});
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

// Makes the fake browser's record of its arguments a FIFO, and returns a reader that waits
// for the browser to write its line and close (a guard of 60 s against a hang).
std::function<std::string()> argumentsOf(const std::filesystem::path& program) {
  const std::string path = program.string() + ".args";
  EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
  return [path] {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    std::string text;
    char buffer[256];
    for (pollfd ready{fd, POLLIN, 0}; ::poll(&ready, 1, 60'000) == 1;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0 && !(n < 0 && errno == EAGAIN)) break;
      if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::filesystem::remove(path);
    return text.substr(0, text.find('\n'));
  };
}

TEST_F(LinuxBrowserIntegrationTest, StateFollowsTheBrowsersRecordAndArrivesOffTheCallersThread) {
  testThread();
  desktop_.install("chromium");
  desktop_.registerHost("config/chromium/NativeMessagingHosts/com.ostrela.redaction_host.json",
                        "com.ostrela.redaction_host");
  // A manifest alone is no extension.
  EXPECT_EQ(state(), std::make_pair(std::string("off: The Ostrela extension is not installed in "
                                                "Chromium."),
                                    true));
  desktop_.write("config/chromium/Default/Preferences",
                 R"({"extensions":{"settings":{"abcdefghijklmnopabcdefghijklmnop":{"state":1}}}})");
  EXPECT_EQ(state().first, "on: Chromium has the Ostrela extension on.");
  desktop_.write("config/chromium/Default/Preferences", "{\"extensions\":");
  EXPECT_EQ(state().first, "Cannot tell whether Chromium has the Ostrela extension on: " +
                               (desktop_.path() / "config/chromium/Default/Preferences").string() +
                               ": not what the browser writes");
}

TEST_F(LinuxBrowserIntegrationTest, OtherExtensionsAreErrors) {
  EXPECT_EQ(state("com.example.other").first, "Unknown extension 'com.example.other'");
  EXPECT_EQ(showSettings("com.example.other"), "Unknown extension 'com.example.other'");
}

TEST_F(LinuxBrowserIntegrationTest, ShowsSettingsInTheRegisteredBrowserWithoutWaitingForIt) {
  const auto chromium = desktop_.install("chromium");
  const auto firefox = desktop_.install("firefox");
  // Without a registration, the first installed browser opens its extensions page.
  auto chromiumArguments = argumentsOf(chromium);
  EXPECT_EQ(showSettings(), "");
  EXPECT_EQ(chromiumArguments(), "chrome://extensions/");
  desktop_.registerHost("home/.mozilla/native-messaging-hosts/com.ostrela.ldap_host.json",
                        "com.ostrela.ldap_host",
                        R"("allowed_extensions": ["ostrela@example.com"])");
  auto firefoxArguments = argumentsOf(firefox);
  EXPECT_EQ(showSettings(), "");
  EXPECT_EQ(firefoxArguments(), "about:addons");
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
