#include "doctor/app_group_checks.h"

#include <memory>
#include <set>

#include "extension/relay/relay_secret.h"
#include "host/configuration_publisher.h"
#include "shared/in_memory_preference_domain.h"
#include "shared/managed_configuration_key.h"

namespace ostrela::doctor {
namespace {

constexpr const char* kArea = "App Group";
constexpr const char* kPublish = "open OstrelaHost to publish it again";

// The keys OstrelaHost would write from `policy`, as the publisher computes them.
AnyMap expectedCopy(const std::optional<AnyMap>& policy) {
  if (!policy) return {};
  std::set<std::string, std::less<>> forced;
  for (const auto& [name, value] : *policy) forced.insert(name);
  const InMemoryPreferenceDomain domain(*policy, std::move(forced));
  return forcedConfiguration(&domain);
}

}  // namespace

void checkAppGroup(const AppGroupFacts& facts, const std::optional<AnyMap>& policy,
                   DoctorReport& report) {
  if (!facts.present) {
    report.add(kArea, CheckState::failed, "no store at " + facts.file,
               "have the agent's installer write agentRelaySecret there, then open OstrelaHost");
    return;
  }
  if (facts.accessProblem) {
    report.add(kArea, CheckState::failed, facts.file + ": " + *facts.accessProblem,
               "chown the file to the user and chmod 0600 it");
  }
  if (!facts.contents) {
    report.add(kArea, CheckState::failed, facts.file + " is not a JSON object",
               "remove it, have the agent provision agentRelaySecret again, then " +
                   std::string(kPublish));
    return;
  }
  if (!facts.accessProblem) report.add(kArea, CheckState::passed, facts.file + ": the user's only");

  const std::string secretKey(kAgentRelaySecretKey);
  const AnyValue* secret = facts.contents->find(kAgentRelaySecretKey);
  const std::string* secretText = secret != nullptr ? secret->asString() : nullptr;
  if (secretText != nullptr && !secretText->empty()) {
    report.add(kArea, CheckState::passed, secretKey + " present");
  } else {
    report.add(kArea, CheckState::failed, secretKey + " missing or empty",
               "have the agent provision its secret for this user");
  }

  const AnyMap expected = expectedCopy(policy);
  std::string differing;
  for (ManagedConfigurationKey key : allManagedConfigurationKeys) {
    if (isForcedOnlyKey(key)) continue;
    const std::string_view name = keyString(key);
    const AnyValue* want = expected.find(name);
    const AnyValue* have = facts.contents->find(name);
    const bool same = want == nullptr ? have == nullptr : have != nullptr && *have == *want;
    if (!same) differing += (differing.empty() ? "" : ", ") + std::string(name);
  }
  if (differing.empty()) {
    report.add(kArea, CheckState::passed, "configuration copy matches the policy");
  } else {
    report.add(kArea, CheckState::failed, "configuration copy is stale (" + differing + ")",
               kPublish);
  }
}

}  // namespace ostrela::doctor
