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
#include <cstring>

#include "tests/extension/relay/relay_test_helpers.h"

namespace ostrela::testing {
namespace {

using namespace linux_platform;

constexpr uid_t kNobody = 65534;

// A forked agent on 127.0.0.1 that runs as `account` (when given), accepts
// `connections` connections one after the other, answers each complete
// request, and reports how many bytes it received in all. Only system calls
// after the fork: the test process has threads.
class ForkedAgent {
 public:
  ForkedAgent(std::optional<uid_t> account, int connections) {
    int portPipe[2];
    int countPipe[2];
    if (::pipe(portPipe) != 0 || ::pipe(countPipe) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::alarm(20);  // never outlives a test that went wrong
      if (account && ::setuid(*account) != 0) ::_exit(3);
      serve(portPipe[1], countPipe[1], connections);
    }
    ::close(portPipe[1]);
    ::close(countPipe[1]);
    if (::read(portPipe[0], &port_, sizeof port_) != sizeof port_) port_ = 0;
    ::close(portPipe[0]);
    countPipe_ = countPipe[0];
  }
  ~ForkedAgent() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    ::close(countPipe_);
  }

  std::uint16_t port() const { return port_; }
  // Bytes received over all connections, once they are all served; -1 on failure.
  long receivedBytes() const {
    long count = -1;
    return ::read(countPipe_, &count, sizeof count) == sizeof count ? count : -1;
  }

 private:
  [[noreturn]] static void serve(int portOutput, int countOutput, int connections) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::_exit(4);
    }
    const std::uint16_t port = ntohs(address.sin_port);
    if (::write(portOutput, &port, sizeof port) != sizeof port) ::_exit(5);
    long total = 0;
    for (int i = 0; i < connections; ++i) {
      const int connection = ::accept(listener, nullptr, nullptr);
      char request[65536];
      std::size_t size = 0;
      ssize_t n;
      while ((n = ::read(connection, request + size, sizeof request - 1 - size)) > 0) {
        size += static_cast<std::size_t>(n);
        total += n;
        request[size] = '\0';
        const char* end = std::strstr(request, "\r\n\r\n");
        const char* lengthField = std::strstr(request, "Content-Length: ");
        if (end != nullptr && lengthField != nullptr &&
            size >= static_cast<std::size_t>(end + 4 - request) +
                        std::strtoul(lengthField + 16, nullptr, 10)) {
          constexpr char kAnswer[] =
              "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 11\r\n"
              "Connection: close\r\n\r\n{\"ok\":true}";
          if (::write(connection, kAnswer, sizeof kAnswer - 1) < 0) ::_exit(6);
          break;
        }
      }
      ::close(connection);
    }
    if (::write(countOutput, &total, sizeof total) != sizeof total) ::_exit(7);
    ::_exit(0);
  }

  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  int countPipe_ = -1;
};

TEST(ListenerAccount, TheRelayTalksOnlyToAnAgentOfATrustedAccount) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run an agent as another account";
  struct Case {
    const char* name;
    std::optional<uid_t> account;
    std::string refusal;  // empty: the agent is trusted and answers
  } cases[] = {
      {"OwnAccount", std::nullopt, ""},
      {"AnotherAccount", kNobody, "the listening process belongs to another user"},
  };
  RelayPreferences preferences;
  preferences.writeSecret(AnyValue("agent-secret"));
  for (const auto& c : cases) {
    // Two connections: the test's own probe, then the relay's.
    ForkedAgent agent(c.account, 2);
    ASSERT_NE(agent.port(), 0) << c.name;

    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(agent.port());
    ASSERT_EQ(::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const auto local = localEndpoint(probe);
    const auto remote = peerEndpoint(probe);
    ASSERT_TRUE(local && remote);
    const uid_t expected = c.account.value_or(::geteuid());
    EXPECT_EQ(listenerAccount(*local, *remote), expected) << c.name;
    EXPECT_EQ(listenerAccountFromProc(*local, *remote), expected) << c.name;
    ::close(probe);

    const auto relay = preferences.relayFor(agent.port());
    const NativeReply reply = sendAndWait(*relay, relayRequest("getToken", AnyValue("t")));
    if (c.refusal.empty()) {
      EXPECT_TRUE(reply.fromAgent) << c.name << ": " << errorText(reply);
      EXPECT_GT(agent.receivedBytes(), 0) << c.name;
    } else {
      EXPECT_EQ(errorText(reply), "The Ostrela agent is not reachable at http://127.0.0.1:" +
                                      std::to_string(agent.port()) + ": " + c.refusal);
      EXPECT_EQ(agent.receivedBytes(), 0) << c.name;  // not even the request line
    }
  }
}

TEST(ListenerAccount, ServiceAccountFromThePasswdText) {
  const std::string passwd =
      "root:x:0:0:root:/root:/bin/bash\n"
      "nob:x:notanumber:1::/:/bin/false\n"
      "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n"
      "agent:x:998:998::/var/lib/agent:/usr/sbin/nologin";
  const std::pair<const char*, std::optional<uid_t>> cases[] = {{"nobody", 65534},
                                                                {"agent", 998},
                                                                {"nob", std::nullopt},
                                                                {"no", std::nullopt},
                                                                {"", std::nullopt}};
  for (const auto& [name, uid] : cases) EXPECT_EQ(accountInPasswd(passwd, name), uid) << name;
}

}  // namespace
}  // namespace ostrela::testing
