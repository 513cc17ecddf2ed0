// The host application's main entry on a GTK desktop: the application object,
// its delegate and its one window, built from the interface description.
#pragma once

#include <filesystem>

#include "host/app_delegate.h"
#include "host/browser_integration.h"
#include "shared/bundle_identifiers.h"

namespace ostrela::linux_platform {

// The application identifier, also the name of its desktop entry.
inline constexpr const char* kHostApplicationId = hostBundleIdentifier;

// Runs the application until it quits and returns its exit status. At launch
// the delegate publishes; then the window is built from Main.ui in
// `resourceFolder` and shows the page Main.html beside it. A resource that
// cannot be loaded is a packaging fault: it is reported on stderr, with status 1.
// The status is also 1 when the window closes after the extension's settings
// could not be shown (the delegate's logger has said why).
int runHostApplication(int argc, char** argv, AppDelegate& delegate, BrowserIntegration& browser,
                       const std::filesystem::path& resourceFolder);

}  // namespace ostrela::linux_platform
