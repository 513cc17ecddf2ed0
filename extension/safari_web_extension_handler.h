// The extension's request entry: takes each native message out of its request
// context, routes it, answers it locally or through the agent relay, logs the
// outcome and completes the request exactly once.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/logger.h"
#include "extension/agent_relay_tasks.h"
#include "extension/extension_context.h"
#include "shared/preference_domain.h"

namespace ostrela {

// The message under SFExtensionMessageKey in the first input item's user
// info, unchanged and not copied (it lives as long as the context); null when
// any step finds nothing.
const AnyValue* extensionMessage(const ExtensionContext& context);

// The message's "type" when it is a string (empty included), else "(none)".
std::string typeLabel(const AnyValue* message);
inline std::string typeLabel(const std::optional<AnyValue>& message) {
  return typeLabel(message ? &*message : nullptr);
}

// Stateless; any number of requests may be in progress at once.
class SafariWebExtensionHandler {
 public:
  SafariWebExtensionHandler(const PreferenceStores& stores, const Logger& logger,
                            AgentRelayTasks& relayTasks)
      : stores_(stores), logger_(logger), relayTasks_(relayTasks) {}

  // Runs on the caller's thread and never blocks: local answers complete
  // before it returns; a relayed message completes later on a worker thread.
  void beginRequestWithExtensionContext(std::shared_ptr<ExtensionContext> context) const;

 private:
  const PreferenceStores& stores_;
  const Logger& logger_;
  AgentRelayTasks& relayTasks_;
};

}  // namespace ostrela
