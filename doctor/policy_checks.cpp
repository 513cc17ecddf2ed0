#include "doctor/policy_checks.h"

#include <memory>
#include <set>

#include "extension/forced_key_report.h"
#include "shared/in_memory_preference_domain.h"
#include "shared/managed_configuration_key.h"
#include "shared/managed_configuration_reader.h"

namespace ostrela::doctor {
namespace {

constexpr const char* kArea = "managed preferences";

std::string kindOf(const AnyValue& value) {
  if (value.isBool()) return "a boolean";
  if (value.isNumber()) return "a number";
  if (value.isString()) return "a string";
  if (value.isArray()) return "an array";
  if (value.isMap()) return "an object";
  return "another kind of value";
}

// Why the extension will not use `value` for `key`, or nothing when it will.
std::optional<std::string> whyRejected(ManagedConfigurationKey key, const AnyValue& value) {
  if (normalizedValue(value, key)) return std::nullopt;
  if (key == ManagedConfigurationKey::enabledServices) {
    return value.isArray() ? "not every item is a string"
                           : kindOf(value) + ", not an array of strings";
  }
  if (const std::string* text = value.asString(); text != nullptr && text->empty()) return "empty";
  return kindOf(value) + ", not a non-empty string";
}

}  // namespace

void checkPolicy(const PolicyFacts& facts, DoctorReport& report) {
  if (!facts.present) {
    report.add(kArea, CheckState::failed, "no policy file at " + facts.file,
               "install the organisation's policy file there, owned by root, mode 0644");
    return;
  }
  if (facts.untrustedReason) {
    report.add(kArea, CheckState::failed, facts.file + " is ignored: " + *facts.untrustedReason,
               "make the file and every folder above it owned by root and writable by root only "
               "(chown root:root, chmod 0644 the file, 0755 the folders)");
    return;
  }
  if (!facts.contents) {
    report.add(kArea, CheckState::failed, facts.file + " is not a JSON object",
               "fix the file's syntax (python3 -m json.tool " + facts.file + " shows where)");
    return;
  }
  report.add(kArea, CheckState::passed, facts.file + ": owned by root, parses");

  const AnyMap& contents = *facts.contents;
  for (ManagedConfigurationKey key : allManagedConfigurationKeys) {
    const std::string name(keyString(key));
    const AnyValue* value = contents.find(name);
    if (value == nullptr || value->isNull()) {
      report.add(kArea, CheckState::info, name + ": not set");
    } else if (const auto why = whyRejected(key, *value)) {
      report.add(kArea, CheckState::failed, name + ": not accepted (" + *why + ")",
                 key == ManagedConfigurationKey::enabledServices
                     ? "give " + name + " an array of strings"
                     : "give " + name + " a non-empty string");
    } else {
      report.add(kArea, CheckState::passed, name + ": accepted");
    }
  }

  std::set<std::string, std::less<>> forced;
  for (const auto& [name, value] : contents) forced.insert(name);
  const ManagedConfigurationReader reader(
      std::make_shared<InMemoryPreferenceDomain>(contents, std::move(forced)), nullptr);
  const ForcedKeyReport keys = forcedKeyReport(reader);
  if (!keys.unrecognizedForcedKeys.empty()) {
    std::string list;
    for (const std::string& key : keys.unrecognizedForcedKeys)
      list += (list.empty() ? "" : ", ") + key;
    report.add(kArea, CheckState::warning, "unrecognised keys, reported to the extension: " + list,
               "check their spelling against the six keys, or remove them");
  }
  if (keys.isDoubleWrappedProfile) {
    report.add(kArea, CheckState::failed,
               "the file is a whole profile wrapped inside another (double-wrapped)",
               "put the keys at the top level of the file, without the profile's envelope");
  }
}

}  // namespace ostrela::doctor
