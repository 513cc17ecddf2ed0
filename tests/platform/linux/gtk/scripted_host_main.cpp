// OstrelaHostScripted: OstrelaHost wired to the scripted browser integration,
// whose folder OSTRELA_HOST_SCRIPTED_BROWSER names. Built for the tests only;
// the installed OstrelaHost reads no such variable.
#include <cstdio>
#include <cstdlib>

#include "apps/ostrela_host/run_ostrela_host.h"
#include "tests/support/scripted_browser_integration.h"

int main(int argc, char** argv) {
  const char* folder = std::getenv("OSTRELA_HOST_SCRIPTED_BROWSER");
  if (folder == nullptr) {
    std::fputs("OstrelaHostScripted: set OSTRELA_HOST_SCRIPTED_BROWSER to a folder\n", stderr);
    return 2;
  }
  ostrela::ScriptedBrowserIntegration browser(folder);
  return ostrela::runOstrelaHost(argc, argv, browser);
}
