#include "xml/body_buffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace vodarezazuv {
namespace {

BodyBufferPtr NewBuffer() {
    BodyBuffer* buffer = nullptr;
    EXPECT_EQ(CreateBodyBuffer(&buffer), kBodyOk);
    return BodyBufferPtr(buffer);
}

std::string ReadAll(BodyBuffer* buffer, int32_t maximum) {
    std::string out;
    char chunk[64];
    int32_t count = 0;
    while (buffer->Read(buffer, chunk, maximum, &count) == kBodyOk && count > 0)
        out.append(chunk, static_cast<size_t>(count));
    return out;
}

TEST(BodyBuffer, StartsEmptyAndKeepsTheBytesAsReceived) {
    BodyBufferPtr buffer = NewBuffer();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->data, nullptr);
    EXPECT_EQ(buffer->capacity, 0);

    const char bytes[] = {'a', 0, 'b', '\xFF'};
    ASSERT_EQ(buffer->Append(buffer.get(), bytes, 4), kBodyOk);
    ASSERT_EQ(buffer->Append(buffer.get(), "cd", 2), kBodyOk);
    int32_t length = -1;
    EXPECT_EQ(buffer->Size(buffer.get(), &length), kBodyOk);
    EXPECT_EQ(length, 6);
    EXPECT_EQ(ReadAll(buffer.get(), 4), std::string("a\0b\xFF"
                                                    "cd",
                                                    6))
        << "no terminator added";
    EXPECT_EQ(buffer->Close(buffer.get()), kBodyOk);
}

TEST(BodyBuffer, ReadDeliversWhatRemainsAndSeekStaysInsideTheData) {
    BodyBufferPtr buffer = NewBuffer();
    ASSERT_EQ(buffer->Append(buffer.get(), "0123456789", 10), kBodyOk);
    char chunk[8] = {};
    int32_t count = -1;
    EXPECT_EQ(buffer->Read(buffer.get(), chunk, 7, &count), kBodyOk);
    EXPECT_EQ(count, 7);
    EXPECT_EQ(buffer->Read(buffer.get(), chunk, 7, &count), kBodyOk);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(std::string(chunk, 3), "789");
    EXPECT_EQ(buffer->Read(buffer.get(), chunk, 7, &count), kBodyOk);
    EXPECT_EQ(count, 0) << "at the end";

    struct Case {
        int32_t position;
        int32_t result;
        int32_t readPosAfter;
    } cases[] = {
        {4, kBodyOk, 4},           {0, kBodyOk, 0},
        {9, kBodyOk, 9},           {10, kBodySeekOutside, 9},  // the length itself is outside
        {-1, kBodySeekOutside, 9}, {INT32_MAX, kBodySeekOutside, 9},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(buffer->Seek(buffer.get(), c.position), c.result) << c.position;
        EXPECT_EQ(buffer->readPos, c.readPosAfter) << c.position;
    }
    EXPECT_EQ(buffer->Read(buffer.get(), chunk, 7, &count), kBodyOk);
    EXPECT_EQ(std::string(chunk, static_cast<size_t>(count)), "9");

    ASSERT_EQ(buffer->Seek(buffer.get(), 2), kBodyOk);
    for (int32_t maximum : {0, -1, INT32_MIN}) {
        count = -1;
        EXPECT_EQ(buffer->Read(buffer.get(), chunk, maximum, &count), kBodyOk) << maximum;
        EXPECT_EQ(count, 0) << "a maximum of " << maximum << " delivers nothing";
        EXPECT_EQ(buffer->readPos, 2) << maximum;
    }
}

TEST(BodyBuffer, SeekOnAnEmptyBufferFailsAndReadThenGivesNothing) {
    BodyBufferPtr buffer = NewBuffer();
    EXPECT_EQ(buffer->Seek(buffer.get(), 0), kBodySeekOutside);
    char chunk[4];
    int32_t count = -1;
    EXPECT_EQ(buffer->Read(buffer.get(), chunk, 4, &count), kBodyOk);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(buffer->readPos, 0);
}

