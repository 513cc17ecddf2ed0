// The request context the extension runtime hands to the handler, shaped after
// the platform's: a list of input items, the first of which carries the native
// message in its user info under SFExtensionMessageKey; completing the request
// returns one item whose user info carries the reply.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/any_value.h"
#include "core/json.h"

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

  // When the message arrived, when the runtime knows: a relayed message's budget counts from it.
  virtual std::optional<std::chrono::steady_clock::time_point> arrival() const {
    return std::nullopt;
  }
  // The first item's message, `message`, as compact JSON for the agent; nothing
  // when JSON cannot carry it. A runtime that hands over only the members
  // routing reads of a large message writes the whole from its own copy.
  virtual std::optional<std::string> encodeMessage(const AnyMap& message) const {
    return encodeJson(message);
  }
};

}  // namespace ostrela
