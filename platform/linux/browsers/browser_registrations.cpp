#include "platform/linux/browsers/browser_registrations.h"

#include <unistd.h>

#include "platform/linux/browsers/host_manifest_file.h"
#include "platform/linux/xdg_directories.h"

namespace ostrela::linux_platform {
namespace {

bool isExecutableFile(const std::filesystem::path& path) {
  std::error_code ec;
  return path.is_absolute() && std::filesystem::is_regular_file(path, ec) &&
         ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

BrowserEnvironment BrowserEnvironment::fromEnvironment() {
  BrowserEnvironment environment;
  environment.home = homeDirectory();
  environment.configHome = XdgDirectories::fromEnvironment().configHome;
  environment.systemRoot = "/";
  // The system's folders of programs, not $PATH: no variable chooses the program started.
  environment.searchPath = absoluteFolders("/usr/local/bin:/usr/bin:/bin:/snap/bin");
  environment.userFolders = ::geteuid() != 0;
  return environment;
}

std::vector<std::filesystem::path> manifestFolders(const Browser& browser,
                                                   const BrowserEnvironment& environment) {
  std::vector<std::filesystem::path> folders;
  if (environment.userFolders) {
    const auto& base = browser.userFolderBase == UserFolderBase::configHome ? environment.configHome
                                                                            : environment.home;
    folders.push_back(base / browser.userManifestFolder);
  }
  for (const std::string& folder : browser.systemManifestFolders) {
    folders.push_back(environment.systemRoot / std::filesystem::path(folder).relative_path());
  }
  return folders;
}

std::optional<std::filesystem::path> findBrowserProgram(const Browser& browser,
                                                        const BrowserEnvironment& environment) {
  for (const std::string& command : browser.executables) {
    for (const auto& folder : environment.searchPath) {
      if (isExecutableFile(folder / command)) return folder / command;
    }
  }
  return std::nullopt;
}

std::optional<FoundManifest> findManifest(const Browser& browser,
                                          const BrowserEnvironment& environment,
                                          const std::string& hostName) {
  const auto folders = manifestFolders(browser, environment);
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const auto path = folders[i] / (hostName + ".json");
    if (auto manifest = readHostManifestFile(path, hostName, browser.family)) {
      return FoundManifest{path, std::move(*manifest), environment.userFolders && i == 0};
    }
  }
  return std::nullopt;
}

std::optional<InstalledBrowser> findRegisteredBrowser(const BrowserEnvironment& environment,
                                                      const std::vector<std::string>& hostNames) {
  for (const Browser& browser : browserTable()) {
    const auto program = findBrowserProgram(browser, environment);
    if (!program) continue;
    for (const std::string& hostName : hostNames) {
      const auto found = findManifest(browser, environment, hostName);
      const auto* manifest = found ? std::get_if<HostManifest>(&found->manifest) : nullptr;
      if (manifest != nullptr && isExecutableFile(manifest->executable)) {
        return InstalledBrowser{browser.name, *program, settingsPage(browser, *manifest)};
      }
    }
  }
  return std::nullopt;
}

std::optional<InstalledBrowser> findInstalledBrowser(const BrowserEnvironment& environment) {
  for (const Browser& browser : browserTable()) {
    if (auto program = findBrowserProgram(browser, environment)) {
      return InstalledBrowser{browser.name, *program, browser.extensionsPage};
    }
  }
  return std::nullopt;
}

}  // namespace ostrela::linux_platform
