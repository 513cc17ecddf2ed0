#include "doctor/registration_checks.h"

#include "core/json.h"

namespace ostrela::doctor {

std::variant<ManifestSummary, std::string> readManifest(const std::optional<AnyValue>& manifest,
                                                        std::string_view hostName,
                                                        BrowserKind kind) {
  const AnyMap* object = manifest ? manifest->asMap() : nullptr;
  if (object == nullptr) return std::string("not a JSON object");
  const AnyValue* name = object->find("name");
  if (name == nullptr || name->asString() == nullptr || *name->asString() != hostName) {
    return "its \"name\" is not \"" + std::string(hostName) + "\"";
  }
  const AnyValue* type = object->find("type");
  if (type == nullptr || type->asString() == nullptr || *type->asString() != "stdio") {
    return std::string("its \"type\" is not \"stdio\"");
  }
  const AnyValue* path = object->find("path");
  const std::string* executable = path != nullptr ? path->asString() : nullptr;
  if (executable == nullptr || !executable->starts_with("/")) {
    return std::string("its \"path\" is not an absolute path");
  }
  const char* member = kind == BrowserKind::firefox ? "allowed_extensions" : "allowed_origins";
  const AnyValue* allowed = object->find(member);
  const AnyArray* list = allowed != nullptr ? allowed->asArray() : nullptr;
  if (list == nullptr) return "it has no \"" + std::string(member) + "\" list";
  ManifestSummary summary{*executable, {}};
  constexpr std::string_view kScheme = "chrome-extension://";
  for (const AnyValue& item : *list) {
    const std::string* text = item.asString();
    if (text == nullptr) continue;
    std::string id = *text;
    if (kind == BrowserKind::chromium) {
      if (!id.starts_with(kScheme) || !id.ends_with("/")) continue;
      id = id.substr(kScheme.size(), id.size() - kScheme.size() - 1);
    }
    if (!id.empty()) summary.allowedIds.push_back(std::move(id));
  }
  if (summary.allowedIds.empty()) {
    return "its \"" + std::string(member) + "\" allows no extension";
  }
  return summary;
}

std::vector<std::string> browserArguments(BrowserKind kind, const std::string& manifestPath,
                                          const std::string& extensionId) {
  if (kind == BrowserKind::firefox) return {manifestPath, extensionId};
  return {"chrome-extension://" + extensionId + "/"};
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
  const auto& summary = std::get<ManifestSummary>(facts.manifest);
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
