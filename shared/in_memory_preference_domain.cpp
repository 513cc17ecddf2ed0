#include "shared/in_memory_preference_domain.h"

namespace ostrela {

InMemoryPreferenceDomain::InMemoryPreferenceDomain(AnyMap values,
                                                   std::set<std::string, std::less<>> forced)
    : values_(std::move(values)), forced_(std::move(forced)) {}

void InMemoryPreferenceDomain::force(std::string key, std::optional<AnyValue> value) {
  std::lock_guard lock(mutex_);
  if (value) {
    values_.set(key, std::move(*value));
  } else {
    values_.erase(key);
  }
  forced_.insert(std::move(key));
}

std::optional<AnyValue> InMemoryPreferenceDomain::objectForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  if (const AnyValue* value = values_.find(key)) return *value;
  return std::nullopt;
}

bool InMemoryPreferenceDomain::objectIsForcedForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  return forced_.find(key) != forced_.end();
}

AnyMap InMemoryPreferenceDomain::dictionaryRepresentation() const {
  std::lock_guard lock(mutex_);
  return values_;
}

void InMemoryPreferenceDomain::setObjectForKey(std::optional<AnyValue> value,
                                               std::string_view key) {
  if (!value) return removeObjectForKey(key);
  std::lock_guard lock(mutex_);
  values_.set(std::string(key), std::move(*value));
}

void InMemoryPreferenceDomain::removeObjectForKey(std::string_view key) {
  std::lock_guard lock(mutex_);
  values_.erase(key);
}

std::optional<PreferenceStoreUnavailable> InMemoryPreferenceDomain::applyChanges(
    const std::vector<PreferenceChange>& changes) {
  std::lock_guard lock(mutex_);
  for (const PreferenceChange& change : changes) {
    if (change.value) {
      values_.set(change.key, *change.value);
    } else {
      values_.erase(change.key);
    }
  }
  return std::nullopt;
}

}  // namespace ostrela
