// The relay against an agent that runs as another account: as root, a child
// process takes that account and listens on loopback.
#include "platform/linux/http/listener_account.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <tuple>

#include "platform/linux/file_descriptor.h"
#include "platform/linux/passwd_file.h"
#include "tests/platform/linux/http/relay_test_helpers.h"

namespace ostrela::testing {
namespace {

using namespace linux_platform;

constexpr uid_t kNobody = 65534;

// Both ways of finding the account that listens on `port` name `expected`.
void expectListenerAccount(std::uint16_t port, uid_t expected) {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in address = loopbackAddress(port);
  ASSERT_EQ(::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const auto local = localEndpoint(probe);
  const auto remote = peerEndpoint(probe);
  ASSERT_TRUE(local && remote);
  EXPECT_EQ(listenerAccount(*local, *remote), expected);
  EXPECT_EQ(listenerAccountFromProc(*local, *remote), expected);
  ::close(probe);
}

// An agent of the test's own account is talked to in every loopback test.
TEST(ListenerAccount, AnAgentOfAnotherAccountReceivesNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a listener as another account";
  ForkedListener agent(kNobody, 2);  // the probe's connection, then the relay's
  ASSERT_NE(agent.port(), 0);
  expectListenerAccount(agent.port(), kNobody);
  RelayPreferences preferences;
  preferences.writeSecret(AnyValue("agent-secret"));
  const NativeReply reply = sendAndWait(preferences.pool(), *preferences.relayFor(agent.port()),
                                        relayRequest("getToken", AnyValue("t")));
  EXPECT_EQ(errorText(reply), "The Ostrela agent is not reachable at http://127.0.0.1:" +
                                  std::to_string(agent.port()) +
                                  ": the listening process belongs to another user");
  EXPECT_TRUE(agent.receivedNothing());  // not even the request line
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
