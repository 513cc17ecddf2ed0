#include "tests/support/loopback_listener.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

#include "platform/linux/file_descriptor.h"

namespace ostrela::testing {
namespace {

[[noreturn]] void serve(int portOutput, int connections, std::uint16_t port,
                        const std::string& answer) {
  const int listener = loopbackListener(4, port);
  if (listener < 0) ::_exit(4);
  if (::write(portOutput, &port, sizeof port) != sizeof port) ::_exit(5);
  long total = 0;
  char buffer[4096];
  for (int i = 0; i < connections; ++i) {
    const int connection = ::accept(listener, nullptr, nullptr);
    if (!answer.empty()) {
      if (::write(connection, answer.data(), answer.size()) < 0) ::_exit(6);
      if (i % 2 == 0) {
        ::close(connection);
        continue;
      }
    }
    for (ssize_t n; (n = ::read(connection, buffer, sizeof buffer)) > 0;) total += n;
    ::close(connection);
  }
  ::_exit(total == 0 ? 0 : 1);
}

}  // namespace

sockaddr_in loopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

int loopbackListener(int backlog, std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int reuse = 1;  // a fixed port may still have connections of an earlier listener
  sockaddr_in address = loopbackAddress(port);
  socklen_t length = sizeof address;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

FullListener fullListener(std::uint16_t port) {
  // A backlog of 0 holds one connection; the listener turns readable once it is queued.
  FullListener full{
      linux_platform::FileDescriptor(loopbackListener(0, port)),
      linux_platform::FileDescriptor(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), port};
  const sockaddr_in address = loopbackAddress(port);
  pollfd queue{full.listener.get(), POLLIN, 0};
  if (!full.listener.valid() ||
      ::connect(full.queued.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
          0 ||
      ::poll(&queue, 1, 10'000) != 1) {
    throw std::runtime_error("cannot fill a listen queue on port " + std::to_string(port));
  }
  return full;
}

ForkedListener::ForkedListener(uid_t account, int connections, std::uint16_t port,
                               std::string answer) {
  linux_platform::Pipe portPipe = linux_platform::makePipe();
  if (!portPipe.read.valid()) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::alarm(20);  // never outlives a test that went wrong
    if (::setuid(account) != 0) ::_exit(3);
    serve(portPipe.write.get(), connections, port, answer);
  }
  portPipe.write.reset();
  if (::read(portPipe.read.get(), &port_, sizeof port_) != sizeof port_) port_ = 0;
}

ForkedListener::~ForkedListener() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

bool ForkedListener::receivedNothing() {
  int status = -1;
  ::waitpid(std::exchange(pid_, -1), &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace ostrela::testing
