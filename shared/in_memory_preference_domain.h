// A preference domain held in memory: for tests and for callers that build a
// configuration by hand.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "shared/preference_domain.h"

namespace ostrela {

class InMemoryPreferenceDomain : public MutablePreferenceDomain {
 public:
  InMemoryPreferenceDomain() = default;
  // `values` are the domain's values; the keys in `forced` count as forced.
  InMemoryPreferenceDomain(AnyMap values, std::set<std::string, std::less<>> forced);

  // Sets a value and marks it forced, as a configuration profile would.
  void force(std::string key, std::optional<AnyValue> value);

  std::optional<AnyValue> objectForKey(std::string_view key) const override;
  bool objectIsForcedForKey(std::string_view key) const override;
  AnyMap dictionaryRepresentation() const override;
  void setObjectForKey(std::optional<AnyValue> value, std::string_view key) override;
  void removeObjectForKey(std::string_view key) override;
  // Under one lock; an in-memory store is always available.
  std::optional<PreferenceStoreUnavailable> applyChanges(
      const std::vector<PreferenceChange>& changes) override;

 private:
  mutable std::mutex mutex_;
  AnyMap values_;
  std::set<std::string, std::less<>> forced_;
};

}  // namespace ostrela
