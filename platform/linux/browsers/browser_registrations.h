// Where the browsers of the table (browsers/browser_table.h) are installed on
// this machine and which host manifests they would find. The extension counts
// as enabled when one of its hosts has a valid manifest in a folder of an
// installed browser (see docs/host.md for the rule).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "browsers/browser_table.h"
#include "browsers/host_manifest.h"

namespace ostrela::linux_platform {

// The roots that locate the browsers' folders and programs; tests point them at temporary folders.
struct BrowserEnvironment {
  std::filesystem::path home;                     // $HOME
  std::filesystem::path configHome;               // $XDG_CONFIG_HOME, default ~/.config
  std::filesystem::path systemRoot;               // "/" except in tests
  std::vector<std::filesystem::path> searchPath;  // the system's program folders
  // False for root: $HOME may be another account's, whose manifests must not
  // choose what root starts. Then only the system folders count.
  bool userFolders = true;

  static BrowserEnvironment fromEnvironment();
};

// Where `browser` looks for manifests: its per-user folder first (when read), then the system's.
std::vector<std::filesystem::path> manifestFolders(const Browser& browser,
                                                   const BrowserEnvironment& environment);

// The browser's program in the system's program folders, when installed.
std::optional<std::filesystem::path> findBrowserProgram(const Browser& browser,
                                                        const BrowserEnvironment& environment);

struct FoundManifest {
  std::filesystem::path path;
  std::variant<HostManifest, std::string> manifest;  // or why the browser would refuse it
  bool perUser = false;                              // in the user's folder, not the system's
};

// The manifest for `hostName` that `browser` would read first, when any of its folders has one.
std::optional<FoundManifest> findManifest(const Browser& browser,
                                          const BrowserEnvironment& environment,
                                          const std::string& hostName);

struct InstalledBrowser {
  std::string name;
  std::filesystem::path executable;
  // The page that shows the extension's settings (see settingsPage()).
  std::string settingsPage;
};

// The first installed browser with a valid manifest, naming an executable file, for one of
// `hostNames`.
std::optional<InstalledBrowser> findRegisteredBrowser(const BrowserEnvironment& environment,
                                                      const std::vector<std::string>& hostNames);

// The first installed browser, on its extensions page: where the user can turn the extension on.
std::optional<InstalledBrowser> findInstalledBrowser(const BrowserEnvironment& environment);

}  // namespace ostrela::linux_platform
