// Answers native messages given one per line on stdin, as JSON, with the
// extension's core over this machine's preference files: "getManagedConfig"
// from the managed configuration, errors at once, and for relayed messages
// the exact request the agent would receive.
#include <iostream>
#include <string>

#include "core/json.h"
#include "extension/forced_key_report.h"
#include "extension/native_route.h"
#include "extension/outcome_log.h"
#include "platform/linux/file_preference_stores.h"
#include "platform/linux/process_loggers.h"

namespace {

std::string encoded(const ostrela::AnyMap& map) {
  return ostrela::encodeJson(ostrela::AnyValue(map)).value_or("{}");
}

}  // namespace

int main() {
  using namespace ostrela;
  const linux_platform::FilePreferenceStores stores(
      linux_platform::XdgDirectories::fromEnvironment(), "com.ostrela.safari-extension.extension");
  const Logger& logger = linux_platform::extensionLogger();

  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.empty()) continue;
    const std::optional<AnyValue> message = decodeJson(line);
    const AnyValue* typeValue = member(message, "type");
    const std::string label =
        typeValue && typeValue->isString() ? *typeValue->asString() : std::string("(none)");
    std::cout << "message: " << line << "\n";

    const NativeRoute next = route(message);
    if (const auto* relay = std::get_if<RelayRoute>(&next)) {
      const char* budget =
          relay->request.budget == AgentRelayBudget::identity ? "identity, 3 s" : "redaction, 10 s";
      std::cout << "  relay:  POST " << relay->request.path << " (" << budget << ") body "
                << relay->request.body << "\n";
      continue;
    }
    NativeReply reply;
    if (const auto* local = std::get_if<ManagedConfigRoute>(&next)) {
      const auto reader = ManagedConfigurationReader::fromUserDefaults(stores);
      const ForcedKeyReport report = forcedKeyReport(reader);
      reply = managedConfigReply(reader.managedConfiguration(), report.unrecognizedForcedKeys,
                                 report.isDoubleWrappedProfile, local->id);
    } else {
      reply = std::get<ReplyRoute>(next).reply;
    }
    std::cout.flush();
    logOutcome(logger, "Answered", label.c_str(), true, reply);
    std::cout << "  reply:  " << encoded(reply.payload) << "\n";
  }
  return 0;
}
