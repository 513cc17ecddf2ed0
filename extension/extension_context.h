// The request context the extension runtime hands to the handler, shaped after
// the platform's: a list of input items, the first of which carries the native
// message in its user info under SFExtensionMessageKey; completing the request
// returns one item whose user info carries the reply.
#pragma once

#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "core/any_value.h"

namespace ostrela {

inline constexpr std::string_view SFExtensionMessageKey = "message";

struct ExtensionItem {
  // Absent when the item has no user info at all.
  std::optional<AnyMap> userInfo;
};

// An input item that is not an extension item (the runtime may hand over other objects).
struct ForeignInputItem {};

using InputItem = std::variant<ExtensionItem, ForeignInputItem>;

// One request. Implementations are called from any thread, but complete only once.
class ExtensionContext {
 public:
  virtual ~ExtensionContext() = default;
  virtual const std::vector<InputItem>& inputItems() const = 0;
  virtual void completeRequestReturningItems(std::vector<ExtensionItem> items) = 0;
};

}  // namespace ostrela
