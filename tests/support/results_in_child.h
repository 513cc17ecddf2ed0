// Probing what a locked-in process may do: each probe runs in a forked child
// after the child has locked itself in, and its result comes back through a pipe.
#pragma once

#include <functional>
#include <vector>

namespace ostrela::testing {

struct ChildResults {
  std::vector<int> results;  // one per probe, in order
  int status = -1;           // the child's wait status: 0 when every probe ran
};

// Forks; the child runs `setUp` (its lock), then each probe, and exits with 0.
ChildResults resultsInChild(const std::function<void()>& setUp,
                            const std::vector<std::function<int()>>& probes);

}  // namespace ostrela::testing
