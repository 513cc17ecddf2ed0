// The host application's delegate: publishes the managed configuration once
// at launch. Closing the window quits the application (GTK's default: nothing
// holds it).
#pragma once

#include "core/logger.h"
#include "shared/preference_domain.h"

namespace ostrela::linux_platform {

class AppDelegate {
 public:
  // `stores` and `logger` must outlive the delegate.
  AppDelegate(const PreferenceStores& stores, const Logger& logger)
      : stores_(stores), logger_(logger) {}

  // On the main thread, before the window shows. The App Group suite is
  // opened for this call only.
  void applicationDidFinishLaunching() const;

  // The application's logger, for the window's own lines.
  const Logger& logger() const { return logger_; }

 private:
  const PreferenceStores& stores_;
  const Logger& logger_;
};

}  // namespace ostrela::linux_platform
