// The system ANSI code page: Windows-1252 on every platform of the plugin.
#pragma once

#include <cstddef>

namespace vodarezazuv {

// The character written for one the code page cannot represent.
inline constexpr char kAnsiDefaultChar = '?';

// Converts a terminated wide text into the ANSI code page. Writes at most capacity - 1
// bytes and a terminator (nothing when capacity is 0) and stops before a character that
// does not fit. A character without a code-page byte becomes kAnsiDefaultChar (a surrogate
// pair as one character) and sets *replaced when given. Returns the number of bytes written
// without the terminator.
size_t WideToAnsi(const char16_t* text, char* out, size_t capacity, bool* replaced = nullptr);

// Converts a terminated ANSI text into UTF-16. Every byte has a character: the five bytes
// that Windows-1252 leaves undefined become the control characters of the same number, so
// that a conversion back gives the same bytes. Writes at most capacity - 1 characters and a
// terminator; returns the number of characters written without the terminator.
size_t AnsiToWide(const char* text, char16_t* out, size_t capacity);

// The UTF-16 character of one Windows-1252 byte.
char16_t AnsiCharToWide(unsigned char byte);

}  // namespace vodarezazuv
