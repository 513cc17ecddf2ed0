// Process-wide settings that an executable's main makes before its first
// request, so that what the process changes about itself is visible there.
#pragma once

namespace ostrela::linux_platform {

// A closed stdout or a socket the peer closed is then an EPIPE error, never a
// signal that ends the process.
void ignoreBrokenPipeSignal();

// Every exchange in flight holds a socket, and browsers start hosts with the
// desktop's soft limit on descriptors (often 1,024), far below the hard one:
// raise the soft limit to the hard one, so that a burst of messages is not
// refused for want of descriptors.
void raiseDescriptorLimitToHardLimit();

// One malloc arena for every thread. glibc otherwise gives each new thread an
// arena of its own, reserving 64 MiB of address space and touching fresh
// pages for it; the worker threads allocate little, and a second arena cost
// more at start than it saved in contention.
void shareOneMallocArena();

}  // namespace ostrela::linux_platform
