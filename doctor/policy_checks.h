// The organisation's forced preferences as the extension will see them.
#pragma once

#include <optional>
#include <string>

#include "core/any_value.h"
#include "doctor/doctor_report.h"

namespace ostrela::doctor {

struct PolicyFacts {
  std::string file;
  bool present = false;
  std::optional<std::string> untrustedReason;  // owner, mode, or why it cannot be opened
  std::optional<AnyMap> contents;              // nothing when it is not a JSON object
};

// The file's state, each of the six keys accepted or why not, and the
// unrecognised keys and double-wrapped flag exactly as the extension reports them.
void checkPolicy(const PolicyFacts& facts, DoctorReport& report);

}  // namespace ostrela::doctor
