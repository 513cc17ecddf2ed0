// The relay against an agent that runs as another account: as root, a child
// process takes that account and listens on loopback.
#include "platform/linux/http/listener_account.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <tuple>
#include <vector>

#include "platform/linux/file_descriptor.h"
#include "platform/linux/passwd_file.h"
#include "tests/platform/linux/http/relay_test_helpers.h"

namespace ostrela::testing {
namespace {

using namespace linux_platform;

constexpr uid_t kNobody = 65534;

FileDescriptor connectedTo(std::uint16_t port) {
  FileDescriptor probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = loopbackAddress(port);
  EXPECT_EQ(::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  return probe;
}

// What the two ways (socket diagnostics, /proc/net/tcp) say of a connection.
std::vector<ListenerAccounts> bothWays(const FileDescriptor& probe) {
  const auto local = localEndpoint(probe.get());
  const auto remote = peerEndpoint(probe.get());
  if (!local || !remote) return {};
  return {listenerAccounts(*local, *remote), listenerAccountsFromProc(*local, *remote)};
}

std::string forgedAnswer() {
  const std::string body = R"({"ok":true,"token":"FORGED"})";
  return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A trusted account's listener that answers before it is asked: first it closes
// at once, leaving an orphan that the kernel reports as root's; then it stays.
TEST(AgentListener, AListenerThatAnswersBeforeItIsAskedIsRefused) {
  ForkedListener early(::geteuid(), 2, 0, forgedAnswer());
  ASSERT_NE(early.port(), 0);
  const FileDescriptor closed = connectedTo(early.port());
  char buffer[256];
  while (::recv(closed.get(), buffer, sizeof buffer, 0) > 0) {
  }
  for (const ListenerAccounts& accounts : bothWays(closed))
    EXPECT_EQ(accounts.connection, std::nullopt);
  EXPECT_EQ(whyAgentListenerIsRefused(closed.get()), "the agent's account could not be verified");

  const FileDescriptor stays = connectedTo(early.port());
  pollfd answered{stays.get(), POLLIN, 0};
  ASSERT_EQ(::poll(&answered, 1, 10'000), 1);
  EXPECT_EQ(whyAgentListenerIsRefused(stays.get()),
            "the listener answered before the request was sent");
}

// Another account's listener, which answers at once and closes every other
// time: none of its answers is taken and nothing is sent to it, however its
// steps and the relay's checks fall in time.
TEST(ListenerAccount, AnotherAccountsListenerIsRefusedAndReceivesNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a listener as another account";
  constexpr int kConnections = 100;  // even: the last one stays, and so does the listener
  ForkedListener forger(kNobody, kConnections, 0, forgedAnswer());
  ASSERT_NE(forger.port(), 0);
  RelayPreferences preferences;
  preferences.writeSecret(AnyValue("agent-secret"));
  const auto relay = preferences.relayFor(forger.port());
  for (int i = 0; i < kConnections; ++i) {
    ASSERT_EQ(errorText(sendAndWait(preferences.pool(), *relay, relayRequest("getToken", {}))),
              "The Ostrela agent is not reachable at http://127.0.0.1:" +
                  std::to_string(forger.port()) + ": the listening process belongs to another user")
        << i;
  }
  EXPECT_TRUE(forger.receivedNothing());  // not even a request line
}

// The account file is read directly: by uid for the home folder when $HOME is
// unset, by name for the agent's service account.
TEST(PasswdText, FirstWellFormedEntryByUidOrName) {
  TemporaryDirectory dir;
  const std::string passwd =
      "root:x:0:0:root:/root:/bin/bash\n"
      "broken line without fields\n"
      "nouid:x::7::/nowhere:/bin/sh\n"
      "junk:x:1000x:1000::/wrong:/bin/sh\n"
      "alice:x:1000:1000:Alice,,,:/home/alice:/bin/sh\n"
      "again:x:1000:1000::/home/again:/bin/sh\n"
      "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n"
      "agent:x:998:998::/var/lib/agent:/usr/sbin/nologin";
  const auto file = dir.write("passwd", passwd);
  const std::tuple<uid_t, const char*, const char*> byUid[] = {
      {0, "root", "/root"}, {1000, "alice", "/home/alice"}, {7, nullptr, nullptr}};
  for (const auto& [uid, name, home] : byUid) {
    const auto entry = passwdEntryForUid(uid, file);
    ASSERT_EQ(entry.has_value(), name != nullptr) << uid;
    if (!entry) continue;
    EXPECT_EQ(entry->name, name);
    EXPECT_EQ(entry->home, home);
  }
  EXPECT_FALSE(passwdEntryForUid(0, dir.path() / "missing"));
  const std::pair<const char*, std::optional<uid_t>> byName[] = {{"nobody", 65534},
                                                                 {"agent", 998},
                                                                 {"junk", std::nullopt},
                                                                 {"no", std::nullopt},
                                                                 {"", std::nullopt}};
  for (const auto& [name, uid] : byName) {
    const auto entry = passwdEntryForName(name, file);
    EXPECT_EQ(entry ? std::optional(entry->uid) : std::nullopt, uid) << name;
  }
}

}  // namespace
}  // namespace ostrela::testing
