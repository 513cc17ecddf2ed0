#include "doctor/confinement_check.h"

namespace ostrela::doctor {

void checkConfinement(const ConfinementFacts& facts, DoctorReport& report) {
  const std::string seccomp = facts.seccomp ? ", seccomp filter" : ", no seccomp filter";
  if (facts.landlockAbi == 0) {
    report.add(
        "confinement", CheckState::warning,
        "OstrelaExtension runs without Landlock" + seccomp + ": it may read all the user's files",
        "use a kernel with Landlock enabled (Linux 5.13 or later, \"landlock\" in lsm=)");
    return;
  }
  const std::string landlock = "Landlock ABI " + std::to_string(facts.landlockAbi);
  if (facts.landlockAbi < 4) {
    report.add("confinement", CheckState::info,
               "OstrelaExtension confines itself with " + landlock +
                   " (files; network rules need ABI 4, Linux 6.7)" + seccomp);
    return;
  }
  report.add("confinement", facts.seccomp ? CheckState::passed : CheckState::info,
             "OstrelaExtension confines itself with " + landlock + " (files and TCP)" + seccomp);
}

}  // namespace ostrela::doctor
