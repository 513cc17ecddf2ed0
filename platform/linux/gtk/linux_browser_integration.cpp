#include "platform/linux/gtk/linux_browser_integration.h"

#include <glib.h>

#include "platform/linux/browsers/extension_records.h"

namespace ostrela::linux_platform {
namespace {

BrowserIntegrationError unknownExtension(std::string_view identifier) {
  return {"Unknown extension '" + std::string(identifier) + "'"};
}

// Starts `browser` detached: the child is reaped by GLib's intermediate process.
std::optional<BrowserIntegrationError> launch(const InstalledBrowser& browser) {
  std::string executable = browser.executable.string();
  std::string page = browser.settingsPage;
  char* argv[] = {executable.data(), page.data(), nullptr};
  GError* error = nullptr;
  const auto flags =
      static_cast<GSpawnFlags>(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
  if (g_spawn_async(nullptr, argv, nullptr, flags, nullptr, nullptr, nullptr, &error)) {
    return std::nullopt;
  }
  BrowserIntegrationError failure{"Cannot start " + browser.name + ": " + error->message};
  g_error_free(error);
  return failure;
}

}  // namespace

LinuxBrowserIntegration::LinuxBrowserIntegration(std::string extensionIdentifier,
                                                 std::vector<std::string> hostNames,
                                                 BrowserEnvironment environment)
    : extensionIdentifier_(std::move(extensionIdentifier)),
      hostNames_(std::move(hostNames)),
      environment_(std::move(environment)) {}

void LinuxBrowserIntegration::getStateOfExtension(
    std::string_view identifier, std::function<void(ExtensionStateResult)> completion) {
  worker_.post([this, identifier = std::string(identifier), completion = std::move(completion)] {
    if (identifier != extensionIdentifier_) return completion(unknownExtension(identifier));
    ExtensionPresence presence = extensionPresence(environment_, hostNames_);
    if (presence.kind == ExtensionPresence::Kind::cannotTell) {
      return completion(BrowserIntegrationError{std::move(presence.text)});
    }
    completion(
        ExtensionState{presence.kind == ExtensionPresence::Kind::on, std::move(presence.text)});
  });
}

void LinuxBrowserIntegration::showPreferencesForExtension(
    std::string_view identifier,
    std::function<void(std::optional<BrowserIntegrationError>)> completion) {
  worker_.post([this, identifier = std::string(identifier), completion = std::move(completion)] {
    if (identifier != extensionIdentifier_) return completion(unknownExtension(identifier));
    std::optional<InstalledBrowser> browser = findRegisteredBrowser(environment_, hostNames_);
    if (!browser) browser = findInstalledBrowser(environment_);
    if (!browser) return completion(BrowserIntegrationError{"No supported browser is installed"});
    completion(launch(*browser));
  });
}

}  // namespace ostrela::linux_platform
