// The system tick count.
#pragma once

#include <cstdint>

namespace vodarezazuv {

// Milliseconds of a monotonic clock, wrapping to 0 after 2^32 - 1 (about 49.7 days).
uint32_t TickCount();

// Tests replace the clock; nullptr restores the system clock.
using TickSource = uint32_t (*)();
void SetTickSource(TickSource source);

}  // namespace vodarezazuv
