// The local agent the extension relays to, on 127.0.0.1:47653.
#pragma once

#include <optional>
#include <string>

#include "doctor/doctor_report.h"

namespace ostrela::doctor {

struct AgentFacts {
  bool listening = false;
  std::optional<std::string> ownerProblem;  // the listener's account, when not acceptable
  std::string owner;                        // the listener's account, for the line
  std::optional<std::string> httpProblem;   // nothing when it answered HTTP
  bool relayTried = false;                  // only when asked for
  std::optional<std::string> relayProblem;
};

void checkAgent(const AgentFacts& facts, DoctorReport& report);

}  // namespace ostrela::doctor
