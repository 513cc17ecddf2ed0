#include "tests/support/scripted_browser_integration.h"

#include <fstream>

namespace ostrela {

ScriptedBrowserIntegration::ScriptedBrowserIntegration(std::filesystem::path folder)
    : folder_(std::move(folder)) {}

void ScriptedBrowserIntegration::getStateOfExtension(
    std::string_view identifier, std::function<void(ExtensionStateResult)> completion) {
  worker_.post([this, line = "getStateOfExtension " + std::string(identifier),
                completion = std::move(completion)] {
    record(line);
    const std::string state = read("state");
    if (state == "enabled" || state == "disabled") {
      completion(ExtensionState{state == "enabled", read("description")});
    } else {
      completion(BrowserIntegrationError{"scripted state is '" + state + "'"});
    }
  });
}

void ScriptedBrowserIntegration::showPreferencesForExtension(
    std::string_view identifier,
    std::function<void(std::optional<BrowserIntegrationError>)> completion) {
  worker_.post([this, line = "showPreferencesForExtension " + std::string(identifier),
                completion = std::move(completion)] {
    record(line);
    if (read("settings") == "fail") {
      completion(BrowserIntegrationError{"scripted settings failure"});
    } else {
      completion(std::nullopt);
    }
  });
}

void ScriptedBrowserIntegration::record(const std::string& line) const {
  std::ofstream(folder_ / "calls", std::ios::app) << line << '\n' << std::flush;
}

// The file's first word, or "" when it cannot be read.
std::string ScriptedBrowserIntegration::read(const char* name) const {
  std::ifstream in(folder_ / name);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace ostrela
