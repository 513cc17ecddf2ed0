// The admin check's result: one line per thing checked, each failing line
// saying what to do about it, read by a person or, as JSON, by fleet tools.
#pragma once

#include <string>
#include <vector>

namespace ostrela::doctor {

// `failed` means the extension will not work as the organisation intends;
// `warning` means it works but something deserves a look.
enum class CheckState { passed, warning, failed, info };

struct CheckLine {
  std::string area;  // "Chromium", "managed preferences", "App Group", "agent"
  CheckState state;
  std::string text;
  std::string remedy;  // what to do; empty for passed and info lines
};

struct DoctorReport {
  std::vector<CheckLine> lines;

  void add(std::string area, CheckState state, std::string text, std::string remedy = {});
  // True when no line failed: exit status 0.
  bool everythingNeededWorks() const;
};

// "[ ok ] area: text", "[FAIL] area: text\n       -> remedy", a summary at the end.
std::string checklistText(const DoctorReport& report);

// {"ok":bool,"checks":[{"area","state","text","remedy"}...]}
std::string reportJson(const DoctorReport& report);

}  // namespace ostrela::doctor
