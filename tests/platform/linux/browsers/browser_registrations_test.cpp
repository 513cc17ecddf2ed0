#include "platform/linux/browsers/browser_registrations.h"

#include <gtest/gtest.h>

#include "tests/platform/linux/browsers/browser_test_support.h"

namespace ostrela::linux_platform {
namespace {

const std::vector<std::string> kHosts{"com.ostrela.ldap_host", "com.ostrela.redaction_host"};
constexpr const char* kChromiumUserFolder = "config/chromium/NativeMessagingHosts/";

std::string describe(const std::optional<InstalledBrowser>& browser) {
  return browser ? browser->name + " " + browser->settingsPage : "none";
}

class BrowserRegistrationsTest : public ::testing::Test {
 protected:
  std::string registered() const {
    return describe(findRegisteredBrowser(desktop_.environment(), kHosts));
  }
  FakeDesktop desktop_;
};

TEST_F(BrowserRegistrationsTest, SystemFoldersCountToo) {
  desktop_.install("firefox-esr");
  desktop_.registerHost(
      "root/usr/lib/mozilla/native-messaging-hosts/com.ostrela.redaction_host.json",
      "com.ostrela.redaction_host", R"("allowed_extensions": ["ostrela@example.com"])");
  EXPECT_EQ(registered(), "Firefox about:addons");

  desktop_.install("google-chrome");
  desktop_.registerHost("root/etc/opt/chrome/native-messaging-hosts/com.ostrela.ldap_host.json",
                        "com.ostrela.ldap_host");
  EXPECT_EQ(registered(), "Google Chrome chrome://extensions/?id=abcdefghijklmnopabcdefghijklmnop");
}

TEST_F(BrowserRegistrationsTest, AManifestOfABrowserThatIsNotInstalledDoesNotCount) {
  desktop_.install("firefox");
  desktop_.registerHost(std::string(kChromiumUserFolder) + "com.ostrela.ldap_host.json",
                        "com.ostrela.ldap_host");
  EXPECT_EQ(registered(), "none");
  // A file that is not executable is no browser either.
  desktop_.write("bin/chromium", "#!/bin/sh\n");
  EXPECT_EQ(registered(), "none");
}

TEST_F(BrowserRegistrationsTest, ManifestsThatCannotStartTheHostDoNotCount) {
  desktop_.install("chromium");
  const std::string file = std::string(kChromiumUserFolder) + "com.ostrela.ldap_host.json";
  const std::string origins = std::string(R"("allowed_origins": [")") + kExtensionOrigin + "\"]";
  const std::string host = desktop_.executable("opt/host", "#!/bin/sh\n").string();
  desktop_.write("opt/data", "");
  const auto manifest = [&](const char* name, const char* type, const std::string& path,
                            const char* allowed = nullptr) {
    return std::string("{\"name\": \"") + name + "\", \"type\": \"" + type + "\", \"path\": \"" +
           path + "\", " + (allowed ? allowed : origins) + "}";
  };
  const char* ldap = "com.ostrela.ldap_host";
  const std::vector<std::string> broken{
      "not json",
      R"(["an array"])",
      manifest("com.ostrela.other", "stdio", host),
      manifest(ldap, "socket", host),
      manifest(ldap, "stdio", "opt/host"),
      manifest(ldap, "stdio", (desktop_.path() / "opt/data").string()),  // not executable
      manifest(ldap, "stdio", "/nonexistent/host"),
      manifest(ldap, "stdio", host, R"("allowed_origins": [])"),
      manifest(ldap, "stdio", host, R"("allowed_extensions": ["x@y"])"),
  };
  for (const std::string& text : broken) {
    desktop_.write(file, text);
    EXPECT_EQ(registered(), "none") << text;
  }
  desktop_.write(file, manifest(ldap, "stdio", host));
  EXPECT_NE(registered(), "none");
}

TEST_F(BrowserRegistrationsTest, SettingsPageNamesTheExtensionOnlyWhenItIsUnambiguous) {
  desktop_.install("chromium");
  const std::string file = std::string(kChromiumUserFolder) + "com.ostrela.ldap_host.json";
  for (
      const char* origins :
      {R"(["chrome-extension://abcdefghijklmnopabcdefghijklmnop/", "chrome-extension://pppppppppppppppppppppppppppppppp/"])",
       R"(["chrome-extension://ABCDEFGHIJKLMNOPABCDEFGHIJKLMNOP/"])",
       R"(["chrome-extension://abc/"])"}) {
    desktop_.registerHost(file, "com.ostrela.ldap_host",
                          std::string("\"allowed_origins\": ") + origins);
    EXPECT_EQ(registered(), "Chromium chrome://extensions/") << origins;
  }
}

// Each browser of the table, alone on a desktop, with a manifest in its per-user folder.
TEST_F(BrowserRegistrationsTest, EachBrowserOfTheTableIsFoundByItsProgramAndFolder) {
  for (const Browser& browser : browserTable()) {
    FakeDesktop desktop;
    desktop.install(browser.executables.back());
    const auto base = browser.userFolderBase == UserFolderBase::configHome ? "config/" : "home/";
    const bool firefox = browser.family == BrowserFamily::firefox;
    desktop.registerHost(
        base + browser.userManifestFolder + "/com.ostrela.ldap_host.json", "com.ostrela.ldap_host",
        firefox ? R"("allowed_extensions": ["ostrela@example.com"])"
                : std::string("\"allowed_origins\": [\"") + kExtensionOrigin + "\"]");
    EXPECT_EQ(describe(findRegisteredBrowser(desktop.environment(), kHosts)),
              browser.name + " " + browser.extensionsPage +
                  (firefox ? "" : "?id=abcdefghijklmnopabcdefghijklmnop"));
  }
}

TEST_F(BrowserRegistrationsTest, ChromiumIsPreferredAndTheFirstInstalledBrowserIsTheFallback) {
  EXPECT_EQ(describe(findInstalledBrowser(desktop_.environment())), "none");
  desktop_.install("firefox");
  EXPECT_EQ(describe(findInstalledBrowser(desktop_.environment())), "Firefox about:addons");
  desktop_.executable("usr-bin/chromium-browser", "#!/bin/sh\n");
  EXPECT_EQ(describe(findInstalledBrowser(desktop_.environment())),
            "Chromium chrome://extensions/");

  desktop_.registerHost("home/.mozilla/native-messaging-hosts/com.ostrela.ldap_host.json",
                        "com.ostrela.ldap_host",
                        R"("allowed_extensions": ["ostrela@example.com"])");
  EXPECT_EQ(registered(), "Firefox about:addons");
  desktop_.registerHost(std::string(kChromiumUserFolder) + "com.ostrela.redaction_host.json",
                        "com.ostrela.redaction_host");
  EXPECT_EQ(registered(), "Chromium chrome://extensions/?id=abcdefghijklmnopabcdefghijklmnop");
}

}  // namespace
}  // namespace ostrela::linux_platform
