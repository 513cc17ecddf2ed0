#include "platform/linux/browser_registrations.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "platform/linux/preference_file.h"
#include "platform/linux/xdg_directories.h"

namespace ostrela::linux_platform {
namespace {

constexpr std::string_view kChromiumExtensionsPage = "chrome://extensions/";
constexpr std::string_view kFirefoxExtensionsPage = "about:addons";

bool isExecutableFile(const std::filesystem::path& path) {
  std::error_code ec;
  return path.is_absolute() && std::filesystem::is_regular_file(path, ec) &&
         ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::filesystem::path> findCommand(const KnownBrowser& browser,
                                                 const BrowserEnvironment& environment) {
  for (const std::string& command : browser.commands) {
    for (const auto& folder : environment.searchPath) {
      if (isExecutableFile(folder / command)) return folder / command;
    }
  }
  return std::nullopt;
}

std::string_view extensionsPage(BrowserFamily family) {
  return family == BrowserFamily::chromium ? kChromiumExtensionsPage : kFirefoxExtensionsPage;
}

// Chromium extension ids are 32 letters from 'a' to 'p'.
bool isChromiumExtensionId(std::string_view id) {
  return id.size() == 32 &&
         std::all_of(id.begin(), id.end(), [](char c) { return c >= 'a' && c <= 'p'; });
}

// The settings page for the one extension that `origins` allows, or the extensions page.
std::string chromiumSettingsPage(const AnyArray& origins) {
  constexpr std::string_view prefix = "chrome-extension://";
  if (origins.size() == 1 && origins[0].isString()) {
    std::string_view origin = *origins[0].asString();
    if (origin.starts_with(prefix) && origin.ends_with("/")) {
      origin = origin.substr(prefix.size(), origin.size() - prefix.size() - 1);
      if (isChromiumExtensionId(origin))
        return std::string(kChromiumExtensionsPage) + "?id=" + std::string(origin);
    }
  }
  return std::string(kChromiumExtensionsPage);
}

const std::string* stringMember(const AnyMap& map, std::string_view key) {
  const AnyValue* value = map.find(key);
  return value != nullptr ? value->asString() : nullptr;
}

// A manifest counts when it names the host, starts it over stdio from an
// executable at an absolute path, and allows at least one extension.
std::optional<std::string> settingsPageFromManifest(const std::filesystem::path& file,
                                                    const std::string& hostName,
                                                    BrowserFamily family) {
  const std::optional<AnyMap> manifest = readPreferenceFile(file);
  if (!manifest) return std::nullopt;
  const std::string* name = stringMember(*manifest, "name");
  const std::string* type = stringMember(*manifest, "type");
  const std::string* path = stringMember(*manifest, "path");
  const AnyValue* allowed =
      manifest->find(family == BrowserFamily::chromium ? "allowed_origins" : "allowed_extensions");
  const AnyArray* allowedList = allowed != nullptr ? allowed->asArray() : nullptr;
  if (name == nullptr || *name != hostName || type == nullptr || *type != "stdio" ||
      path == nullptr || !isExecutableFile(*path) || allowedList == nullptr ||
      allowedList->empty()) {
    return std::nullopt;
  }
  if (family == BrowserFamily::firefox) return std::string(kFirefoxExtensionsPage);
  return chromiumSettingsPage(*allowedList);
}

}  // namespace

BrowserEnvironment BrowserEnvironment::fromEnvironment() {
  BrowserEnvironment environment;
  environment.home = homeDirectory();
  environment.configHome = XdgDirectories::fromEnvironment().configHome;
  environment.systemRoot = "/";
  // The system's folders of programs, not $PATH: no variable chooses the program started.
  environment.searchPath = absoluteFolders("/usr/local/bin:/usr/bin:/bin:/snap/bin");
  return environment;
}

std::vector<KnownBrowser> knownBrowsers(const BrowserEnvironment& environment) {
  const auto& root = environment.systemRoot;
  return {
      {"Chromium",
       BrowserFamily::chromium,
       {"chromium", "chromium-browser"},
       {environment.configHome / "chromium/NativeMessagingHosts",
        root / "etc/chromium/native-messaging-hosts"}},
      {"Google Chrome",
       BrowserFamily::chromium,
       {"google-chrome", "google-chrome-stable"},
       {environment.configHome / "google-chrome/NativeMessagingHosts",
        root / "etc/opt/chrome/native-messaging-hosts"}},
      {"Firefox",
       BrowserFamily::firefox,
       {"firefox", "firefox-esr"},
       {environment.home / ".mozilla/native-messaging-hosts",
        root / "usr/lib/mozilla/native-messaging-hosts",
        root / "usr/lib64/mozilla/native-messaging-hosts"}},
  };
}

std::optional<InstalledBrowser> findRegisteredBrowser(const BrowserEnvironment& environment,
                                                      const std::vector<std::string>& hostNames) {
  for (const KnownBrowser& browser : knownBrowsers(environment)) {
    const std::optional<std::filesystem::path> executable = findCommand(browser, environment);
    if (!executable) continue;
    for (const auto& folder : browser.manifestFolders) {
      for (const std::string& hostName : hostNames) {
        if (auto page =
                settingsPageFromManifest(folder / (hostName + ".json"), hostName, browser.family)) {
          return InstalledBrowser{browser.name, *executable, std::move(*page)};
        }
      }
    }
  }
  return std::nullopt;
}

std::optional<InstalledBrowser> findInstalledBrowser(const BrowserEnvironment& environment) {
  for (const KnownBrowser& browser : knownBrowsers(environment)) {
    if (auto executable = findCommand(browser, environment)) {
      return InstalledBrowser{browser.name, *executable,
                              std::string(extensionsPage(browser.family))};
    }
  }
  return std::nullopt;
}

}  // namespace ostrela::linux_platform
