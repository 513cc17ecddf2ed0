#include "platform/linux/doctor/machine_facts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "core/json.h"
#include "doctor/trial_limits.h"
#include "extension/relay/agent_url.h"
#include "platform/linux/browsers/host_manifest_file.h"
#include "platform/linux/file_descriptor.h"
#include "platform/linux/http/listener_account.h"
#include "platform/linux/native_messaging/native_host_client.h"
#include "platform/linux/passwd_file.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "platform/linux/preferences/managed_preferences_trust.h"
#include "platform/linux/preferences/preference_file.h"
#include "shared/bundle_identifiers.h"
#include "shared/managed_configuration_key.h"

namespace ostrela::linux_platform {
namespace {

// From /etc/passwd itself: the doctor is linked statically, without NSS.
std::string accountName(uid_t uid) {
  const auto entry = passwdEntryForUid(uid);
  return entry ? entry->name : "uid " + std::to_string(uid);
}

std::optional<std::string> executableProblem(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::string("missing");
  if (!S_ISREG(info.st_mode)) return std::string("not a regular file");
  if (::access(path.c_str(), X_OK) != 0) return std::string("not executable");
  return std::nullopt;
}

doctor::RegistrationFacts registration(const Browser& browser,
                                       const BrowserEnvironment& environment,
                                       const std::string& hostName) {
  doctor::RegistrationFacts facts;
  facts.browser = browser.name;
  facts.hostName = hostName;
  facts.family = browser.family;
  const auto found = findManifest(browser, environment, hostName);
  if (!found) return facts;
  facts.manifestPath = found->path.string();
  facts.manifest = found->manifest;
  facts.perUser = found->perUser;
  if (!browser.policyFolder.empty()) {
    facts.policies = browserPolicyFiles(
        environment.systemRoot / std::filesystem::path(browser.policyFolder).relative_path());
  }
  const auto* manifest = std::get_if<HostManifest>(&facts.manifest);
  if (manifest == nullptr) return facts;
  facts.executableProblem = executableProblem(manifest->executable);
  if (!facts.executableProblem) {
    facts.executableProblem = whyRootMayNotStart(found->path, manifest->executable);
  }
  return facts;
}

std::optional<std::string> sessionProblem(const HostSession& session) {
  return session.failure.empty() ? doctor::roundTripProblem(session.replies, session.exitStatus)
                                 : std::optional(session.failure);
}

// The program a registration would have its browser start, when it may be started.
const std::string* startableHost(const doctor::RegistrationFacts& facts) {
  const auto* manifest = std::get_if<HostManifest>(&facts.manifest);
  return manifest != nullptr && !facts.executableProblem ? &manifest->executable : nullptr;
}

// One getManagedConfig trial per program that the registrations name (started
// as the first of them would start it), all side by side: a host that never
// answers costs the check its limit once, however often it is registered.
void tryRoundTrips(std::vector<doctor::RegistrationFacts>& registrations) {
  struct Trial {
    std::string executable;
    std::vector<std::string> arguments;
    std::optional<std::string> problem;
  };
  std::vector<Trial> trials;
  for (const doctor::RegistrationFacts& facts : registrations) {
    const std::string* executable = startableHost(facts);
    if (executable == nullptr || std::any_of(trials.begin(), trials.end(), [&](const Trial& trial) {
          return trial.executable == *executable;
        })) {
      continue;
    }
    const auto& manifest = std::get<HostManifest>(facts.manifest);
    trials.push_back(
        {*executable,
         browserArguments(facts.family, facts.manifestPath, manifest.allowedIds.front()),
         std::nullopt});
  }
  {
    std::vector<std::jthread> running;
    for (Trial& trial : trials) {
      running.emplace_back([&trial] {
        trial.problem = sessionProblem(runHost(trial.executable, trial.arguments,
                                               {std::string(doctor::kRoundTripMessage)},
                                               doctor::kRoundTripLimit));
      });
    }
  }  // every trial has ended here
  for (doctor::RegistrationFacts& facts : registrations) {
    const std::string* executable = startableHost(facts);
    if (executable == nullptr) continue;
    facts.roundTripProblem = std::find_if(trials.begin(), trials.end(), [&](const Trial& trial) {
                               return trial.executable == *executable;
                             })->problem;
  }
}

// The agent's address as the kernel writes it.
TcpEndpoint agentEndpoint() {
  TcpEndpoint endpoint;
  endpoint.family = AF_INET;
  endpoint.port = kAgentPort;
  ::inet_pton(AF_INET, std::string(kAgentHost).c_str(), endpoint.address.data());
  return endpoint;
}

// A connection to the agent's address, with 2 s limits on connecting, sending
// and receiving; invalid when nothing accepts there.
FileDescriptor connectToAgent() {
  FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return fd;
  timeval timeout{2, 0};
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kAgentPort);
  std::memcpy(&address.sin_addr, agentEndpoint().address.data(), 4);
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fd.reset();
  }
  return fd;
}

