// What the host application asks of the browser that runs its extension: is
// the extension enabled, and show its settings to the user.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace ostrela {

struct ExtensionState {
  bool isEnabled = false;
  // One sentence naming the browser, such as "Firefox has the Ostrela extension installed
  // but turned off."; empty when there is nothing to add to the state.
  std::string description;
};

// Why a request could not be answered, in words for a log or a developer.
struct BrowserIntegrationError {
  std::string message;
};

using ExtensionStateResult = std::variant<ExtensionState, BrowserIntegrationError>;

// Both requests return at once. Each completion is called exactly once, on a
// thread of the integration's choosing (never the caller's main thread), so a
// caller that touches its user interface must move back to its own thread.
class BrowserIntegration {
 public:
  virtual ~BrowserIntegration() = default;

  virtual void getStateOfExtension(std::string_view identifier,
                                   std::function<void(ExtensionStateResult)> completion) = 0;

  // The completion receives the error when the settings could not be shown.
  virtual void showPreferencesForExtension(
      std::string_view identifier,
      std::function<void(std::optional<BrowserIntegrationError>)> completion) = 0;

  // Returns once every completion of the requests made so far has been called,
  // so that the caller can run the work they handed back before it tears down.
  virtual void drain() = 0;
};

}  // namespace ostrela
