// Byte counts and offsets of the transfers as decimal header text.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>

#include "util/bounded_text.h"

namespace vodarezazuv {

// Appends value in decimal (all 64 bits) within limit characters.
inline void AppendDecimal(char16_t* text, int64_t value, size_t limit) {
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    char16_t wide[24];
    size_t length = 0;
    for (const char* p = digits; p != end; ++p)
        wide[length++] = static_cast<char16_t>(*p);
    wide[length] = 0;
    AppendBoundedW(text, wide, limit);
}

}  // namespace vodarezazuv
