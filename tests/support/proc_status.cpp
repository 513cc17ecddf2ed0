#include "tests/support/proc_status.h"

#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace ostrela::testing {

long procStatusValue(pid_t pid, std::string_view field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.size() > field.size() && line.starts_with(field) && line[field.size()] == ':') {
      return std::atol(line.c_str() + field.size() + 1);
    }
  }
  return -1;
}

long descriptorCount(pid_t pid) {
  std::error_code ignored;
  return std::distance(
      std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored), {});
}

long largestReapedChildPeak() {
  rusage usage{};
  return ::getrusage(RUSAGE_CHILDREN, &usage) == 0 ? usage.ru_maxrss : -1;
}

}  // namespace ostrela::testing
