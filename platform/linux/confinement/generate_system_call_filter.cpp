// Run by the build: writes the allow-list's seccomp program, as libseccomp
// makes it for this architecture, as C initialisers for system_call_filter.cpp.
#include <cerrno>
#include <cstdio>
#include <fstream>

#include "platform/linux/confinement/system_call_allow_list.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s OUTPUT [sanitizers]\n", argv[0]);
    return 2;
  }
  const auto program = ostrela::linux_platform::allowListProgram(SCMP_ACT_ERRNO(EPERM), argc == 3);
  if (!program) {
    std::fprintf(stderr, "libseccomp could not make the program\n");
    return 1;
  }
  std::ofstream out(argv[1]);
  out << "// Made by generate_system_call_filter from system_call_allow_list.cpp.\n";
  char line[64];
  for (const sock_filter& instruction : *program) {
    std::snprintf(line, sizeof line, "{0x%04x, %u, %u, 0x%08x},\n", instruction.code,
                  instruction.jt, instruction.jf, instruction.k);
    out << line;
  }
  return out.good() ? 0 : 1;
}
