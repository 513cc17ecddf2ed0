#include "extension/forced_key_report.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_set>

#include "core/unicode.h"

namespace ostrela {
namespace {

struct ReportConstants {
  // Keys of a configuration-profile envelope, and the legacy managed-preferences payload key.
  std::unordered_set<std::string_view> profileEnvelopeKeys{
      "PayloadContent",         "PayloadType",
      "PayloadIdentifier",      "PayloadUUID",
      "PayloadVersion",         "PayloadDisplayName",
      "PayloadDescription",     "PayloadOrganization",
      "PayloadScope",           "PayloadRemovalDisallowed",
      "mcx_preference_settings"};
  // Forced keys with these prefixes belong to the platform or the global domain.
  std::array<std::string_view, 5> systemKeyPrefixes{"Apple", "NS", "com.apple.", "WebKit", "_"};
};

// Built once, on first use; read-only afterwards.
const ReportConstants& constants() {
  static const ReportConstants instance;
  return instance;
}

bool hasSystemPrefix(std::string_view key) {
  const auto& prefixes = constants().systemKeyPrefixes;
  return std::any_of(prefixes.begin(), prefixes.end(),
                     [key](std::string_view prefix) { return key.starts_with(prefix); });
}

std::string shortened(const std::string& key) {
  if (unicode::graphemeCount(key) <= kMaxReportedKeyLength) return key;
  return std::string(unicode::graphemePrefix(key, kMaxReportedKeyLength - 1)) + "\u2026";
}

}  // namespace

ForcedKeyReport forcedKeyReport(const ManagedConfigurationReader& reader) {
  const ManagedPreferenceDomain* forced = reader.forced().get();
  if (forced == nullptr) return {};
  ForcedKeyReport report;

  for (std::string_view key : constants().profileEnvelopeKeys) {
    if (forced->objectIsForcedForKey(key) && forced->objectForKey(key)) {
      report.isDoubleWrappedProfile = true;
      break;
    }
  }

  // Sort keys are computed once per candidate: NFC forms compare by scalar value.
  std::vector<std::pair<std::string, std::string>> candidates;  // (NFC form, key)
  for (const auto& [key, value] : forced->dictionaryRepresentation()) {
    if (managedConfigurationKeyFromString(key)) continue;
    if (hasSystemPrefix(key)) continue;
    if (!forced->objectIsForcedForKey(key)) continue;
    candidates.emplace_back(unicode::toNfc(key), key);
  }
  const std::size_t kept = std::min(candidates.size(), kMaxReportedKeys);
  std::partial_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(kept),
                    candidates.end());
  report.unrecognizedForcedKeys.reserve(kept);
  for (std::size_t i = 0; i < kept; ++i) {
    report.unrecognizedForcedKeys.push_back(shortened(candidates[i].second));
  }
  return report;
}

}  // namespace ostrela
