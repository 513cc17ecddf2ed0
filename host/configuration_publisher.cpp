#include "host/configuration_publisher.h"

#include <cstdint>
#include <string>
#include <vector>

#include "shared/managed_configuration_key.h"
#include "shared/managed_configuration_reader.h"

namespace ostrela {
namespace {

// The forced entries that the extension may take from the App Group.
AnyMap bridgeableEntries(const AnyMap& forced) {
  AnyMap published;
  for (const auto& [name, value] : forced) {
    const std::optional<ManagedConfigurationKey> key = managedConfigurationKeyFromString(name);
    if (key && !isForcedOnlyKey(*key)) published.set(name, value);
  }
  return published;
}

// Every configuration key, in declaration order: set when published, else removed.
std::vector<PreferenceChange> mirrorChanges(const AnyMap& published) {
  std::vector<PreferenceChange> changes;
  for (ManagedConfigurationKey key : allManagedConfigurationKeys) {
    const std::string_view name = keyString(key);
    const AnyValue* value = published.find(name);
    changes.push_back({std::string(name), value ? std::optional<AnyValue>(*value) : std::nullopt});
  }
  return changes;
}

// The read-back count of the log lines: how many published entries came back with their
// published value, or, when all did, how many entries came back in all (more, when a key
// that should have been removed is still there).
std::int64_t readBackCount(const AnyMap& published, const AnyMap& readBack) {
  std::int64_t agreeing = 0;
  for (const auto& [key, value] : published) {
    const AnyValue* back = readBack.find(key);
    if (back != nullptr && *back == value) ++agreeing;
  }
  const auto all = static_cast<std::int64_t>(published.size());
  return agreeing < all ? agreeing : static_cast<std::int64_t>(readBack.size());
}

void logUnavailable(const Logger& logger) {
  logger.log(LogLevel::error,
             "Managed configuration not published: the App Group %{public}s is unavailable",
             {appGroupSuiteName});
}

}  // namespace

AnyMap forcedConfiguration(const ManagedPreferenceDomain* domain) {
  AnyMap forced;
  if (domain == nullptr) return forced;
  for (ManagedConfigurationKey key : allManagedConfigurationKeys) {
    const std::string_view name = keyString(key);
    if (!domain->objectIsForcedForKey(name)) continue;
    if (std::optional<AnyValue> value = normalizedValue(domain->objectForKey(name), key)) {
      forced.set(std::string(name), std::move(*value));
    }
  }
  return forced;
}

AnyMap publishManagedConfiguration(const std::shared_ptr<ManagedPreferenceDomain>& managed,
                                   const std::shared_ptr<MutablePreferenceDomain>& appGroup,
                                   const Logger& logger) {
  // Nothing forced is not the same as forced values that cannot be read: withdrawing the
  // published copy then would take the extension's fallback away because of a typo.
  if (const auto problem = managed ? managed->forcedValuesProblem() : std::nullopt) {
    logger.log(LogLevel::error,
               "Managed configuration not published: the forced values cannot be read "
               "(%{public}s), so the App Group %{public}s keeps the copy published before",
               {problem->c_str(), appGroupSuiteName});
    return {};
  }
  AnyMap published = bridgeableEntries(forcedConfiguration(managed.get()));
  if (!appGroup) {
    logUnavailable(logger);
    return published;
  }
  // One update, so that the store is locked and written once and a reader sees all six or none.
  if (auto unavailable = appGroup->applyChanges(mirrorChanges(published))) {
    logger.log(LogLevel::error, "Cannot use the App Group store: %{public}s",
               {unavailable->reason.c_str()});
    logUnavailable(logger);
    return published;
  }

  // The store's view after the update is the file as read again, so this compares what a
  // reader will find with what was meant, value by value.
  const auto publishedCount = static_cast<std::int64_t>(published.size());
  const std::int64_t readBack = readBackCount(
      published, ManagedConfigurationReader(nullptr, appGroup).managedConfiguration());
  if (publishedCount == readBack) {
    // The line's format has an empty last argument: tools that match the format whole know
    // it so.
    logger.log(LogLevel::debug,
               "Published and read back %{public}ld managed key(s) via the App Group%{public}s",
               {publishedCount, ""});
  } else {
    logger.log(LogLevel::error,
               "App Group bridge mismatch: published %{public}ld managed key(s) to %{public}s but "
               "read back %{public}ld",
               {publishedCount, appGroupSuiteName, readBack});
  }
  return published;
}

}  // namespace ostrela
