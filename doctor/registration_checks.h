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
#include "doctor/doctor_report.h"

namespace ostrela::doctor {

// The message the check sends, and what is wrong with the host's answer to it.
inline constexpr std::string_view kRoundTripMessage =
    R"({"type":"getManagedConfig","id":"doctor"})";
std::optional<std::string> roundTripProblem(const std::vector<std::string>& replies,
                                            int exitStatus);

struct RegistrationFacts {
  std::string browser;  // "Chromium"
  std::string hostName;
  BrowserFamily family = BrowserFamily::chromium;
  std::string manifestPath;  // empty when none of the browser's folders has one
  std::variant<HostManifest, std::string> manifest = std::string("not read");
  std::optional<std::string> executableProblem;
  std::optional<std::string> roundTripProblem;
};

void checkRegistration(const RegistrationFacts& facts, DoctorReport& report);

}  // namespace ostrela::doctor
