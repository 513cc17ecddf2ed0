#include "doctor/registration_checks.h"

#include <algorithm>

#include "core/json.h"

namespace ostrela::doctor {

namespace {

struct PolicyValue {
  const AnyValue* value = nullptr;
  const std::string* file = nullptr;
};

// The value of `policy` that the browser uses: the one of the last file that sets it.
PolicyValue effectivePolicy(const std::vector<BrowserPolicyFile>& files, std::string_view policy) {
  PolicyValue effective;
  for (const BrowserPolicyFile& file : files) {
    const AnyValue* value = file.contents ? file.contents->find(policy) : nullptr;
    if (value != nullptr) effective = {value, &file.path};
  }
  return effective;
}

bool lists(const PolicyValue& policy, std::string_view item) {
  const AnyArray* items = policy.value != nullptr ? policy.value->asArray() : nullptr;
  if (items == nullptr) return false;
  return std::any_of(items->begin(), items->end(), [&](const AnyValue& value) {
    return value.asString() != nullptr && *value.asString() == item;
  });
}

}  // namespace

std::optional<std::string> whyPoliciesBlockHost(const std::vector<BrowserPolicyFile>& files,
                                                std::string_view hostName, bool perUser) {
  const PolicyValue blocklist = effectivePolicy(files, "NativeMessagingBlocklist");
  const PolicyValue allowlist = effectivePolicy(files, "NativeMessagingAllowlist");
  if ((lists(blocklist, hostName) || lists(blocklist, "*")) && !lists(allowlist, hostName)) {
    return *blocklist.file + ": NativeMessagingBlocklist blocks " + std::string(hostName) +
           (lists(blocklist, hostName) ? "" : " (\"*\")");
  }
  const PolicyValue userLevel = effectivePolicy(files, "NativeMessagingUserLevelHosts");
  if (perUser && userLevel.value != nullptr && userLevel.value->asBool() != nullptr &&
      !*userLevel.value->asBool()) {
    return *userLevel.file +
           ": NativeMessagingUserLevelHosts is false, and the manifest is in the user's folder";
  }
  return std::nullopt;
}

std::optional<std::string> roundTripProblem(const std::vector<std::string>& replies,
                                            int exitStatus) {
  if (replies.empty()) return "no reply; exit status " + std::to_string(exitStatus);
  const std::optional<AnyValue> reply = decodeJson(replies.front());
  const AnyMap* object = reply ? reply->asMap() : nullptr;
  if (object == nullptr) return std::string("the reply is not a JSON object");
  const AnyValue* ok = object->find("ok");
  if (ok == nullptr || ok->asBool() == nullptr || !*ok->asBool()) {
    const AnyValue* error = object->find("error");
    const std::string* text = error != nullptr ? error->asString() : nullptr;
    return "the reply is an error: " + (text != nullptr ? *text : replies.front());
  }
  if (exitStatus != 0) return "the host exited with status " + std::to_string(exitStatus);
  return std::nullopt;
}

void checkRegistration(const RegistrationFacts& facts, DoctorReport& report) {
  const std::string& area = facts.browser;
  if (facts.manifestPath.empty()) {
    report.add(area, CheckState::failed, "no manifest for " + facts.hostName,
               "install the ostrela-native-host package, or run ostrela-native-host-manifests");
    return;
  }
  if (const auto* problem = std::get_if<std::string>(&facts.manifest)) {
    report.add(area, CheckState::failed, facts.manifestPath + ": " + *problem,
               "run ostrela-native-host-manifests again (as root for the system folders)");
    return;
  }
  const auto& summary = std::get<HostManifest>(facts.manifest);
  std::string ids;
  for (const std::string& id : summary.allowedIds) ids += (ids.empty() ? "" : ", ") + id;
  report.add(area, CheckState::passed, facts.manifestPath + " allows " + ids);
  if (const auto blocked = whyPoliciesBlockHost(facts.policies, facts.hostName, facts.perUser)) {
    report.add(area, CheckState::failed, "the browser will not start it: " + *blocked,
               "add " + facts.hostName +
                   " to NativeMessagingAllowlist, or install the system manifests (the "
                   "ostrela-native-host package) when user-level hosts are off");
    return;
  }
  if (facts.executableProblem) {
    report.add(area, CheckState::failed, summary.executable + ": " + *facts.executableProblem,
               "reinstall the ostrela-native-host package, or fix the manifest's \"path\"");
    return;
  }
  if (facts.roundTripProblem) {
    report.add(area, CheckState::failed, "getManagedConfig round trip: " + *facts.roundTripProblem,
               "run ostrela-native-client with OSTRELA_LOG_LEVEL=debug and read the host's log");
  } else {
    report.add(area, CheckState::passed, "getManagedConfig round trip answered");
  }
}

}  // namespace ostrela::doctor
