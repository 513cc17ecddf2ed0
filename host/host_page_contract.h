// What the host window's code and its page (a resource) agree on, and the
// extension the window reports on.
#pragma once

#include <string>
#include <string_view>

#include "core/json.h"
#include "shared/bundle_identifiers.h"

namespace ostrela {

// The bundle identifier of the extension, as the host names it to the browser.
inline constexpr std::string_view kExtensionIdentifier = extensionBundleIdentifier;

// The page is the resource "Main" of type "html"; the window's interface description sits beside
// it.
inline constexpr std::string_view kPageResourceName = "Main";
inline constexpr std::string_view kPageResourceType = "html";
inline constexpr std::string_view kWindowDescriptionFile = "Main.ui";

// "Main.html": the page's file in the resource folder.
inline std::string pageFileName() {
  return std::string(kPageResourceName) + "." + std::string(kPageResourceType);
}

// The page posts kOpenPreferencesMessage through the script message handler kScriptMessageHandler.
inline constexpr std::string_view kScriptMessageHandler = "controller";
inline constexpr std::string_view kOpenPreferencesMessage = "open-preferences";

// "show(true, true)" or "show(false, true)": the page's report of the extension's state.
// A `description` goes as a third argument, a JSON string the page shows as its detail.
inline std::string showScript(bool isEnabled, std::string_view description = {}) {
  std::string script = std::string("show(") + (isEnabled ? "true" : "false") + ", true";
  if (!description.empty()) {
    script += ", " + encodeJson(AnyValue(std::string(description))).value_or("\"\"");
  }
  return script + ")";
}

// Beyond the two above, for what the window does itself. Called with the argument `reason`, a
// string: the page says that the extension's settings could not be opened, and why.
inline constexpr std::string_view kSettingsFailureCall = "showSettingsFailure(reason)";

// The page keeps its state's headline as its title; this function body returns that headline, a
// line break and the state's detail, which the window gives screen readers.
inline constexpr std::string_view kStateTextCall =
    "return document.title + '\\n' + document.getElementById('status-detail').textContent";

}  // namespace ostrela
