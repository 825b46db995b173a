#include "xml/body_buffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace vodarezazuv {

namespace {

constexpr int32_t kFirstCapacity = 4096;

int32_t Append(BodyBuffer* self, const void* bytes, int32_t count) {
    if (self == nullptr || count < 0 || (bytes == nullptr && count != 0))
        return kBodyMissing;
    if (count == 0)
        return kBodyOk;
    int64_t needed = int64_t{self->length} + count;
    if (needed > self->capacity) {
        int32_t capacity = NextBodyCapacity(self->capacity, needed);
        if (capacity == 0)
            return kBodyNoMemory;
        void* grown = std::realloc(self->data, static_cast<size_t>(capacity));
        if (grown == nullptr)
            return kBodyNoMemory;
        self->data = static_cast<unsigned char*>(grown);
        self->capacity = capacity;
    }
    std::memcpy(self->data + self->length, bytes, static_cast<size_t>(count));
    self->length = static_cast<int32_t>(needed);
    return kBodyOk;
}

int32_t Read(BodyBuffer* self, void* destination, int32_t maximum, int32_t* count) {
    if (self == nullptr || count == nullptr || (destination == nullptr && maximum > 0))
        return kBodyMissing;
    int32_t remaining = self->length - self->readPos;
    int32_t delivered = maximum < 0 ? 0 : (maximum < remaining ? maximum : remaining);
    if (delivered > 0)
        std::memcpy(destination, self->data + self->readPos, static_cast<size_t>(delivered));
    self->readPos += delivered;
    *count = delivered;
    return kBodyOk;
}

int32_t Seek(BodyBuffer* self, int32_t position) {
    if (self == nullptr)
        return kBodyMissing;
    if (position < 0 || position >= self->length)
        return kBodySeekOutside;
    self->readPos = position;
    return kBodyOk;
}

int32_t Size(BodyBuffer* self, int32_t* length) {
    if (self == nullptr || length == nullptr)
        return kBodyMissing;
    *length = self->length;
    return kBodyOk;
}

int32_t Close(BodyBuffer*) {
    return kBodyOk;
}

// Leaves an empty buffer behind, so that the invariants hold and a second call is harmless.
void Release(BodyBuffer* self) {
    if (self == nullptr)
        return;
    std::free(self->data);
    self->data = nullptr;
    self->readPos = 0;
    self->length = 0;
    self->capacity = 0;
}

}  // namespace

int32_t NextBodyCapacity(int32_t capacity, int64_t needed) {
    if (needed > kBodyLimit)
        return 0;
    int64_t grown = capacity > 0 ? capacity : kFirstCapacity;
    // At least one byte a step: a quarter of a capacity below 4 is 0.
    while (grown < needed)
        grown += grown >= 4 ? grown / 4 : 1;
    return static_cast<int32_t>(grown < kBodyLimit ? grown : kBodyLimit);
}

int32_t CreateBodyBuffer(BodyBuffer** holder) {
    if (holder == nullptr)
        return kBodyMissing;
    auto* buffer =
        new (std::nothrow) BodyBuffer{Append, Read, Seek, Size, Close, Release, nullptr, 0, 0, 0};
    if (buffer == nullptr)
        return kBodyNoMemory;
    *holder = buffer;
    return kBodyOk;
}

void DestroyBodyBuffer(BodyBuffer** holder) {
    if (holder == nullptr || *holder == nullptr)
        return;
    (*holder)->Release(*holder);
    delete *holder;
    *holder = nullptr;
}

}  // namespace vodarezazuv
