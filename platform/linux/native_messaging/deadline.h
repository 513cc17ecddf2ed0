// Deadlines for poll(): every bounded wait of the native-messaging code counts
// down to one steady-clock time point.
#pragma once

#include <chrono>

namespace ostrela::linux_platform {

// Milliseconds from now until `deadline`, rounded up, for poll(); 0 once it has passed.
inline int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace ostrela::linux_platform
