// The browser integration of a Linux desktop: the extension is enabled when a
// browser installed here records it as on in one of its profiles
// (extension_records.h), and its settings are the page for the extension of the
// browser that has its native-messaging hosts registered.
#pragma once

#include <string>
#include <vector>

#include "host/browser_integration.h"
#include "host/serial_worker.h"
#include "platform/linux/browsers/browser_registrations.h"

namespace ostrela::linux_platform {

// Answers on a worker thread of its own. Other identifiers than `extensionIdentifier`
// are answered with an error.
class LinuxBrowserIntegration : public BrowserIntegration {
 public:
  LinuxBrowserIntegration(std::string extensionIdentifier, std::vector<std::string> hostNames,
                          BrowserEnvironment environment);

  void getStateOfExtension(std::string_view identifier,
                           std::function<void(ExtensionStateResult)> completion) override;

  // Starts the browser with the extension registered (or else the first
  // installed browser) on its extensions page, without waiting for it.
  void showPreferencesForExtension(
      std::string_view identifier,
      std::function<void(std::optional<BrowserIntegrationError>)> completion) override;
  void drain() override { worker_.drain(); }

 private:
  std::string extensionIdentifier_;
  std::vector<std::string> hostNames_;
  BrowserEnvironment environment_;
  SerialWorker worker_;  // last: joined before the members its tasks read
};

}  // namespace ostrela::linux_platform
