#include "failing_allocator.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace testsupport {

namespace {

// State of the one allocator of this program; replaced allocation functions cannot take a
// context, so it is global. The tests run on one thread.
struct AllocatorState {
    size_t countdown = 0;
    bool failed = false;
    size_t live = 0;
    size_t liveBytes = 0;
    size_t peakBytes = 0;
} state;

void* Allocate(size_t size) {
    void* block = std::malloc(size != 0 ? size : 1);
    if (block != nullptr) {
        ++state.live;
        state.liveBytes += malloc_usable_size(block);
        if (state.liveBytes > state.peakBytes)
            state.peakBytes = state.liveBytes;
    }
    return block;
}

void* AllocateOrFail(size_t size) {
    if (state.countdown != 0 && --state.countdown == 0) {
        state.failed = true;
        return nullptr;
    }
    return Allocate(size);
}

void Release(void* block) {
    if (block == nullptr)
        return;
    --state.live;
    state.liveBytes -= malloc_usable_size(block);
    std::free(block);
}

}  // namespace

void FailNothrowAllocation(size_t n) {
    state.countdown = n;
    state.failed = false;
}

bool AllocationFailed() {
    return state.failed;
}

size_t LiveAllocations() {
    return state.live;
}

size_t PeakBytes() {
    return state.peakBytes;
}

void ResetPeakBytes() {
    state.peakBytes = state.liveBytes;
}

}  // namespace testsupport

void* operator new(size_t size) {
    void* block = testsupport::Allocate(size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return testsupport::AllocateOrFail(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return testsupport::AllocateOrFail(size);
}
void operator delete(void* block) noexcept {
    testsupport::Release(block);
}
void operator delete[](void* block) noexcept {
    testsupport::Release(block);
}
void operator delete(void* block, size_t) noexcept {
    testsupport::Release(block);
}
void operator delete[](void* block, size_t) noexcept {
    testsupport::Release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    testsupport::Release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    testsupport::Release(block);
}
