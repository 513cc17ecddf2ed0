#include "apps/ostrela_host/run_ostrela_host.h"

#include <cstdio>

#include "host/host_page_contract.h"
#include "platform/linux/gtk/host_application.h"
#include "platform/linux/gtk/resource_folder.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "platform/linux/process_loggers.h"

namespace ostrela {

int runOstrelaHost(int argc, char** argv, BrowserIntegration& browser) {
  using namespace ostrela::linux_platform;
  // Forced values only from root's files in the installed folder; an ignored one is logged.
  const FilePreferenceStores stores(XdgDirectories::fromEnvironment(), {.logger = &hostLogger()},
                                    kHostApplicationId);
  AppDelegate delegate(stores, hostLogger());

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
  return runHostApplication(argc, argv, delegate, browser, *resources);
}

}  // namespace ostrela
