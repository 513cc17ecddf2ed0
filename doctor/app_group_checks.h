// The App Group store that OstrelaHost publishes into and the extension reads.
#pragma once

#include <optional>
#include <string>

#include "core/any_value.h"
#include "doctor/doctor_report.h"

namespace ostrela::doctor {

struct AppGroupFacts {
  std::string file;
  bool present = false;
  std::optional<std::string> accessProblem;  // owner or mode that is not the user's alone
  std::optional<AnyMap> contents;            // nothing when it is not a JSON object
};

// Present, private to the user, `agentRelaySecret` there (its value is never
// shown), and the configuration copy equal to what OstrelaHost would publish
// from `policy`, the trusted forced values of its own domain (nothing when none).
void checkAppGroup(const AppGroupFacts& facts, const std::optional<AnyMap>& policy,
                   DoctorReport& report);

}  // namespace ostrela::doctor
