// A browser's registration of the native-messaging host: the manifest it
// would find, what it names, and whether the host answers when started the
// way that browser starts it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "browsers/host_manifest.h"
#include "core/any_value.h"
#include "doctor/doctor_report.h"

namespace ostrela::doctor {

// The message the check sends, and what is wrong with the host's answer to it.
inline constexpr std::string_view kRoundTripMessage =
    R"({"type":"getManagedConfig","id":"doctor"})";
std::optional<std::string> roundTripProblem(const std::vector<std::string>& replies,
                                            int exitStatus);

// One JSON file of a Chromium-family browser's managed policies folder.
struct BrowserPolicyFile {
  std::string path;
  std::optional<AnyMap> contents;  // nothing when it is not a readable JSON object
};

// Why the browser's policies (NativeMessagingBlocklist, NativeMessagingAllowlist,
// NativeMessagingUserLevelHosts) keep it from starting `hostName` from a manifest
// in the user's folder (`perUser`) or the system's, naming the policy and the
// file that sets it; nothing when they let it start. Of files that set the same
// policy, the last in the order of their names wins, as in the browser.
std::optional<std::string> whyPoliciesBlockHost(const std::vector<BrowserPolicyFile>& files,
                                                std::string_view hostName, bool perUser);

struct RegistrationFacts {
  std::string browser;  // "Chromium"
  std::string hostName;
  BrowserFamily family = BrowserFamily::chromium;
  std::string manifestPath;  // empty when none of the browser's folders has one
  std::variant<HostManifest, std::string> manifest = std::string("not read");
  bool perUser = false;
  std::vector<BrowserPolicyFile> policies;  // sorted by name
  std::optional<std::string> executableProblem;
  std::optional<std::string> roundTripProblem;
};

void checkRegistration(const RegistrationFacts& facts, DoctorReport& report);

}  // namespace ostrela::doctor
