// The six managed configuration keys, and the App Group suite both executables share.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace ostrela {

inline constexpr std::string_view appGroupSuiteName =
    "K7W2RQ9D4F.group.com.ostrela.safari-extension";

// Declaration order is the order of resolution and of every iteration.
enum class ManagedConfigurationKey {
  endpoint,
  apiToken,
  organizationName,
  organizationId,
  enabledServices,
  machineId,
};

inline constexpr std::array<ManagedConfigurationKey, 6> allManagedConfigurationKeys = {
    ManagedConfigurationKey::endpoint,         ManagedConfigurationKey::apiToken,
    ManagedConfigurationKey::organizationName, ManagedConfigurationKey::organizationId,
    ManagedConfigurationKey::enabledServices,  ManagedConfigurationKey::machineId,
};

std::string_view keyString(ManagedConfigurationKey key);

// Exact, case-sensitive match against the six key strings.
std::optional<ManagedConfigurationKey> managedConfigurationKeyFromString(std::string_view text);

// "endpoint" and "apiToken" are taken only from the forced domain, never from the App Group copy.
bool isForcedOnlyKey(ManagedConfigurationKey key);

}  // namespace ostrela