TEST(BodyBuffer, MissingObjectOrBytesAreRefusedAndChangeNothing) {
    BodyBufferPtr buffer = NewBuffer();
    BodyBuffer* b = buffer.get();
    ASSERT_EQ(b->Append(b, "xy", 2), kBodyOk);
    int32_t count = 0;
    char chunk[4];
    EXPECT_EQ(b->Append(nullptr, "x", 1), kBodyMissing);
    EXPECT_EQ(b->Append(b, nullptr, 1), kBodyMissing);
    EXPECT_EQ(b->Append(b, "x", -1), kBodyMissing);
    EXPECT_EQ(b->Read(nullptr, chunk, 4, &count), kBodyMissing);
    EXPECT_EQ(b->Read(b, nullptr, 4, &count), kBodyMissing);
    EXPECT_EQ(b->Read(b, chunk, 4, nullptr), kBodyMissing);
    EXPECT_EQ(b->Seek(nullptr, 0), kBodyMissing);
    EXPECT_EQ(b->Size(nullptr, &count), kBodyMissing);
    EXPECT_EQ(b->Size(b, nullptr), kBodyMissing);
    EXPECT_EQ(b->Append(b, nullptr, 0), kBodyOk) << "nothing to add";
    EXPECT_EQ(b->length, 2);
    EXPECT_EQ(b->readPos, 0);
    EXPECT_EQ(CreateBodyBuffer(nullptr), kBodyMissing);
    DestroyBodyBuffer(nullptr);
    BodyBuffer* none = nullptr;
    DestroyBodyBuffer(&none);
}

TEST(BodyBuffer, GrowsFrom4096ByAQuarterAtATime) {
    struct Case {
        int32_t capacity;
        int64_t needed;
        int32_t grown;
    } cases[] = {
        {0, 1, 4096},
        {0, 4096, 4096},
        {0, 4097, 5120},
        {4096, 5121, 6400},
        {0, 100000, 116407},  // 5120, 6400, 8000, 10000, 12500, ... (quarters rounded down)
        {0x7FFF0000, 0x7FFF0001, INT32_MAX},  // a quarter more would pass 2 GiB: cut there
        {INT32_MAX, INT32_MAX, INT32_MAX},
        {0, int64_t{INT32_MAX} + 1, 0},  // past the bound
        {INT32_MAX, INT64_MAX, 0},
        // A quarter of 1 to 3 is 0: such a capacity grows by a byte at a time until it can.
        {1, 2, 2},
        {3, 5, 5},
        {1, 6, 6},  // 2, 3, 4, then 4 + 1
        {2, 7, 7},  // 3, 4, 5, 6, 7
    };
    for (const Case& c : cases)
        EXPECT_EQ(NextBodyCapacity(c.capacity, c.needed), c.grown) << c.capacity << " " << c.needed;

    BodyBufferPtr buffer = NewBuffer();
    std::string block(4097, 'x');
    ASSERT_EQ(buffer->Append(buffer.get(), block.data(), 1), kBodyOk);
    EXPECT_EQ(buffer->capacity, 4096);
    ASSERT_EQ(buffer->Append(buffer.get(), block.data(), 4096), kBodyOk);
    EXPECT_EQ(buffer->capacity, 5120);
    EXPECT_EQ(buffer->length, 4097);
}

// A body that would pass 2 GiB is refused before anything is allocated or written: the
// counters below stand for a full buffer without one being allocated.
TEST(BodyBuffer, AppendPastTwoGibFailsAndLeavesTheBufferAlone) {
    BodyBufferPtr buffer = NewBuffer();
    ASSERT_EQ(buffer->Append(buffer.get(), "0123456789abcdef", 16), kBodyOk);
    unsigned char* block = buffer->data;
    int32_t realLength = buffer->length;
    int32_t realCapacity = buffer->capacity;
    for (int32_t full : {INT32_MAX, INT32_MAX - 15}) {
        buffer->length = full;
        buffer->capacity = full;
        EXPECT_EQ(buffer->Append(buffer.get(), "0123456789abcdef", 16), kBodyNoMemory) << full;
        EXPECT_EQ(buffer->data, block);
        EXPECT_EQ(buffer->length, full);
        EXPECT_EQ(buffer->capacity, full);
    }
    buffer->length = realLength;
    buffer->capacity = realCapacity;
    EXPECT_EQ(std::memcmp(buffer->data, "0123456789abcdef", 16), 0);
}

TEST(BodyBuffer, ReleaseLeavesAnEmptyBuffer) {
    BodyBufferPtr buffer = NewBuffer();
    ASSERT_EQ(buffer->Append(buffer.get(), "abc", 3), kBodyOk);
    buffer->Release(buffer.get());
    EXPECT_EQ(buffer->data, nullptr);
    EXPECT_EQ(buffer->length, 0);
    EXPECT_EQ(buffer->capacity, 0);
    buffer->Release(buffer.get());
    ASSERT_EQ(buffer->Append(buffer.get(), "d", 1), kBodyOk) << "usable again";
    EXPECT_EQ(buffer->length, 1);
}

}  // namespace
}  // namespace vodarezazuv
