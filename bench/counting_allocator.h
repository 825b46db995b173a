// Counts the bytes held through operator new while a benchmark runs, and the most held at
// once. The benchmark is single-threaded, so the counts are plain numbers.
#pragma once

#include <cstddef>

namespace bench {

struct AllocationCounts {
    size_t live = 0;  // bytes held now, as malloc_usable_size reports them
    size_t peak = 0;  // the most held at once since the last ResetPeak
    size_t calls = 0;
};

const AllocationCounts& Counts();
// Starts a new peak from what is held now.
void ResetPeak();

}  // namespace bench
