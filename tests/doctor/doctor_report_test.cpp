// The checklist an administrator reads on a terminal: text from other
// accounts' files cannot move the cursor, clear lines or forge a line.
#include "doctor/doctor_report.h"

#include <gtest/gtest.h>

namespace ostrela::doctor {
namespace {

TEST(DoctorReport, ControlCharactersInTheTextAreEscaped) {
  DoctorReport report;
  report.add("Chromium", CheckState::failed, "allows \x1b[1A\x1b[2Kx\n[ ok ] forged", "rm \x07");
  EXPECT_EQ(checklistText(report),
            "[FAIL] Chromium: allows \\u001b[1A\\u001b[2Kx\\n[ ok ] forged\n"
            "       -> rm \\u0007\n"
            "The extension will not work as intended here: see the lines marked FAIL.\n");
}

}  // namespace
}  // namespace ostrela::doctor
