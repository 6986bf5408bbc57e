// Counts the heap allocations made through operator new while counting is on,
// so a benchmark can report allocations per frame. The replacement operator
// new lives in AllocationCounter.cpp and serves the whole benchmark program.
#pragma once

namespace bench_support {

// Resets the count and starts counting.
void StartCountingAllocations();
// Stops counting; the number of allocations since the start.
long StopCountingAllocations();

}  // namespace bench_support
