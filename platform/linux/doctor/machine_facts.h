// What the admin check reads from this machine, as facts for doctor/'s checks.
// Each function reads files or starts processes; none writes anything.
#pragma once

#include <chrono>
#include <filesystem>
#include <vector>

#include "doctor/agent_checks.h"
#include "doctor/app_group_checks.h"
#include "doctor/policy_checks.h"
#include "doctor/registration_checks.h"
#include "platform/linux/browsers/browser_registrations.h"
#include "platform/linux/xdg_directories.h"

namespace ostrela::linux_platform {

// The forced-preferences file of `domain` in `folder`, checked and read as the
// extension and the host application do.
doctor::PolicyFacts policyFacts(const std::filesystem::path& folder, std::string_view domain);

// The JSON files of a browser's managed policies folder, sorted by name.
std::vector<doctor::BrowserPolicyFile> browserPolicyFiles(const std::filesystem::path& folder);

doctor::AppGroupFacts appGroupFacts(const XdgDirectories& directories);

// For every browser installed here (or with a manifest here), each host name:
// the manifest the browser would use and, when it names a runnable host, the
// result of a getManagedConfig round trip with that program (one trial per
// program, all side by side, each within doctor::kRoundTripLimit).
std::vector<doctor::RegistrationFacts> registrationFacts(const BrowserEnvironment& environment);

// The listener on the agent's address and its account, an HTTP answer, and
// with `relay` one getToken relayed by `host` (started with `arguments`),
// within doctor::kRelayTrialLimit and ended in time for the run to end by `runEnds`.
doctor::AgentFacts agentFacts(bool relay, const std::filesystem::path& host,
                              const std::vector<std::string>& arguments,
                              std::chrono::steady_clock::time_point runEnds);

}  // namespace ostrela::linux_platform
