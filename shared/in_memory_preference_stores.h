// Preference stores held in memory: a standard domain and at most one suite.
#pragma once

#include <memory>
#include <string>

#include "shared/in_memory_preference_domain.h"

namespace ostrela {

class InMemoryPreferenceStores : public PreferenceStores {
 public:
  // The standard user defaults; set values and forced keys on it directly.
  std::shared_ptr<InMemoryPreferenceDomain> standard = std::make_shared<InMemoryPreferenceDomain>();
  // The one suite there is, under any name; nullptr makes every suite unavailable.
  std::shared_ptr<InMemoryPreferenceDomain> suite;

  std::shared_ptr<ManagedPreferenceDomain> standardUserDefaults() const override {
    return standard;
  }
  std::shared_ptr<ManagedPreferenceDomain> suiteForReading(std::string_view) const override {
    return suite;
  }
  std::shared_ptr<MutablePreferenceDomain> suiteForWriting(std::string_view) const override {
    return suite;
  }
};

}  // namespace ostrela
