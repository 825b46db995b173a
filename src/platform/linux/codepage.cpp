#include "platform/codepage.h"

#include <cstdint>

namespace vodarezazuv {

namespace {

// Windows-1252 bytes 0x80 to 0x9F; the five undefined ones map to the C1 control of the
// same number, as the Windows conversion does.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The byte of a character, or -1 when Windows-1252 has none.
int AnsiByteOf(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == c)
            return 0x80 + i;
    }
    return -1;
}

}  // namespace

char16_t AnsiCharToWide(unsigned char byte) {
    return (byte >= 0x80 && byte < 0xA0) ? kHighControls[byte - 0x80] : char16_t(byte);
}

size_t WideToAnsi(const char16_t* text, char* out, size_t capacity, bool* replaced) {
    if (replaced != nullptr)
        *replaced = false;
    if (capacity == 0)
        return 0;
    size_t used = 0;
    for (const char16_t* p = text; *p != 0 && used + 1 < capacity; ++p) {
        int byte = AnsiByteOf(*p);
        if (byte < 0) {
            byte = kAnsiDefaultChar;
            if (replaced != nullptr)
                *replaced = true;
            // A surrogate pair is one character and gets one default character.
            if (*p >= 0xD800 && *p <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF)
                ++p;
        }
        out[used++] = static_cast<char>(byte);
    }
    out[used] = 0;
    return used;
}

size_t AnsiToWide(const char* text, char16_t* out, size_t capacity) {
    if (capacity == 0)
        return 0;
    size_t used = 0;
    for (const char* p = text; *p != 0 && used + 1 < capacity; ++p) {
        out[used++] = AnsiCharToWide(static_cast<unsigned char>(*p));
    }
    out[used] = 0;
    return used;
}

}  // namespace vodarezazuv
