// The bearer secret with which the extension identifies itself to the agent.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "shared/preference_domain.h"

namespace ostrela {

inline constexpr std::string_view kAgentRelaySecretKey = "agentRelaySecret";

// "agentRelaySecret" of the App Group suite, opened for reading anew on every
// call so that a secret written between two messages is used from the second.
// Nothing when the suite cannot be opened, the key is missing, its value is
// not a string (strings only: a number is no secret), or the string is empty.
// Otherwise the string exactly as stored. Any thread; takes no lock of its own.
std::optional<std::string> relaySecret(const PreferenceStores& stores);

}  // namespace ostrela
