// What the forced domain says about the profile beyond the six keys: forced
// keys nobody recognises (a misspelt key, say) and whether a whole profile was
// wrapped inside another one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "shared/managed_configuration_reader.h"

namespace ostrela {

inline constexpr std::size_t kMaxReportedKeys = 12;
// In user-perceived characters; longer keys end in "…" at exactly this length.
inline constexpr std::size_t kMaxReportedKeyLength = 80;

struct ForcedKeyReport {
  // Sorted ascending, at most kMaxReportedKeys, each at most kMaxReportedKeyLength characters.
  std::vector<std::string> unrecognizedForcedKeys;
  bool isDoubleWrappedProfile = false;
};

ForcedKeyReport forcedKeyReport(const ManagedConfigurationReader& reader);

}  // namespace ostrela
