// The browsers' records of the extension, read from real profile files in a
// temporary home.
#include "platform/linux/browsers/extension_records.h"

#include <gtest/gtest.h>

#include "tests/platform/linux/browsers/browser_test_support.h"

namespace ostrela::linux_platform {
namespace {

const std::vector<std::string> kHosts{"com.ostrela.ldap_host", "com.ostrela.redaction_host"};

std::string chromiumRecord(const char* record) {
  return std::string(R"({"extensions":{"settings":{"abcdefghijklmnopabcdefghijklmnop":)") + record +
         "}}}";
}

TEST(ExtensionRecords, EachBrowsersProfilesAreReadForTheIdsItKnows) {
  FakeDesktop desktop;
  const auto presence = [&] { return extensionPresence(desktop.environment(), kHosts).text; };
  desktop.install("chromium");
  EXPECT_EQ(presence(),
            "Cannot tell whether Chromium has the Ostrela extension on: no extension id is known "
            "for it");
  desktop.registerHost("config/chromium/NativeMessagingHosts/com.ostrela.ldap_host.json",
                       "com.ostrela.ldap_host");
  EXPECT_EQ(presence(), "The Ostrela extension is not installed in Chromium.");

  // A record reached through a link is refused, whatever it says.
  const auto elsewhere = desktop.path() / "elsewhere";
  desktop.write("elsewhere", chromiumRecord(R"({"state":1})"));
  std::filesystem::create_directories(desktop.path() / "config/chromium/Default");
  std::filesystem::create_symlink(elsewhere,
                                  desktop.path() / "config/chromium/Default/Preferences");
  const std::string link = (desktop.path() / "config/chromium/Default/Preferences").string();
  EXPECT_EQ(presence(), "Cannot tell whether Chromium has the Ostrela extension on: " + link +
                            ": not a regular file");
  std::filesystem::remove(link);
  desktop.write("config/chromium/Default/Preferences",
                chromiumRecord(R"({"disable_reasons":[1]})"));
  desktop.write("config/chromium/Profile 2/Preferences", R"({"extensions":{}})");
  EXPECT_EQ(presence(), "Chromium has the Ostrela extension installed but turned off.");

  // Firefox knows the id from the organisation's file, and has it on in its second profile.
  desktop.install("firefox");
  desktop.write("root/etc/ostrela/extension-ids",
                "chrome abcdefghijklmnopabcdefghijklmnop\n"
                "firefox ostrela@example.com\n");
  desktop.write("home/.mozilla/firefox/profiles.ini",
                "[Profile0]\nPath=a.default\n[Profile1]\nPath=b.work\nIsRelative=1\n");
  desktop.write("home/.mozilla/firefox/b.work/extensions.json",
                R"({"addons":[{"id":"ostrela@example.com","active":true}]})");
  EXPECT_EQ(presence(), "Firefox has the Ostrela extension on.");

  BrowserEnvironment asRoot = desktop.environment();
  asRoot.userFolders = false;
  EXPECT_EQ(extensionPresence(asRoot, kHosts).kind, ExtensionPresence::Kind::cannotTell);
}

}  // namespace
}  // namespace ostrela::linux_platform
