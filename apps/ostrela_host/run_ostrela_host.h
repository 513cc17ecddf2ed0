// What OstrelaHost's main does once its browser integration is chosen: shared
// with the scripted test build of the host, so that both run the same wiring.
#pragma once

#include "host/browser_integration.h"

namespace ostrela {

// Publishes, shows the window and runs until the application quits; the exit status.
int runOstrelaHost(int argc, char** argv, BrowserIntegration& browser);

}  // namespace ostrela
