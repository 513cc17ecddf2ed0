// ostrela-native-client: sends native messages to the installed Ostrela host
// the way a browser does, and prints each reply. For checking a deployment.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/linux/native_messaging/native_host_client.h"

namespace {

constexpr const char* kUsage = R"(usage: ostrela-native-client [options] MESSAGE...

Starts the native-messaging host, sends each MESSAGE (JSON text) as one frame
on one connection, and prints every reply.

options:
  --host NAME        look the host up by name in the browsers' manifest folders
                     (default com.ostrela.ldap_host)
  --executable PATH  start this executable instead of looking it up
  --origin ORIGIN    the caller's origin passed to the host
                     (default chrome-extension://ostrela-native-client/)

example: ostrela-native-client '{"type":"getManagedConfig","id":1}'
)";

}  // namespace

int main(int argc, char** argv) {
  using namespace ostrela::linux_platform;
  std::string host = "com.ostrela.ldap_host";
  std::string executable;
  std::string origin = "chrome-extension://ostrela-native-client/";
  std::vector<std::string> messages;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--host" && hasValue) {
      host = argv[++i];
    } else if (arg == "--executable" && hasValue) {
      executable = argv[++i];
    } else if (arg == "--origin" && hasValue) {
      origin = argv[++i];
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (arg.starts_with("--")) {
      std::cerr << kUsage;
      return 2;
    } else {
      messages.push_back(arg);
    }
  }
  if (messages.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  if (executable.empty()) {
    const auto installed = findInstalledHost(host);
    if (!installed) {
      std::cerr << "no manifest for " << host << " in the browsers' folders\n";
      return 1;
    }
    std::cout << "host " << host << ": " << installed->executable.string() << " (from "
              << installed->manifest.string() << ")\n";
    executable = installed->executable.string();
  }
  const HostSession session = runHost(executable, {origin}, messages);
  if (!session.failure.empty()) {
    std::cerr << "cannot run the host: " << session.failure << "\n";
    return 1;
  }
  for (const auto& message : messages) std::cout << "-> " << message << "\n";
  for (const auto& reply : session.replies) std::cout << "<- " << reply << "\n";
  const bool complete = session.replies.size() == messages.size() && session.exitStatus == 0;
  if (!complete) {
    std::cerr << session.replies.size() << " replies to " << messages.size()
              << " messages; host exit status " << session.exitStatus << "\n";
  }
  return complete ? 0 : 1;
}
