// OstrelaHost: publishes the managed configuration into the App Group at
// launch and shows the extension's state in its window.
//
// Test hook: OSTRELA_HOST_SCRIPTED_BROWSER=<folder> replaces the browser
// integration with one that answers from files in that folder and records the
// requests (see host/scripted_browser_integration.h).
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "host/host_page_contract.h"
#include "host/scripted_browser_integration.h"
#include "platform/linux/file_preference_stores.h"
#include "platform/linux/gtk/host_application.h"
#include "platform/linux/gtk/linux_browser_integration.h"
#include "platform/linux/gtk/resource_folder.h"
#include "platform/linux/process_loggers.h"

int main(int argc, char** argv) {
  using namespace ostrela;
  using namespace ostrela::linux_platform;

  const FilePreferenceStores stores(XdgDirectories::fromEnvironment(), kHostApplicationId);
  AppDelegate delegate(stores, hostLogger());

  std::unique_ptr<BrowserIntegration> browser;
  if (const char* scripted = std::getenv("OSTRELA_HOST_SCRIPTED_BROWSER")) {
    browser = std::make_unique<ScriptedBrowserIntegration>(scripted);
  } else {
    browser = std::make_unique<LinuxBrowserIntegration>(
        std::string(kExtensionIdentifier),
        std::vector<std::string>{std::string(kIdentityHost), std::string(kRedactionHost)},
        BrowserEnvironment::fromEnvironment());
  }

  // Installed: <prefix>/bin and <prefix>/<datadir>/ostrela-host; in the build tree: resources/.
  const auto executable = currentExecutable();
  const auto resources =
      executable
          ? findResourceFolder(*executable, {OSTRELA_HOST_RESOURCES_FROM_BINARY, "resources"},
                               kWindowDescriptionFile)
          : std::nullopt;
  if (!resources) {
    std::fputs("OstrelaHost: cannot find the application's resources\n", stderr);
    return 1;
  }
  return runHostApplication(argc, argv, delegate, *browser, *resources);
}
