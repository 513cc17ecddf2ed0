// How far this machine's kernel lets OstrelaExtension confine itself.
#pragma once

#include "doctor/doctor_report.h"

namespace ostrela::doctor {

struct ConfinementFacts {
  int landlockAbi = 0;  // 0: no Landlock
  bool seccomp = false;
};

// One line: passed with Landlock network rules and seccomp, info with less of
// Landlock, a warning with no Landlock. The extension works in every case.
void checkConfinement(const ConfinementFacts& facts, DoctorReport& report);

}  // namespace ostrela::doctor
