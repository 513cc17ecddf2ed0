#include "extension/relay/relay_secret.h"

#include "shared/managed_configuration_key.h"

namespace ostrela {

std::optional<std::string> relaySecret(const PreferenceStores& stores) {
  const std::shared_ptr<ManagedPreferenceDomain> suite = stores.suiteForReading(appGroupSuiteName);
  if (!suite) return std::nullopt;
  std::optional<AnyValue> value = suite->objectForKey(kAgentRelaySecretKey);
  const std::string* secret = value ? value->asString() : nullptr;
  if (secret == nullptr || secret->empty()) return std::nullopt;
  return *secret;
}

}  // namespace ostrela