// Nothing when a GET on `connection` gets an HTTP status line within 2 s.
std::optional<std::string> httpProblem(const FileDescriptor& connection) {
  const std::string request =
      "GET / HTTP/1.1\r\nHost: " + std::string(kAgentHost) + "\r\nConnection: close\r\n\r\n";
  char head[16] = {};
  if (::send(connection.get(), request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    return "cannot send a request";
  }
  if (::recv(connection.get(), head, sizeof head - 1, MSG_WAITALL) < 7 ||
      std::string_view(head).substr(0, 7) != "HTTP/1.") {
    return "no HTTP status line within 2 s";
  }
  return std::nullopt;
}

}  // namespace

std::vector<doctor::BrowserPolicyFile> browserPolicyFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> paths;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().extension() == ".json") paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<doctor::BrowserPolicyFile> files;
  for (const auto& path : paths) {
    const SmallFile file = readSmallRegularFile(path);
    std::optional<AnyValue> value = file.text ? decodeJson(*file.text) : std::nullopt;
    std::optional<AnyMap> contents;
    if (value && value->isMap()) contents = std::move(*value->asMap());
    files.push_back({path.string(), std::move(contents)});
  }
  return files;
}

doctor::PolicyFacts policyFacts(const std::filesystem::path& folder, std::string_view domain) {
  const auto file = folder / (std::string(domain) + ".json");
  doctor::PolicyFacts facts{file.string(), false, {}, {}};
  std::error_code error;
  facts.present = std::filesystem::exists(std::filesystem::symlink_status(file, error));
  if (!facts.present) return facts;
  ManagedPreferencesRead read = readManagedPreferences(file);
  facts.untrustedReason = std::move(read.untrustedReason);
  facts.contents = std::move(read.contents);
  return facts;
}

doctor::AppGroupFacts appGroupFacts(const XdgDirectories& directories) {
  const FilePreferenceStores stores(directories, {}, extensionBundleIdentifier);
  const auto file = stores.suiteFile(appGroupSuiteName);
  doctor::AppGroupFacts facts{file.string(), false, {}, {}};
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) return facts;
  facts.present = true;
  if (info.st_uid != ::geteuid()) {
    facts.accessProblem = "owned by " + accountName(info.st_uid) + ", not by this user";
  } else if ((info.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", info.st_mode & 07777);
    facts.accessProblem = std::string("open to other accounts (mode ") + mode + ")";
  }
  facts.contents = readPreferenceFile(file);
  return facts;
}

std::vector<doctor::RegistrationFacts> registrationFacts(const BrowserEnvironment& environment) {
  std::vector<doctor::RegistrationFacts> all;
  for (const Browser& browser : browserTable()) {
    bool hasManifest = false;
    for (std::string_view name : kNativeHostNames) {
      hasManifest = hasManifest || findManifest(browser, environment, std::string(name));
    }
    if (!hasManifest && !findBrowserProgram(browser, environment)) continue;
    for (std::string_view name : kNativeHostNames) {
      all.push_back(registration(browser, environment, std::string(name)));
    }
  }
  tryRoundTrips(all);
  return all;
}

doctor::AgentFacts agentFacts(bool relay, const std::filesystem::path& host,
                              const std::vector<std::string>& arguments,
                              std::chrono::steady_clock::time_point runEnds) {
  doctor::AgentFacts facts;
  // The relay's own way and rule: the account of the listener that accepted
  // this connection, checked before anything is written on it.
  const FileDescriptor connection = connectToAgent();
  if (!connection.valid()) {
    // A listener whose queue is full takes no connection: it is there all the same.
    const std::optional<uid_t> owner = listeningAccount(agentEndpoint());
    facts.listening = owner.has_value();
    facts.accepting = false;
    if (owner) facts.owner = accountName(*owner);
    if (owner && !isAcceptableAgentAccount(*owner)) {
      facts.ownerProblem = "the listening process belongs to another user";
    }
    return facts;
  }
  facts.listening = true;
  const ListenerAccounts accounts = listenerAccounts(connection.get());
  const std::optional<uid_t> owner = agentAccountToName(accounts);
  facts.owner = owner ? accountName(*owner) : "an unknown account";
  facts.ownerProblem = whyAgentAccountIsRefused(accounts);
  if (facts.ownerProblem) return facts;
  facts.httpProblem = httpProblem(connection);
  if (!relay || host.empty()) return facts;
  facts.relayTried = true;
  const AnyMap message{
      {"type", "getToken"}, {"host", std::string(kIdentityHost)}, {"id", "doctor"}};
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(runEnds - doctor::kEndingReserve -
                                                                 std::chrono::steady_clock::now());
  facts.relayProblem = sessionProblem(
      runHost(host, arguments, {*encodeJson(message)},
              std::clamp(left, std::chrono::milliseconds(0), doctor::kRelayTrialLimit)));
  return facts;
}

}  // namespace ostrela::linux_platform
