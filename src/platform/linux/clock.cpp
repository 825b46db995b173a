#include "platform/clock.h"

#include <time.h>

namespace vodarezazuv {

namespace {

uint32_t MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

TickSource g_tickSource = MonotonicMilliseconds;

}  // namespace

uint32_t TickCount() {
    return g_tickSource();
}

void SetTickSource(TickSource source) {
    g_tickSource = source != nullptr ? source : MonotonicMilliseconds;
}

}  // namespace vodarezazuv
