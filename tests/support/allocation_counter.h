// Counts calls of the global operator new. Linking `ostrela_allocation_counter`
// replaces the process's allocator, so only executables that count link it.
#pragma once

namespace ostrela::testing {

// Allocations made by this process so far, from any thread.
long allocationCount();

}  // namespace ostrela::testing
