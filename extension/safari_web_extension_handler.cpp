#include "extension/safari_web_extension_handler.h"

#include "extension/extension_request_completion.h"
#include "extension/forced_key_report.h"
#include "extension/native_route.h"
#include "extension/outcome_log.h"
#include "shared/managed_configuration_reader.h"

namespace ostrela {

const AnyValue* extensionMessage(const ExtensionContext& context) {
  const std::vector<InputItem>& items = context.inputItems();
  if (items.empty()) return nullptr;
  const auto* item = std::get_if<ExtensionItem>(&items.front());
  if (item == nullptr || !item->userInfo) return nullptr;
  return item->userInfo->find(SFExtensionMessageKey);
}

std::string typeLabel(const AnyValue* message) {
  const AnyMap* object = message != nullptr ? message->asMap() : nullptr;
  const AnyValue* type = object != nullptr ? object->find("type") : nullptr;
  if (type != nullptr && type->isString()) return *type->asString();
  return "(none)";
}

void SafariWebExtensionHandler::beginRequestWithExtensionContext(
    std::shared_ptr<ExtensionContext> context) const {
  // The context stays alive (the completion holds it) until the message is routed.
  const AnyValue* message = extensionMessage(*context);
  std::string label = typeLabel(message);
  auto completion = std::make_shared<ExtensionRequestCompletion>(context);

  NativeRoute next =
      route(message, [&context](const AnyMap& object) { return context->encodeMessage(object); });
  if (auto* relay = std::get_if<RelayRoute>(&next)) {
    relay->request.arrival = context->arrival();
    const Logger& logger = logger_;
    relayTasks_.startDetached(std::move(relay->request),
                              [&logger, label = std::move(label), completion](NativeReply reply) {
                                logOutcome(logger, Handling::relayed, label, reply);
                                completion->complete(std::move(reply.payload));
                              });
    return;
  }

  NativeReply reply;
  if (const auto* local = std::get_if<ManagedConfigRoute>(&next)) {
    const auto reader = ManagedConfigurationReader::fromUserDefaults(stores_);
    AnyMap config = reader.managedConfiguration();
    const ForcedKeyReport report = forcedKeyReport(reader);
    reply = managedConfigReply(std::move(config), report.unrecognizedForcedKeys,
                               report.isDoubleWrappedProfile, local->id);
  } else {
    reply = std::move(std::get<ReplyRoute>(next).reply);
  }
  logOutcome(logger_, Handling::answeredLocally, label, reply);
  completion->complete(std::move(reply.payload));
}

}  // namespace ostrela
