#include "counting_allocator.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace bench {

namespace {

AllocationCounts counts;

void* Allocate(size_t size) {
    void* block = std::malloc(size != 0 ? size : 1);
    if (block != nullptr) {
        counts.live += malloc_usable_size(block);
        counts.peak = counts.live > counts.peak ? counts.live : counts.peak;
        ++counts.calls;
    }
    return block;
}

void Release(void* block) {
    if (block != nullptr) {
        counts.live -= malloc_usable_size(block);
        std::free(block);
    }
}

}  // namespace

const AllocationCounts& Counts() {
    return counts;
}

void ResetPeak() {
    counts.peak = counts.live;
}

}  // namespace bench

// Every form of operator new and delete the program uses goes through the counter.
void* operator new(size_t size) {
    void* block = bench::Allocate(size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return bench::Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return bench::Allocate(size);
}
void operator delete(void* block) noexcept {
    bench::Release(block);
}
void operator delete[](void* block) noexcept {
    bench::Release(block);
}
void operator delete(void* block, size_t) noexcept {
    bench::Release(block);
}
void operator delete[](void* block, size_t) noexcept {
    bench::Release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    bench::Release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    bench::Release(block);
}
