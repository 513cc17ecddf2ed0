// Whose process is at the other end of a loopback connection. While the agent
// is not running, any local account may listen on its port; the relay sends
// the secret only to a listener of an account it trusts.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace ostrela::linux_platform {

// One end of a TCP connection.
struct TcpEndpoint {
  int family = 0;                           // AF_INET or AF_INET6
  std::array<unsigned char, 16> address{};  // network order; the first 4 bytes for AF_INET
  std::uint16_t port = 0;                   // host order
};

// The two ends of a connected socket, as the kernel sees them.
std::optional<TcpEndpoint> localEndpoint(int socket);
std::optional<TcpEndpoint> peerEndpoint(int socket);

// The accounts behind the socket at `remote` whose peer is `local`, as the
// kernel's socket diagnostics report them (NETLINK_SOCK_DIAG; /proc/net/tcp
// and tcp6 when those are not available). Nothing where neither tells.
struct ListenerAccounts {
  // The socket the connection reached, only while it is a full one that
  // belongs to a process or to its listener's queue: established, or closing
  // from our side only. A request, orphan or time-wait socket (what is left
  // once its process has answered and closed) is reported as root's, so it
  // counts as nothing.
  std::optional<uid_t> connection;
  // The socket listening on `remote` that takes connections from `local` now.
  std::optional<uid_t> listener;
};
ListenerAccounts listenerAccounts(const TcpEndpoint& local, const TcpEndpoint& remote);
// The fallback on its own.
ListenerAccounts listenerAccountsFromProc(const TcpEndpoint& local, const TcpEndpoint& remote);

// Root, the account this process runs as, or the agent's service account named
// when the program was built (OSTRELA_AGENT_ACCOUNT; none by default).
bool isAcceptableAgentAccount(uid_t account);
// Reads that account from /etc/passwd now, for a process that will not be
// able to read the file later (process_confinement.h).
void lookUpAgentServiceAccount();

// For a connected socket, looked up as above.
ListenerAccounts listenerAccounts(int connectedSocket);
// The account of the socket listening on `address` that takes connections
// from the loopback address of its family, without connecting: for a
// listener that accepts nothing. Nothing when none listens or none tells.
std::optional<uid_t> listeningAccount(const TcpEndpoint& address);

// For the relay, right after a connection is made and before anything is
// written on it: nothing when both the connection's socket and the listener
// are alive and of acceptable accounts and nothing has arrived yet, else why
// not ("the listening process belongs to another user", "the agent's account
// could not be verified", "the listener answered before the request was sent").
std::optional<std::string> whyAgentListenerIsRefused(int connectedSocket);
// The account rule alone, for accounts already looked up (the admin check).
std::optional<std::string> whyAgentAccountIsRefused(const ListenerAccounts& accounts);
// The account to name for `accounts`: the first that is refused, else the listener's.
std::optional<uid_t> agentAccountToName(const ListenerAccounts& accounts);

}  // namespace ostrela::linux_platform
