// How much memory the machine has, for the display back-end that keeps its surfaces in it.
#pragma once

#include <cstdint>

namespace px {

// Bytes of memory available to new allocations now (free and reclaimable), 0 when unknown.
uint64_t AvailableMemory();
// Bytes of physical memory, 0 when unknown.
uint64_t PhysicalMemory();

} // namespace px
