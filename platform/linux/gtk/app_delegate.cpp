#include "platform/linux/gtk/app_delegate.h"

#include <chrono>
#include <cstdint>

#include "host/configuration_publisher.h"
#include "shared/managed_configuration_key.h"

namespace ostrela::linux_platform {

void AppDelegate::applicationDidFinishLaunching() const {
  const auto start = std::chrono::steady_clock::now();
  publishManagedConfiguration(stores_.standardUserDefaults(),
                              stores_.suiteForWriting(appGroupSuiteName), logger_);
  // The window waits for this: a slow disk or a held lock shows here.
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  logger_.log(LogLevel::debug, "Publication took %{public}ld us",
              {static_cast<std::int64_t>(took.count())});
}

}  // namespace ostrela::linux_platform
