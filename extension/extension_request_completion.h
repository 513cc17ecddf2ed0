// The right to complete one request, exercised at most once.
#pragma once

#include <memory>
#include <mutex>

#include "core/any_value.h"
#include "extension/extension_context.h"

namespace ostrela {

// Shared by the handler and, for a relayed message, by its detached task.
// complete() may be called from any thread; of any number of calls exactly one
// completes the request. Destroying the object does not complete the request.
class ExtensionRequestCompletion {
 public:
  explicit ExtensionRequestCompletion(std::shared_ptr<ExtensionContext> context)
      : context_(std::move(context)) {}

  void complete(AnyMap reply);

 private:
  std::mutex lock_;
  std::shared_ptr<ExtensionContext> context_;  // guarded by lock_; empty once completed
};

}  // namespace ostrela
