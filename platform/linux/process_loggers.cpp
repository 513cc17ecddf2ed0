#include "platform/linux/process_loggers.h"

#include "platform/linux/log_sinks.h"
#include "shared/bundle_identifiers.h"

namespace ostrela::linux_platform {

const Logger& extensionLogger() {
  static const Logger* const logger = new Logger(extensionBundleIdentifier, "native-bridge",
                                                 processLogSink(), logSettingsFromEnvironment());
  return *logger;
}

const Logger& hostLogger() {
  static const Logger* const logger = new Logger(hostBundleIdentifier, "managed-config",
                                                 processLogSink(), logSettingsFromEnvironment());
  return *logger;
}

}  // namespace ostrela::linux_platform
