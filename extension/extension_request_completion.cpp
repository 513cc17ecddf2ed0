#include "extension/extension_request_completion.h"

namespace ostrela {

void ExtensionRequestCompletion::complete(AnyMap reply) {
  std::shared_ptr<ExtensionContext> context;
  {
    std::lock_guard guard(lock_);
    context = std::move(context_);
    context_.reset();
  }
  if (!context) return;
  AnyMap userInfo;
  userInfo.set(std::string(SFExtensionMessageKey), AnyValue(std::move(reply)));
  std::vector<ExtensionItem> items;
  items.push_back(ExtensionItem{std::move(userInfo)});
  context->completeRequestReturningItems(std::move(items));
}

}  // namespace ostrela
