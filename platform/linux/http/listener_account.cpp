#include "platform/linux/http/listener_account.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

#include "platform/linux/file_descriptor.h"
#include "platform/linux/passwd_file.h"

namespace ostrela::linux_platform {
namespace {

std::optional<TcpEndpoint> endpointOf(const sockaddr_storage& storage) {
  TcpEndpoint endpoint;
  endpoint.family = storage.ss_family;
  if (storage.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(storage);
    std::memcpy(endpoint.address.data(), &in.sin_addr, 4);
    endpoint.port = ntohs(in.sin_port);
    return endpoint;
  }
  if (storage.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(storage);
    std::memcpy(endpoint.address.data(), &in6.sin6_addr, 16);
    endpoint.port = ntohs(in6.sin6_port);
    return endpoint;
  }
  return std::nullopt;
}

template <typename Query>
std::optional<TcpEndpoint> endpointFrom(int socket, Query query) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (query(socket, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return std::nullopt;
  return endpointOf(storage);
}

std::size_t addressSize(int family) {
  return family == AF_INET ? 4 : 16;
}

// What the kernel's socket diagnostics say of one socket.
struct SocketRecord {
  int state = 0;  // TCP_ESTABLISHED, TCP_LISTEN, ...
  uid_t account = 0;
};

// Our peer's socket is a full one: the only states in which a socket is
// neither a request, nor an orphan, nor a time-wait socket, all of which the
// kernel reports as root's. (An orphan is what remains of a socket whose
// process closed it: FIN-WAIT, CLOSING, LAST-ACK.)
bool isLive(int state) {
  return state == TCP_ESTABLISHED || state == TCP_CLOSE_WAIT;
}

// The socket at `remote` connected to `local`, looked up by its four
// addresses; with local port 0, which no connection has, the socket that
// listens on `remote` and would take a new connection from `local`: the
// kernel's own lookup for an arriving connection. Nothing when the kernel
// does not answer or knows no such socket.
std::optional<SocketRecord> askSockDiag(const TcpEndpoint& local, const TcpEndpoint& remote) {
  const FileDescriptor fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!fd.valid()) return std::nullopt;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.request.sdiag_family = static_cast<__u8>(remote.family);
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = ~0u;
  inet_diag_sockid& id = message.request.id;
  id.idiag_sport = htons(remote.port);
  id.idiag_dport = htons(local.port);
  std::memcpy(id.idiag_src, remote.address.data(), addressSize(remote.family));
  std::memcpy(id.idiag_dst, local.address.data(), addressSize(local.family));
  id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  alignas(nlmsghdr) char answer[1024];
  ssize_t n = -1;
  if (::sendto(fd.get(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) == static_cast<ssize_t>(sizeof message)) {
    // The kernel answers within sendto: the answer is waiting already.
    do {
      n = ::recv(fd.get(), answer, sizeof answer, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
  }
  if (n <= 0) return std::nullopt;
  const auto* header = reinterpret_cast<const nlmsghdr*>(answer);
  if (!NLMSG_OK(header, static_cast<unsigned>(n)) || header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
      header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
    return std::nullopt;
  }
  const auto* found = reinterpret_cast<const inet_diag_msg*>(answer + NLMSG_HDRLEN);
  return SocketRecord{found->idiag_state, found->idiag_uid};
}

// An address as /proc/net/tcp and tcp6 print it: 32-bit words in memory order.
std::string procAddress(const unsigned char* address, std::size_t size, std::uint16_t port) {
  std::string text;
  char word[12];
  for (std::size_t i = 0; i < size; i += 4) {
    std::uint32_t value;
    std::memcpy(&value, address + i, 4);
    std::snprintf(word, sizeof word, "%08X", value);
    text += word;
  }
  std::snprintf(word, sizeof word, ":%04X", port);
  return text + word;
}

std::string procAddress(const TcpEndpoint& endpoint, bool mapped) {
  if (!mapped)
    return procAddress(endpoint.address.data(), addressSize(endpoint.family), endpoint.port);
  std::array<unsigned char, 16> v6{};  // ::ffff:a.b.c.d, as a dual-stack socket holds it
  v6[10] = v6[11] = 0xFF;
  std::memcpy(v6.data() + 12, endpoint.address.data(), 4);
  return procAddress(v6.data(), 16, endpoint.port);
}

// The same port on the family's any-address (0.0.0.0 or ::).
TcpEndpoint anyAddress(const TcpEndpoint& endpoint, int family) {
  TcpEndpoint any;
  any.family = family;
  any.port = endpoint.port;
  return any;
}

// One table's view of the two questions, each line's fields as printed.
struct ProcTable {
  const char* path;
  std::string connectionLocal, connectionRemote;  // the peer's socket, as seen from its side
  std::string listenerExact, listenerAny;         // where a listener may be bound
};

// What the tables have told so far. A listener bound to the exact address
// wins over one bound to any, and a socket of the connection's own family over
// a dual-stack one, as the kernel chooses for an arriving connection.
struct ProcSearch {
  ListenerAccounts accounts;
  int bestListener = -1;
  bool connectionSeen = false;
};
constexpr int kBestListener = 3;  // the exact address, in the connection's own family

// Reads `table` until nothing better can come (the listening sockets come
// first in it; the tables grow with every connection in TIME_WAIT). True then.
bool readProcTable(const ProcTable& table, int familyScore, ProcSearch& search) {
  std::ifstream file(table.path);
  std::string line;
  std::getline(file, line);  // the heading
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string slot, localField, remoteField, queues, timer, retransmits;
    unsigned state = 0;
    unsigned long uid = 0;
    if (!(fields >> slot >> localField >> remoteField >> std::hex >> state >> std::dec >> queues >>
          timer >> retransmits >> uid)) {
      continue;
    }
    if (localField == table.connectionLocal && remoteField == table.connectionRemote) {
      search.connectionSeen = true;
      if (isLive(static_cast<int>(state))) search.accounts.connection = static_cast<uid_t>(uid);
    } else if (state == TCP_LISTEN) {
      const int score = localField == table.listenerExact ? 2 + familyScore
                        : localField == table.listenerAny ? familyScore
                                                          : -1;
      if (score > search.bestListener) {
        search.bestListener = score;
        search.accounts.listener = static_cast<uid_t>(uid);
      }
    }
    if ((search.connectionSeen || table.connectionRemote.empty()) &&
        search.bestListener == kBestListener) {
      return true;
    }
  }
  return false;
}

std::optional<uid_t> serviceAccount() {
  static const std::optional<uid_t> account = []() -> std::optional<uid_t> {
    constexpr std::string_view name = OSTRELA_AGENT_ACCOUNT;
    if (name.empty()) return std::nullopt;
    const auto entry = passwdEntryForName(name);
    return entry ? std::optional(entry->uid) : std::nullopt;
  }();
  return account;
}

}  // namespace

std::optional<TcpEndpoint> localEndpoint(int socket) {
  return endpointFrom(socket, ::getsockname);
}

std::optional<TcpEndpoint> peerEndpoint(int socket) {
  return endpointFrom(socket, ::getpeername);
}

ListenerAccounts listenerAccounts(const TcpEndpoint& local, const TcpEndpoint& remote) {
  ListenerAccounts accounts;
  // The accepting side finishes the handshake a moment after our connect
  // returns; until then only a half-open request socket, without an account, is there.
  for (int attempt = 0; attempt < 20; ++attempt) {
    const std::optional<SocketRecord> peer = askSockDiag(local, remote);
    if (!peer) return listenerAccountsFromProc(local, remote);
    if (peer->state == TCP_SYN_RECV) {
      ::sched_yield();
      continue;
    }
    if (isLive(peer->state)) accounts.connection = peer->account;
    break;
  }
  accounts.listener = listeningAccount(remote);
  return accounts;
}

ListenerAccounts listenerAccountsFromProc(const TcpEndpoint& local, const TcpEndpoint& remote) {
  ProcSearch search;
  // The peer's side: its local address is our peer's, its remote address ours.
  // A port-0 `local` asks for the listener only.
  const bool v4 = remote.family == AF_INET;
  const std::string none;
  const ProcTable own{v4 ? "/proc/net/tcp" : "/proc/net/tcp6", procAddress(remote, false),
                      local.port == 0 ? none : procAddress(local, false),
                      procAddress(remote, false),
                      procAddress(anyAddress(remote, remote.family), false)};
  if (!readProcTable(own, 1, search) && v4) {
    const ProcTable dualStack{"/proc/net/tcp6", procAddress(remote, true),
                              local.port == 0 ? none : procAddress(local, true),
                              procAddress(remote, true),
                              procAddress(anyAddress(remote, AF_INET6), false)};
    readProcTable(dualStack, 0, search);
  }
  return search.accounts;
}

std::optional<uid_t> listeningAccount(const TcpEndpoint& address) {
  TcpEndpoint loopback;
  loopback.family = address.family;
  if (address.family == AF_INET) {
    const in_addr_t local = htonl(INADDR_LOOPBACK);
    std::memcpy(loopback.address.data(), &local, 4);
  } else {
    loopback.address[15] = 1;
  }
  const std::optional<SocketRecord> listener = askSockDiag(loopback, address);
  if (!listener) return listenerAccountsFromProc(loopback, address).listener;
  if (listener->state != TCP_LISTEN) return std::nullopt;
  return listener->account;
}

bool isAcceptableAgentAccount(uid_t account) {
  return account == 0 || account == ::geteuid() || account == serviceAccount();
}

void lookUpAgentServiceAccount() {
  serviceAccount();
}

ListenerAccounts listenerAccounts(int connectedSocket) {
  const std::optional<TcpEndpoint> local = localEndpoint(connectedSocket);
  const std::optional<TcpEndpoint> remote = peerEndpoint(connectedSocket);
  return local && remote ? listenerAccounts(*local, *remote) : ListenerAccounts{};
}

std::optional<std::string> whyAgentListenerIsRefused(int connectedSocket) {
  if (auto refused = whyAgentAccountIsRefused(listenerAccounts(connectedSocket))) return refused;
  // An agent speaks when asked: bytes, or the end of the stream, that came
  // before the request are no answer of an agent.
  char byte;
  if (::recv(connectedSocket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) >= 0 ||
      (errno != EAGAIN && errno != EWOULDBLOCK)) {
    return "the listener answered before the request was sent";
  }
  return std::nullopt;
}

std::optional<std::string> whyAgentAccountIsRefused(const ListenerAccounts& accounts) {
  for (const std::optional<uid_t>& account : {accounts.connection, accounts.listener}) {
    if (account && !isAcceptableAgentAccount(*account)) {
      return "the listening process belongs to another user";
    }
  }
  if (!accounts.connection || !accounts.listener)
    return "the agent's account could not be verified";
  return std::nullopt;
}

std::optional<uid_t> agentAccountToName(const ListenerAccounts& accounts) {
  if (accounts.connection && !isAcceptableAgentAccount(*accounts.connection)) {
    return accounts.connection;
  }
  return accounts.listener ? accounts.listener : accounts.connection;
}

}  // namespace ostrela::linux_platform
