#include "util/unicode.h"

#include "platform/codepage.h"
#include "util/bounded_text.h"

namespace vodarezazuv {

namespace {

bool IsHighSurrogate(uint32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Reads one character, combining a high surrogate with a low one that follows it.
uint32_t ReadUtf16(const char16_t*& in, const char16_t* inEnd) {
    uint32_t c = *in++;
    if (IsHighSurrogate(c) && in < inEnd && IsLowSurrogate(*in)) {
        c = ((c - 0xD800) << 10) + (*in++ - 0xDC00) + 0x10000;
    }
    return c;
}

size_t Utf8Length(uint32_t value) {
    if (value < 0x80)
        return 1;
    if (value < 0x800)
        return 2;
    if (value < 0x10000)
        return 3;
    return 4;
}

void WriteUtf8(uint32_t value, size_t length, char* out) {
    static constexpr unsigned char kLeadMark[5] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};
    for (size_t i = length - 1; i > 0; --i) {
        out[i] = static_cast<char>(0x80 | (value & 0x3F));
        value >>= 6;
    }
    out[0] = static_cast<char>(value | kLeadMark[length]);
}

// Number of trailing bytes by lead byte, and what to subtract from the summed bytes.
size_t TrailingBytes(unsigned char lead) {
    if (lead < 0xC0)
        return 0;
    if (lead < 0xE0)
        return 1;
    if (lead < 0xF0)
        return 2;
    if (lead < 0xF8)
        return 3;
    if (lead < 0xFC)
        return 4;
    return 5;
}

constexpr uint32_t kUtf8Offsets[6] = {0x00000000, 0x00003080, 0x000E2080,
                                      0x03C82080, 0xFA082080, 0x82082080};

uint32_t DecodeUtf8(const char* in, size_t trailing) {
    uint32_t value = 0;
    for (size_t i = 0; i <= trailing; ++i) {
        value = (value << 6) + static_cast<unsigned char>(in[i]);
    }
    return value - kUtf8Offsets[trailing];
}

}  // namespace

ConvResult Utf16ToUtf8(const char16_t*& in, const char16_t* inEnd, char*& out, char* outEnd) {
    while (in < inEnd) {
        const char16_t* start = in;
        uint32_t value = ReadUtf16(in, inEnd);
        size_t length = Utf8Length(value);
        if (static_cast<size_t>(outEnd - out) < length) {
            in = start;
            return ConvOutputFull;
        }
        WriteUtf8(value, length, out);
        out += length;
    }
    return ConvDone;
}

ConvResult Utf8ToUtf16(const char*& in, const char* inEnd, char16_t*& out, char16_t* outEnd) {
    while (in < inEnd) {
        size_t trailing = TrailingBytes(static_cast<unsigned char>(*in));
        if (static_cast<size_t>(inEnd - in) <= trailing)
            return ConvInputCut;
        uint32_t value = DecodeUtf8(in, trailing);
        if (out >= outEnd)
            return ConvOutputFull;
        if (value <= 0xFFFF) {
            *out++ = static_cast<char16_t>(value);
        } else if (value > 0x10FFFF) {
            *out++ = 0xFFFD;
        } else {
            if (outEnd - out < 2)
                return ConvOutputFull;
            value -= 0x10000;
            *out++ = static_cast<char16_t>(0xD800 + (value >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        }
        in += trailing + 1;
    }
    return ConvDone;
}

void WidenWithPlaceholder(int utf8, const char* text, char16_t* dest, size_t capacity,
                          const char16_t* placeholder) {
    if (capacity == 0)
        return;
    CopyBoundedW(dest, placeholder, capacity - 1);
    if (text == nullptr)
        return;
    if (utf8 == 0) {
        AnsiToWide(text, dest, capacity);
        return;
    }
    // The terminator stays out of the input range: the lenient decoder would otherwise take
    // it as the trailing byte of a sequence cut at the end of the text.
    const char* in = text;
    char16_t* out = dest;
    Utf8ToUtf16(in, text + NarrowLength(text), out, dest + capacity - 1);
    *out = 0;
}

}  // namespace vodarezazuv
