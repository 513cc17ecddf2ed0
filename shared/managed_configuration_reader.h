// Resolves the six managed configuration keys: the forced value first, then,
// for the four bridgeable keys, the copy the host left in the App Group.
#pragma once

#include <memory>
#include <optional>

#include "core/any_value.h"
#include "shared/managed_configuration_key.h"
#include "shared/preference_domain.h"

namespace ostrela {

// The value if it is acceptable for `key`, else absent: a non-empty string, or
// for "enabledServices" an array of strings only (possibly empty).
std::optional<AnyValue> normalizedValue(const std::optional<AnyValue>& value,
                                        ManagedConfigurationKey key);

// A small copyable value; copies share the same two domains. Either may be absent.
class ManagedConfigurationReader {
 public:
  ManagedConfigurationReader(std::shared_ptr<ManagedPreferenceDomain> forced,
                             std::shared_ptr<ManagedPreferenceDomain> bridged)
      : forced_(std::move(forced)), bridged_(std::move(bridged)) {}

  // The standard user defaults as `forced`, the App Group suite (when it can
  // be opened) as `bridged`. The stores are read afresh by every new reader.
  static ManagedConfigurationReader fromUserDefaults(const PreferenceStores& stores);

  const std::shared_ptr<ManagedPreferenceDomain>& forced() const { return forced_; }
  const std::shared_ptr<ManagedPreferenceDomain>& bridged() const { return bridged_; }

  std::optional<AnyValue> resolvedValue(ManagedConfigurationKey key) const;

  // One entry per key with an acceptable value, in declaration order.
  AnyMap managedConfiguration() const;

 private:
  std::shared_ptr<ManagedPreferenceDomain> forced_;
  std::shared_ptr<ManagedPreferenceDomain> bridged_;
};

}  // namespace ostrela
