// A browser integration whose answers come from files, for driving the host
// application in tests without a browser. In its folder:
//   state     "enabled" or "disabled"; anything else, or no file, answers with an error
//   settings  "fail" makes showing the settings fail; anything else, or no file, succeeds
//   calls     one line appended per request, before it is answered:
//             "getStateOfExtension <identifier>" or "showPreferencesForExtension <identifier>"
// The files are read at each request, so a test may change the answers while the host runs.
#pragma once

#include <filesystem>
#include <string>

#include "host/browser_integration.h"
#include "host/serial_worker.h"

namespace ostrela {

class ScriptedBrowserIntegration : public BrowserIntegration {
 public:
  explicit ScriptedBrowserIntegration(std::filesystem::path folder);

  void getStateOfExtension(std::string_view identifier,
                           std::function<void(ExtensionStateResult)> completion) override;
  void showPreferencesForExtension(
      std::string_view identifier,
      std::function<void(std::optional<BrowserIntegrationError>)> completion) override;

 private:
  void record(const std::string& line) const;
  std::string read(const char* name) const;

  std::filesystem::path folder_;
  SerialWorker worker_;  // last: joined before the folder path goes away
};

}  // namespace ostrela
