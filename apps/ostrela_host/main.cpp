// OstrelaHost: publishes the managed configuration into the App Group at
// launch and shows the extension's state in its window.
#include "apps/ostrela_host/run_ostrela_host.h"
#include "host/host_page_contract.h"
#include "platform/linux/gtk/linux_browser_integration.h"
#include "shared/bundle_identifiers.h"

int main(int argc, char** argv) {
  using namespace ostrela;
  using namespace ostrela::linux_platform;
  LinuxBrowserIntegration browser(
      std::string(kExtensionIdentifier),
      std::vector<std::string>{std::string(kIdentityHost), std::string(kRedactionHost)},
      BrowserEnvironment::fromEnvironment());
  return runOstrelaHost(argc, argv, browser);
}
