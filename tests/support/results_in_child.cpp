#include "tests/support/results_in_child.h"

#include <sys/wait.h>
#include <unistd.h>

#include "platform/linux/file_descriptor.h"

namespace ostrela::testing {

ChildResults resultsInChild(const std::function<void()>& setUp,
                            const std::vector<std::function<int()>>& probes) {
  linux_platform::Pipe pipe = linux_platform::makePipe();
  const pid_t child = ::fork();
  if (child == 0) {
    setUp();
    for (const auto& probe : probes) {
      const int result = probe();
      if (::write(pipe.write.get(), &result, sizeof result) != sizeof result) ::_exit(1);
    }
    ::_exit(0);
  }
  pipe.write.reset();
  ChildResults done;
  for (int result = 0; ::read(pipe.read.get(), &result, sizeof result) == sizeof result;) {
    done.results.push_back(result);
  }
  ::waitpid(child, &done.status, 0);
  return done;
}

}  // namespace ostrela::testing
