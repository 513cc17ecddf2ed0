// The checklist an administrator reads on a terminal: text from other
// accounts' files cannot move the cursor, clear lines or forge a line.
#include "doctor/doctor_report.h"

#include <gtest/gtest.h>

namespace ostrela::doctor {
namespace {

TEST(DoctorReport, ControlCharactersInTheTextAreEscaped) {
  DoctorReport report;
  report.add("Chromium", CheckState::passed, "manifest allows \x1b[1A\x1b[2Kevil\n[ ok ] forged",
             "remove \x1b]0;title\x07");
  const std::string text = checklistText(report);
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
  EXPECT_NE(
      text.find("[ ok ] Chromium: manifest allows \\u001b[1A\\u001b[2Kevil\\n[ ok ] forged\n"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("-> remove \\u001b]0;title\\u0007\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace ostrela::doctor
