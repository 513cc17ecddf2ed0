// The two views of a preference store that the configuration code uses. Only
// platform bindings implement them, so everything above runs against an
// in-memory domain in tests.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/any_value.h"

namespace ostrela {

// A read-only preference domain, with the organisation's forced values.
class ManagedPreferenceDomain {
 public:
  virtual ~ManagedPreferenceDomain() = default;
  virtual std::optional<AnyValue> objectForKey(std::string_view key) const = 0;
  // True when a managed configuration profile forces `key` in this domain.
  virtual bool objectIsForcedForKey(std::string_view key) const = 0;
  // Every key visible through the domain, with its current value.
  virtual AnyMap dictionaryRepresentation() const = 0;
  // Why the forced values could not be read (their file is there, but cannot be read or
  // parsed): the domain then forces nothing, though the organisation meant it to.
  virtual std::optional<std::string> forcedValuesProblem() const { return std::nullopt; }
};

// One change of a batch: `value` stored under `key`, or `key` removed when the value is absent.
struct PreferenceChange {
  std::string key;
  std::optional<AnyValue> value;
};

// Why a store could not be used at all, in words for a log line (the file and the reason).
struct PreferenceStoreUnavailable {
  std::string reason;
};

// A preference domain that can also be written. Neither single write reports a result.
class MutablePreferenceDomain : public ManagedPreferenceDomain {
 public:
  // Stores `value` under `key`; an absent value removes the key.
  virtual void setObjectForKey(std::optional<AnyValue> value, std::string_view key) = 0;
  virtual void removeObjectForKey(std::string_view key) = 0;

  // Makes every change, in order, as one update that readers see whole. When the store
  // cannot be read, locked or written (no space left, a failed flush or rename), nothing
  // is changed and the reason is returned. Afterwards the domain reads what the store
  // holds, read again from where it is kept.
  virtual std::optional<PreferenceStoreUnavailable> applyChanges(
      const std::vector<PreferenceChange>& changes) = 0;
};

// Opens the domains of one process: its standard user defaults (its own values
// with the forced ones layered over them) and shared suites such as the App
// Group. A suite that cannot be opened gives nullptr.
class PreferenceStores {
 public:
  virtual ~PreferenceStores() = default;
  virtual std::shared_ptr<ManagedPreferenceDomain> standardUserDefaults() const = 0;
  // Reading only: creates nothing on disk; a missing store reads as empty.
  virtual std::shared_ptr<ManagedPreferenceDomain> suiteForReading(
      std::string_view suiteName) const = 0;
  virtual std::shared_ptr<MutablePreferenceDomain> suiteForWriting(
      std::string_view suiteName) const = 0;
};

}  // namespace ostrela
