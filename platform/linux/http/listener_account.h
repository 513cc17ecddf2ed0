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

// The account owning the socket at `remote` whose peer is `local`: the
// listener's account, which the socket it accepts inherits. Looked up by the
// connection's own addresses, so it is this connection's listener and no
// other. One round trip to the kernel's socket diagnostics (NETLINK_SOCK_DIAG);
// /proc/net/tcp and tcp6 when those are not available. Nothing when neither tells.
std::optional<uid_t> listenerAccount(const TcpEndpoint& local, const TcpEndpoint& remote);
// The fallback on its own.
std::optional<uid_t> listenerAccountFromProc(const TcpEndpoint& local, const TcpEndpoint& remote);

// Root, the account this process runs as, or the agent's service account named
// when the program was built (OSTRELA_AGENT_ACCOUNT; none by default).
bool isAcceptableAgentAccount(uid_t account);
// Reads that account from /etc/passwd now, for a process that will not be
// able to read the file later (process_confinement.h).
void lookUpAgentServiceAccount();

// The listener's account for a connected socket, looked up as above.
std::optional<uid_t> listenerAccount(int connectedSocket);

// For the relay, right after a connection is made and before anything is
// written on it, and for the admin check: nothing when the listener may be
// talked to, else why not ("the listening process belongs to another user",
// or "the agent's account could not be verified").
std::optional<std::string> whyAgentListenerIsRefused(int connectedSocket);
// The same rule for an account already looked up with listenerAccount.
std::optional<std::string> whyAgentAccountIsRefused(std::optional<uid_t> account);

}  // namespace ostrela::linux_platform
