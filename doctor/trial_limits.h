// How long the doctor lets the hosts it starts take: each trial has a limit of
// its own, and the whole run ends within kRunLimit, so that a fleet's script
// gets its answer whatever the hosts do.
#pragma once

#include <chrono>

namespace ostrela::doctor {

// getManagedConfig is answered from files: no agent, no network. The trials of
// the registrations run side by side, one per program they name.
inline constexpr std::chrono::milliseconds kRoundTripLimit{5000};
// The relay's longest budget (10 s) and a start.
inline constexpr std::chrono::milliseconds kRelayTrialLimit{12000};
// The whole run. A trial started late gets what is left of it, less
// kEndingReserve for ending an overrunning host (SIGTERM, 0.5 s, SIGKILL) and
// printing.
inline constexpr std::chrono::milliseconds kRunLimit{20000};
inline constexpr std::chrono::milliseconds kEndingReserve{1000};

}  // namespace ostrela::doctor
