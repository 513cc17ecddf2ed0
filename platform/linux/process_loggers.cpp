#include "platform/linux/process_loggers.h"

#include "platform/linux/log_sinks.h"

namespace ostrela::linux_platform {

const Logger& extensionLogger() {
  static const Logger* const logger =
      new Logger("com.ostrela.safari-extension.extension", "native-bridge", processLogSink(),
                 logSettingsFromEnvironment());
  return *logger;
}

const Logger& hostLogger() {
  static const Logger* const logger = new Logger("com.ostrela.safari-extension", "managed-config",
                                                 processLogSink(), logSettingsFromEnvironment());
  return *logger;
}

}  // namespace ostrela::linux_platform
