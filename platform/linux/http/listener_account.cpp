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

enum class Lookup { found, pending, unknown };

// The socket at `remote` connected to `local`, looked up by its four addresses.
Lookup askSockDiag(const TcpEndpoint& local, const TcpEndpoint& remote, uid_t& account) {
  const FileDescriptor fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!fd.valid()) return Lookup::unknown;
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
  if (n <= 0) return Lookup::unknown;
  const auto* header = reinterpret_cast<const nlmsghdr*>(answer);
  if (!NLMSG_OK(header, static_cast<unsigned>(n)) || header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
      header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
    return Lookup::unknown;
  }
  const auto* found = reinterpret_cast<const inet_diag_msg*>(answer + NLMSG_HDRLEN);
  // A connection still in the listener's queue of half-open ones, and a closed
  // one, are reported with account 0: they say nothing about the listener.
  if (found->idiag_state == TCP_SYN_RECV) return Lookup::pending;
  if (found->idiag_state == TCP_TIME_WAIT || found->idiag_state == TCP_CLOSE) {
    return Lookup::unknown;
  }
  account = found->idiag_uid;
  return Lookup::found;
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

std::optional<uid_t> findInProcTable(const char* table, const std::string& socketAddress,
                                     const std::string& peerAddress) {
  std::ifstream file(table);
  std::string line;
  std::getline(file, line);  // the heading
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string slot, localField, remoteField, state, queues, timer, retransmits;
    unsigned long uid = 0;
    if (!(fields >> slot >> localField >> remoteField >> state >> queues >> timer >> retransmits >>
          uid)) {
      continue;
    }
    if (localField == socketAddress && remoteField == peerAddress) return static_cast<uid_t>(uid);
  }
  return std::nullopt;
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

std::optional<uid_t> listenerAccount(const TcpEndpoint& local, const TcpEndpoint& remote) {
  // The accepting side finishes the handshake a moment after our connect
  // returns; until then only a half-open entry, without an account, is there.
  for (int attempt = 0; attempt < 20; ++attempt) {
    uid_t account = 0;
    switch (askSockDiag(local, remote, account)) {
      case Lookup::found:
        return account;
      case Lookup::pending:
        ::sched_yield();
        continue;
      case Lookup::unknown:
        return listenerAccountFromProc(local, remote);
    }
  }
  return listenerAccountFromProc(local, remote);
}

std::optional<uid_t> listenerAccountFromProc(const TcpEndpoint& local, const TcpEndpoint& remote) {
  // The listener's side: its local address is our peer's, its remote address ours.
  if (remote.family == AF_INET) {
    if (auto uid = findInProcTable("/proc/net/tcp", procAddress(remote, false),
                                   procAddress(local, false))) {
      return uid;
    }
    return findInProcTable("/proc/net/tcp6", procAddress(remote, true), procAddress(local, true));
  }
  return findInProcTable("/proc/net/tcp6", procAddress(remote, false), procAddress(local, false));
}

bool isAcceptableAgentAccount(uid_t account) {
  return account == 0 || account == ::geteuid() || account == serviceAccount();
}

void lookUpAgentServiceAccount() {
  serviceAccount();
}

std::optional<uid_t> listenerAccount(int connectedSocket) {
  const std::optional<TcpEndpoint> local = localEndpoint(connectedSocket);
  const std::optional<TcpEndpoint> remote = peerEndpoint(connectedSocket);
  return local && remote ? listenerAccount(*local, *remote) : std::nullopt;
}

std::optional<std::string> whyAgentListenerIsRefused(int connectedSocket) {
  return whyAgentAccountIsRefused(listenerAccount(connectedSocket));
}

std::optional<std::string> whyAgentAccountIsRefused(std::optional<uid_t> account) {
  if (!account) return "the agent's account could not be verified";
  if (!isAcceptableAgentAccount(*account)) return "the listening process belongs to another user";
  return std::nullopt;
}

}  // namespace ostrela::linux_platform
