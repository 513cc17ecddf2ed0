#include "shared/managed_configuration_key.h"

namespace ostrela {

std::string_view keyString(ManagedConfigurationKey key) {
  switch (key) {
    case ManagedConfigurationKey::endpoint:
      return "endpoint";
    case ManagedConfigurationKey::apiToken:
      return "apiToken";
    case ManagedConfigurationKey::organizationName:
      return "organizationName";
    case ManagedConfigurationKey::organizationId:
      return "organizationId";
    case ManagedConfigurationKey::enabledServices:
      return "enabledServices";
    case ManagedConfigurationKey::machineId:
      return "machineId";
  }
  return {};
}

std::optional<ManagedConfigurationKey> managedConfigurationKeyFromString(std::string_view text) {
  for (ManagedConfigurationKey key : allManagedConfigurationKeys) {
    if (keyString(key) == text) return key;
  }
  return std::nullopt;
}

bool isForcedOnlyKey(ManagedConfigurationKey key) {
  return key == ManagedConfigurationKey::endpoint || key == ManagedConfigurationKey::apiToken;
}

}  // namespace ostrela
