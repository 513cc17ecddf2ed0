// ostrela-native-client: sends native messages to the installed Ostrela host
// the way a browser does, and prints each reply. For checking a deployment.
#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/logger.h"
#include "platform/linux/native_messaging/native_host_client.h"
#include "shared/bundle_identifiers.h"

namespace {

constexpr const char* kUsage = R"(usage: ostrela-native-client [options] MESSAGE...

Starts the native-messaging host, sends each MESSAGE (JSON text) as one frame
on one connection, and prints every reply. Exits with 0 when every message was
answered and the host exited with 0, else 1 with the reason on stderr. It
keeps one reply per message, each at most 1 MiB as in a browser, and ends a
host that writes more.

options:
  --host NAME        look the host up by name in the browsers' manifest folders
                     (default com.ostrela.ldap_host)
  --executable PATH  start this executable instead of looking it up
  --origin ORIGIN    the caller's origin passed to the host
                     (default chrome-extension://ostrela-native-client/)
  --timeout SECONDS  end the host if it has not finished by then (default 15)
  --                 ends the options, before a MESSAGE that starts with -

example: ostrela-native-client '{"type":"getManagedConfig","id":1}'
)";

// A positive number of seconds, such as 15 or 0.5.
std::optional<std::chrono::milliseconds> parseSeconds(std::string_view text) {
  double seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size() || !(seconds > 0) ||
      seconds > 86400) {
    return std::nullopt;
  }
  return std::chrono::milliseconds(static_cast<long>(seconds * 1000));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace ostrela::linux_platform;
  using ostrela::escapeControlCharacters;
  std::string host(ostrela::kIdentityHost);
  std::string executable;
  std::string origin = "chrome-extension://ostrela-native-client/";
  std::chrono::milliseconds timeout = kDefaultHostTimeout;
  const option options[] = {
      {"host", required_argument, nullptr, 'H'},   {"executable", required_argument, nullptr, 'e'},
      {"origin", required_argument, nullptr, 'o'}, {"timeout", required_argument, nullptr, 't'},
      {"help", no_argument, nullptr, 'h'},         {nullptr, 0, nullptr, 0}};
  for (int option = 0; (option = ::getopt_long(argc, argv, "h", options, nullptr)) != -1;) {
    if (option == 'H') {
      host = optarg;
    } else if (option == 'e') {
      executable = optarg;
    } else if (option == 'o') {
      origin = optarg;
    } else if (option == 't') {
      const auto parsed = parseSeconds(optarg);
      if (!parsed) {
        std::cerr << "--timeout takes a positive number of seconds\n";
        return 2;
      }
      timeout = *parsed;
    } else if (option == 'h') {
      std::cout << kUsage;
      return 0;
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }
  const std::vector<std::string> messages(argv + optind, argv + argc);
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
    std::cout << "host " << escapeControlCharacters(host) << ": "
              << escapeControlCharacters(installed->executable.string()) << " (from "
              << escapeControlCharacters(installed->manifest.string()) << ")\n";
    if (const auto why = whyRootMayNotStart(installed->manifest, installed->executable)) {
      std::cerr << "ostrela-native-client: " << escapeControlCharacters(*why) << "\n";
      return 1;
    }
    executable = installed->executable.string();
  }
  const HostSession session = runHost(executable, {origin}, messages, timeout);
  // Replies, the host's log and paths may come from anyone: no terminal escapes.
  for (const auto& message : messages) {
    std::cout << "-> " << escapeControlCharacters(message) << "\n";
  }
  for (const auto& reply : session.replies) {
    std::cout << "<- " << escapeControlCharacters(reply) << "\n";
  }
  std::cout.flush();
  std::string log;  // the host's, line by line; written at once (stderr is unbuffered)
  for (std::string_view rest = session.errorOutput; !rest.empty();) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    log += escapeControlCharacters(rest.substr(0, end)) + "\n";
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  std::cerr << log;
  if (!session.failure.empty()) {
    std::cerr << "ostrela-native-client: " << escapeControlCharacters(session.failure) << "\n";
    return 1;
  }
  if (session.replies.size() != messages.size() || session.exitStatus != 0) {
    std::cerr << "ostrela-native-client: " << session.replies.size() << " replies to "
              << messages.size() << " messages; host exit status " << session.exitStatus << "\n";
    return 1;
  }
  return 0;
}
