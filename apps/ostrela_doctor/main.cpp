// ostrela-doctor: tells an administrator whether the Ostrela extension will
// work on this machine for the user running it, and what to do when not.
#include <getopt.h>

#include <chrono>
#include <iostream>
#include <string>

#include "doctor/agent_checks.h"
#include "doctor/app_group_checks.h"
#include "doctor/confinement_check.h"
#include "doctor/extension_state_check.h"
#include "doctor/policy_checks.h"
#include "doctor/registration_checks.h"
#include "doctor/trial_limits.h"
#include "platform/linux/browsers/extension_records.h"
#include "platform/linux/confinement/process_confinement.h"
#include "platform/linux/doctor/machine_facts.h"
#include "platform/linux/preferences/managed_preferences_trust.h"
#include "shared/bundle_identifiers.h"

namespace {

constexpr const char* kUsage = R"(usage: ostrela-doctor [--json] [--relay]

Checks, for the user who runs it: each browser's native-messaging manifests
and a getManagedConfig round trip with the host, the organisation's managed
preferences, the App Group store, and the agent on 127.0.0.1:47653. Each
program that the manifests name is tried once, within 5 s; the whole check
ends within 20 s.

  --json   print the checks as JSON, for fleet tools
  --relay  also relay one getToken message through the agent

Exit status: 0 when everything needed works, 1 otherwise, 2 on a usage error.
)";

}  // namespace

int main(int argc, char** argv) {
  using namespace ostrela;
  const auto runEnds = std::chrono::steady_clock::now() + doctor::kRunLimit;
  bool json = false;
  bool relay = false;
  const option options[] = {{"json", no_argument, nullptr, 'j'},
                            {"relay", no_argument, nullptr, 'r'},
                            {"help", no_argument, nullptr, 'h'},
                            {nullptr, 0, nullptr, 0}};
  for (int option = 0; (option = ::getopt_long(argc, argv, "h", options, nullptr)) != -1;) {
    if (option == 'j') {
      json = true;
    } else if (option == 'r') {
      relay = true;
    } else if (option == 'h') {
      std::cout << kUsage;
      return 0;
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }
  if (optind != argc) {
    std::cerr << kUsage;
    return 2;
  }

  doctor::DoctorReport report;
  const auto browsers = linux_platform::BrowserEnvironment::fromEnvironment();
  if (!browsers.userFolders) {
    report.add("browsers", doctor::CheckState::info,
               "per-user manifest folders are not read as root: run ostrela-doctor as the user "
               "to check that user's registrations");
  }
  const auto registrations = linux_platform::registrationFacts(browsers);
  if (registrations.empty()) {
    report.add("browsers", doctor::CheckState::failed, "no supported browser found",
               "install a supported browser");
  }
  std::filesystem::path relayHost;
  std::vector<std::string> relayArguments;
  for (const auto& registration : registrations) {
    doctor::checkRegistration(registration, report);
    const auto* manifest = std::get_if<HostManifest>(&registration.manifest);
    if (relayHost.empty() && manifest != nullptr && !registration.executableProblem) {
      relayHost = manifest->executable;
      relayArguments = browserArguments(registration.family, registration.manifestPath,
                                        manifest->allowedIds.front());
    }
  }

  doctor::checkExtensionPresence(
      linux_platform::extensionPresence(browsers,
                                        {std::string(kIdentityHost), std::string(kRedactionHost)}),
      report);

  const auto folder = linux_platform::managedPreferencesFolder();
  doctor::checkPolicy(linux_platform::policyFacts(folder, extensionBundleIdentifier), report);
  // OstrelaHost publishes what its own domain's file forces, so the copy is compared with that.
  const doctor::PolicyFacts hostPolicy = linux_platform::policyFacts(folder, hostBundleIdentifier);
  doctor::checkAppGroup(
      linux_platform::appGroupFacts(linux_platform::XdgDirectories::fromEnvironment()),
      hostPolicy.untrustedReason ? std::nullopt : hostPolicy.contents, report);
  doctor::checkAgent(linux_platform::agentFacts(relay, relayHost, relayArguments, runEnds), report);
  doctor::checkConfinement(
      {linux_platform::kernelLandlockAbi(), linux_platform::kernelTakesSeccompFilters()}, report);

  std::cout << (json ? doctor::reportJson(report) + "\n" : doctor::checklistText(report));
  return report.everythingNeededWorks() ? 0 : 1;
}
