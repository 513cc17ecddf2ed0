// Plain listeners on 127.0.0.1, for tests of whom the relay and the admin check
// talk to: made with system calls only, so a forked child of a threaded test may
// make one after it has taken another account.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/linux/file_descriptor.h"

namespace ostrela::testing {

// The address of `port` on 127.0.0.1.
sockaddr_in loopbackAddress(std::uint16_t port);

// A socket listening on 127.0.0.1 at `port`, or at a port the system chose when
// `port` is 0, stored back in `port`; -1 on failure.
int loopbackListener(int backlog, std::uint16_t& port);

// A listener on 127.0.0.1 that accepts nothing, with its queue full: the
// kernel drops new connection attempts unanswered. Ready when made; throws
// when it cannot be.
struct FullListener {
  linux_platform::FileDescriptor listener, queued;
  std::uint16_t port = 0;
};
FullListener fullListener(std::uint16_t port = 0);

// A forked listener that runs as `account` and accepts `connections`
// connections one after the other (as that account: an accepted socket
// belongs to whoever accepts it) and reads each to its end. With `answer`, it
// first writes `answer` on each at once, and closes the first, third, ...
// without reading (what is left is an orphan that the kernel reports as
// root's). It exits with status 0 when it received no byte at all.
class ForkedListener {
 public:
  ForkedListener(uid_t account, int connections, std::uint16_t port = 0, std::string answer = {});
  ~ForkedListener();
  ForkedListener(const ForkedListener&) = delete;
  ForkedListener& operator=(const ForkedListener&) = delete;

  std::uint16_t port() const { return port_; }
  // Once all connections are closed: whether not a byte arrived.
  bool receivedNothing();

 private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace ostrela::testing
