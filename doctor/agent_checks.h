// The local agent the extension relays to, at kAgentHost:kAgentPort.
#pragma once

#include <optional>
#include <string>

#include "doctor/doctor_report.h"

namespace ostrela::doctor {

struct AgentFacts {
  bool listening = false;
  bool accepting = true;                    // false: its queue is full, or it never accepts
  std::optional<std::string> ownerProblem;  // why the relay would refuse the listener
  std::string owner;                        // the listener's account, for the line
  std::optional<std::string> httpProblem;   // nothing when it answered HTTP
  bool relayTried = false;                  // only when asked for
  std::optional<std::string> relayProblem;
};

void checkAgent(const AgentFacts& facts, DoctorReport& report);

}  // namespace ostrela::doctor
