#include "host/app_delegate.h"

#include "host/configuration_publisher.h"
#include "shared/managed_configuration_key.h"

namespace ostrela::linux_platform {

void AppDelegate::applicationDidFinishLaunching() const {
  publishManagedConfiguration(stores_.standardUserDefaults(),
                              stores_.suiteForWriting(appGroupSuiteName), logger_);
}

}  // namespace ostrela::linux_platform
