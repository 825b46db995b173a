// The in-memory body of one response: filled block by block while the response is read,
// then read back from the start by the XML tree builder.
#pragma once

#include <cstdint>
#include <memory>

namespace vodarezazuv {

// Results of the BodyBuffer operations: the 16-bit forms of -2, -5 and -7, zero-extended.
// Callers test only for zero.
inline constexpr int32_t kBodyOk = 0;
inline constexpr int32_t kBodyMissing = 0xFFFE;      // no object, or no bytes for a count
inline constexpr int32_t kBodyNoMemory = 0xFFFB;     // the block cannot grow
inline constexpr int32_t kBodySeekOutside = 0xFFF9;  // a position outside the data

// Lengths and positions are signed 32-bit, so a body stays below 2 GiB.
inline constexpr int32_t kBodyLimit = INT32_MAX;

// A self-describing input source: its operations first, then its data. Invariants:
// 0 <= readPos <= length <= capacity, and data is null exactly when capacity is 0. The bytes
// are kept as received, without a terminating NUL.
struct BodyBuffer {
    // Adds count bytes at the end; the buffer is unchanged when it fails.
    int32_t (*Append)(BodyBuffer* self, const void* bytes, int32_t count);
    // Copies up to maximum bytes from the read position and advances it by the count.
    int32_t (*Read)(BodyBuffer* self, void* destination, int32_t maximum, int32_t* count);
    // Sets the read position to a byte of the data (0 <= position < length).
    int32_t (*Seek)(BodyBuffer* self, int32_t position);
    int32_t (*Size)(BodyBuffer* self, int32_t* length);
    int32_t (*Close)(BodyBuffer* self);  // does nothing
    void (*Release)(BodyBuffer* self);   // frees the data block

    unsigned char* data;  // owned; null while nothing was appended
    int32_t readPos;
    int32_t length;
    int32_t capacity;
};

// Makes an empty buffer in *holder: kBodyMissing without a holder, kBodyNoMemory when the
// object cannot be allocated.
int32_t CreateBodyBuffer(BodyBuffer** holder);

// Releases the data and frees the buffer in *holder, then clears the holder; an empty or
// missing holder is ignored.
void DestroyBodyBuffer(BodyBuffer** holder);

// The capacity Append grows a block of `capacity` bytes to so that it holds `needed` bytes:
// from 4096 (or the current capacity) a quarter more at a time (one byte more below 4), cut
// at kBodyLimit. 0 when
// needed passes kBodyLimit.
int32_t NextBodyCapacity(int32_t capacity, int64_t needed);

// Owns a buffer for the length of one request.
struct BodyBufferDeleter {
    void operator()(BodyBuffer* buffer) const { DestroyBodyBuffer(&buffer); }
};
using BodyBufferPtr = std::unique_ptr<BodyBuffer, BodyBufferDeleter>;

}  // namespace vodarezazuv
