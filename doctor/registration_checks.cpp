#include "doctor/registration_checks.h"

#include "core/json.h"

namespace ostrela::doctor {

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
