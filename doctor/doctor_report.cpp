#include "doctor/doctor_report.h"

#include <algorithm>

#include "core/any_value.h"
#include "core/json.h"
#include "core/logger.h"

namespace ostrela::doctor {
namespace {

const char* stateName(CheckState state) {
  switch (state) {
    case CheckState::passed:
      return "ok";
    case CheckState::warning:
      return "warning";
    case CheckState::failed:
      return "failed";
    case CheckState::info:
      return "info";
  }
  return "info";
}

const char* stateMark(CheckState state) {
  switch (state) {
    case CheckState::passed:
      return "[ ok ] ";
    case CheckState::warning:
      return "[warn] ";
    case CheckState::failed:
      return "[FAIL] ";
    case CheckState::info:
      return "[    ] ";
  }
  return "[    ] ";
}

}  // namespace

void DoctorReport::add(std::string area, CheckState state, std::string text, std::string remedy) {
  lines.push_back({std::move(area), state, std::move(text), std::move(remedy)});
}

bool DoctorReport::everythingNeededWorks() const {
  return std::none_of(lines.begin(), lines.end(),
                      [](const CheckLine& line) { return line.state == CheckState::failed; });
}

std::string checklistText(const DoctorReport& report) {
  std::string text;
  for (const CheckLine& line : report.lines) {
    // Texts come from files that other accounts may have written: no terminal escapes.
    text += stateMark(line.state) + escapeControlCharacters(line.area + ": " + line.text) + "\n";
    if (!line.remedy.empty()) text += "       -> " + escapeControlCharacters(line.remedy) + "\n";
  }
  text += report.everythingNeededWorks()
              ? "The extension can work on this machine.\n"
              : "The extension will not work as intended here: see the lines marked FAIL.\n";
  return text;
}

std::string reportJson(const DoctorReport& report) {
  AnyArray checks;
  for (const CheckLine& line : report.lines) {
    AnyMap check{{"area", line.area}, {"state", stateName(line.state)}, {"text", line.text}};
    if (!line.remedy.empty()) check.set("remedy", line.remedy);
    checks.push_back(std::move(check));
  }
  const AnyMap root{{"ok", report.everythingNeededWorks()}, {"checks", std::move(checks)}};
  // Texts come from files of this machine; invalid UTF-8 in one is the only way to fail.
  return encodeJson(root).value_or(R"({"ok":false,"checks":[]})");
}

}  // namespace ostrela::doctor
