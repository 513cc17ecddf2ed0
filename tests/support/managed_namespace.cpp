#include "tests/support/managed_namespace.h"

#include <unistd.h>

#include "platform/linux/preferences/managed_preferences_trust.h"

namespace ostrela::testing {

bool canMountManagedPreferences() {
  return ::geteuid() == 0;
}

Command withManagedPreferences(const std::filesystem::path& folder, std::string executable,
                               std::vector<std::string> arguments) {
  std::vector<std::string> all{linux_platform::managedPreferencesFolder().string(), folder.string(),
                               std::move(executable)};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return {OSTRELA_WITH_MANAGED_PREFERENCES, std::move(all)};
}

}  // namespace ostrela::testing
