#include "shared/managed_configuration_reader.h"

#include <algorithm>

namespace ostrela {

std::optional<AnyValue> normalizedValue(const std::optional<AnyValue>& value,
                                        ManagedConfigurationKey key) {
  if (!value) return std::nullopt;
  if (key == ManagedConfigurationKey::enabledServices) {
    const AnyArray* array = value->asArray();
    if (array == nullptr) return std::nullopt;
    const bool allStrings =
        std::all_of(array->begin(), array->end(), [](const AnyValue& v) { return v.isString(); });
    if (!allStrings) return std::nullopt;
    return value;
  }
  const std::string* text = value->asString();
  if (text == nullptr || text->empty()) return std::nullopt;
  return value;
}

ManagedConfigurationReader ManagedConfigurationReader::fromUserDefaults(
    const PreferenceStores& stores) {
  return ManagedConfigurationReader(stores.standardUserDefaults(),
                                    stores.suiteForReading(appGroupSuiteName));
}

std::optional<AnyValue> ManagedConfigurationReader::resolvedValue(
    ManagedConfigurationKey key) const {
  const std::string_view name = keyString(key);
  if (forced_ && forced_->objectIsForcedForKey(name)) {
    if (auto value = normalizedValue(forced_->objectForKey(name), key)) return value;
  }
  if (isForcedOnlyKey(key)) return std::nullopt;
  if (bridged_) return normalizedValue(bridged_->objectForKey(name), key);
  return std::nullopt;
}

AnyMap ManagedConfigurationReader::managedConfiguration() const {
  AnyMap config;
  for (ManagedConfigurationKey key : allManagedConfigurationKeys) {
    if (auto value = resolvedValue(key)) config.set(std::string(keyString(key)), std::move(*value));
  }
  return config;
}

}  // namespace ostrela
