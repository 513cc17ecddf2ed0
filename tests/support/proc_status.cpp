#include "tests/support/proc_status.h"

#include <cstdlib>
#include <fstream>
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

}  // namespace ostrela::testing
