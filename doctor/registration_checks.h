// A browser's registration of the native-messaging host: the manifest it
// would find, what it names, and whether the host answers when started the
// way that browser starts it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/any_value.h"
#include "doctor/doctor_report.h"

namespace ostrela::doctor {

enum class BrowserKind { chromium, firefox };

struct ManifestSummary {
  std::string executable;
  std::vector<std::string> allowedIds;  // extension ids, without "chrome-extension://"
};

// The manifest as the browser reads it, or why the browser would refuse it.
std::variant<ManifestSummary, std::string> readManifest(const std::optional<AnyValue>& manifest,
                                                        std::string_view hostName,
                                                        BrowserKind kind);

// The arguments the browser passes to the host: the caller's origin for
// Chromium; the manifest's path and the extension's id for Firefox.
std::vector<std::string> browserArguments(BrowserKind kind, const std::string& manifestPath,
                                          const std::string& extensionId);

// The message the check sends, and what is wrong with the host's answer to it.
inline constexpr std::string_view kRoundTripMessage =
    R"({"type":"getManagedConfig","id":"doctor"})";
std::optional<std::string> roundTripProblem(const std::vector<std::string>& replies,
                                            int exitStatus);

struct RegistrationFacts {
  std::string browser;  // "Chromium"
  std::string hostName;
  std::string manifestPath;  // empty when none of the browser's folders has one
  std::variant<ManifestSummary, std::string> manifest = std::string("not read");
  std::optional<std::string> executableProblem;
  std::optional<std::string> roundTripProblem;
};

void checkRegistration(const RegistrationFacts& facts, DoctorReport& report);

}  // namespace ostrela::doctor
