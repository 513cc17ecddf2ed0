#include "platform/linux/doctor/machine_facts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "core/json.h"
#include "platform/linux/file_preference_stores.h"
#include "platform/linux/host_manifest_file.h"
#include "platform/linux/http/listener_account.h"
#include "platform/linux/managed_preferences_trust.h"
#include "platform/linux/native_messaging/native_host_client.h"
#include "platform/linux/passwd_file.h"
#include "platform/linux/preference_file.h"
#include "shared/bundle_identifiers.h"
#include "shared/managed_configuration_key.h"

namespace ostrela::linux_platform {
namespace {

constexpr std::uint16_t kAgentPort = 47653;
constexpr std::string_view kHostNames[] = {kIdentityHost, kRedactionHost};

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
  if (facts.executableProblem) return facts;
  const HostSession session =
      runHost(manifest->executable,
              browserArguments(browser.family, facts.manifestPath, manifest->allowedIds.front()),
              {std::string(doctor::kRoundTripMessage)});
  facts.roundTripProblem = session.failure.empty()
                               ? doctor::roundTripProblem(session.replies, session.exitStatus)
                               : std::optional(session.failure);
  return facts;
}

// The account of a TCP listener that accepts on 127.0.0.1:port, from /proc/net/tcp.
std::optional<uid_t> listenerOwner(std::uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the header
  char wanted[16];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits;
    uid_t uid = 0;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid;
    const bool loopbackOrAny = local.starts_with("0100007F") || local.starts_with("00000000");
    if (state == "0A" && loopbackOrAny && local.ends_with(wanted)) return uid;
  }
  return std::nullopt;
}

// Nothing when a GET to the agent's address gets an HTTP status line within 2 s.
std::optional<std::string> httpProblem(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::string("no socket");
  timeval timeout{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::optional<std::string> problem;
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  char head[16] = {};
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    problem = "cannot connect";
  } else if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
             static_cast<ssize_t>(request.size())) {
    problem = "cannot send a request";
  } else if (::recv(fd, head, sizeof head - 1, MSG_WAITALL) < 7 ||
             std::string_view(head).substr(0, 7) != "HTTP/1.") {
    problem = "no HTTP status line within 2 s";
  }
  ::close(fd);
  return problem;
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
  const auto file = stores.suiteFolder(appGroupSuiteName) / "preferences.json";
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
    for (std::string_view name : kHostNames) {
      hasManifest = hasManifest || findManifest(browser, environment, std::string(name));
    }
    if (!hasManifest && !findBrowserProgram(browser, environment)) continue;
    for (std::string_view name : kHostNames) {
      all.push_back(registration(browser, environment, std::string(name)));
    }
  }
  return all;
}

doctor::AgentFacts agentFacts(bool relay, const std::filesystem::path& host,
                              const std::vector<std::string>& arguments) {
  doctor::AgentFacts facts;
  const std::optional<uid_t> owner = listenerOwner(kAgentPort);
  facts.listening = owner.has_value();
  if (!owner) return facts;
  facts.owner = accountName(*owner);
  // The relay's own rule: root, this user, or the agent's service account.
  if (!isAcceptableAgentAccount(*owner)) {
    facts.ownerProblem = "neither root nor this user (" + accountName(::geteuid()) + ")";
    return facts;
  }
  facts.httpProblem = httpProblem(kAgentPort);
  if (!relay || host.empty()) return facts;
  facts.relayTried = true;
  const HostSession session = runHost(
      host, arguments, {R"({"type":"getToken","host":"com.ostrela.ldap_host","id":"doctor"})"});
  facts.relayProblem = session.failure.empty()
                           ? doctor::roundTripProblem(session.replies, session.exitStatus)
                           : std::optional(session.failure);
  return facts;
}

}  // namespace ostrela::linux_platform
