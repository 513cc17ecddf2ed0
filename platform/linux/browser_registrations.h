// Where the browsers of a Linux desktop look for native-messaging host
// manifests, and which of them can start the extension's hosts. The extension
// counts as enabled when one of its hosts has a valid manifest in a folder of
// an installed browser (see docs/host.md for the rule).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ostrela::linux_platform {

enum class BrowserFamily { chromium, firefox };

struct KnownBrowser {
  std::string name;  // "Chromium"
  BrowserFamily family;
  std::vector<std::string> commands;                   // looked up on the search path, in order
  std::vector<std::filesystem::path> manifestFolders;  // per-user first, then system-wide
};

// The roots that locate the browsers' folders and programs; tests point them at temporary folders.
struct BrowserEnvironment {
  std::filesystem::path home;                     // $HOME
  std::filesystem::path configHome;               // $XDG_CONFIG_HOME, default ~/.config
  std::filesystem::path systemRoot;               // "/" except in tests
  std::vector<std::filesystem::path> searchPath;  // the system's program folders

  static BrowserEnvironment fromEnvironment();
};

// Chromium, Google Chrome and Firefox, in that order of preference.
std::vector<KnownBrowser> knownBrowsers(const BrowserEnvironment& environment);

struct InstalledBrowser {
  std::string name;
  std::filesystem::path executable;
  // The page that shows the extension's settings: "chrome://extensions/?id=<id>"
  // when the manifest names one extension origin, else the browser's extensions page.
  std::string settingsPage;
};

// The first installed browser with a valid manifest for one of `hostNames`.
std::optional<InstalledBrowser> findRegisteredBrowser(const BrowserEnvironment& environment,
                                                      const std::vector<std::string>& hostNames);

// The first installed browser, on its extensions page: where the user can turn the extension on.
std::optional<InstalledBrowser> findInstalledBrowser(const BrowserEnvironment& environment);

}  // namespace ostrela::linux_platform
