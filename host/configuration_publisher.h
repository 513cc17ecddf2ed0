// Mirrors the organisation's forced configuration into the App Group suite that
// the extension reads as its fallback, and checks the copy by reading it back.
#pragma once

#include <memory>

#include "core/any_value.h"
#include "core/logger.h"
#include "shared/preference_domain.h"

namespace ostrela {

// Every configuration key that `domain` forces with an acceptable value, in
// declaration order. Unforced values are ignored; a null domain gives an empty map.
AnyMap forcedConfiguration(const ManagedPreferenceDomain* domain);

// Writes the four bridgeable keys of the forced configuration into `appGroup`
// and removes the other configuration keys from it (every time, in declaration
// order, in one update); keys outside the six are never touched. Reads the suite
// back and logs one line: unavailable (no `appGroup`, or a store that cannot be
// read, locked or written, then after an error line that says why), mismatch (a
// published value that did not come back as published, or a key that should have
// gone), or success. When the forced values cannot be read (`managed` has a
// forcedValuesProblem), nothing is written and one error line says so. Returns the
// published map. Runs on the caller's thread and never fails.
AnyMap publishManagedConfiguration(const std::shared_ptr<ManagedPreferenceDomain>& managed,
                                   const std::shared_ptr<MutablePreferenceDomain>& appGroup,
                                   const Logger& logger);

}  // namespace ostrela
