// The calls a confined process lives on, as a seccomp program made by
// libseccomp for the architecture it is built on. Made when the program is
// built (generate_system_call_filter.cpp), not at each start: see
// docs/security.md, "The lock's cost".
#pragma once

#include <linux/filter.h>
#include <seccomp.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace ostrela::linux_platform {

// Every call not on the list, and every call of another ABI, gets `refusal`
// (a SCMP_ACT_* action); clone3 answers ENOSYS. With `sanitizers`, also what
// the sanitizers' runtime needs (sanitizer builds only). Nothing when libseccomp fails.
std::optional<std::vector<sock_filter>> allowListProgram(std::uint32_t refusal,
                                                         bool sanitizers = false);

}  // namespace ostrela::linux_platform
