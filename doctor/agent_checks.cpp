#include "doctor/agent_checks.h"

#include "extension/relay/agent_url.h"

namespace ostrela::doctor {

void checkAgent(const AgentFacts& facts, DoctorReport& report) {
  constexpr const char* kArea = "agent";
  const std::string address = std::string(kAgentHost) + ":" + std::to_string(kAgentPort);
  if (!facts.listening) {
    report.add(kArea, CheckState::failed, "nothing listens on " + address,
               "start the Ostrela agent (and enable it at boot)");
    return;
  }
  if (facts.ownerProblem) {
    report.add(kArea, CheckState::failed,
               address + " (account " + facts.owner + "): " + *facts.ownerProblem,
               "stop that program and start the Ostrela agent; the extension never sends its "
               "secret to another account's listener");
    return;
  }
  if (!facts.accepting) {
    report.add(kArea, CheckState::failed,
               address + " listens (account " + facts.owner + ") but accepts no connection",
               "restart the Ostrela agent; it may be stuck or overloaded");
    return;
  }
  report.add(kArea, CheckState::passed, address + " listens, account " + facts.owner);
  if (facts.httpProblem) {
    report.add(kArea, CheckState::failed, "no HTTP answer: " + *facts.httpProblem,
               "restart the Ostrela agent");
  } else {
    report.add(kArea, CheckState::passed, "answers HTTP");
  }
  if (!facts.relayTried) return;
  if (facts.relayProblem) {
    report.add(kArea, CheckState::failed, "relayed getToken: " + *facts.relayProblem,
               "check agentRelaySecret against the agent's, and the agent's log");
  } else {
    report.add(kArea, CheckState::passed, "relayed getToken answered");
  }
}

}  // namespace ostrela::doctor
