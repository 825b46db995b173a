// Bounded copies and appends on fixed text buffers. Every routine takes the maximum number
// of characters n, not the buffer size: the buffer holds n + 1 elements, the result is always
// terminated and longer text is cut silently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>

namespace vodarezazuv {

// Limits of the fixed buffers used across the plugin.
inline constexpr size_t kNameLimit = 259;         // name or path field of 260
inline constexpr size_t kLongPathLimit = 779;     // remote path or log line of 780
inline constexpr size_t kHeaderLimit = 511;       // request header text of 512
inline constexpr size_t kLongHeaderLimit = 1023;  // download header text of 1024

size_t WideLength(const char16_t* text);
size_t NarrowLength(const char* text);

char* CopyBoundedA(char* destination, const char* source, size_t limit);
char16_t* CopyBoundedW(char16_t* destination, const char16_t* source, size_t limit);
char* AppendBoundedA(char* destination, const char* source, size_t limit);
char16_t* AppendBoundedW(char16_t* destination, const char16_t* source, size_t limit);

char* ForwardSlashesA(char* text);
char16_t* ForwardSlashesW(char16_t* text);

// A heap copy of text, or none when memory is short.
std::unique_ptr<char[]> DuplicateText(const char* text);

// Wide equality, exact or ignoring the case of the ASCII letters A to Z.
bool WideEqual(const char16_t* a, const char16_t* b);
bool WideEqualNoCase(const char16_t* a, const char16_t* b);

// One value for FormatWide: a wide text for %s, a number for %d, %u, %x.
struct FormatArg {
    enum class Kind { Text, Signed, Unsigned } kind;
    const char16_t* text = nullptr;
    int64_t number = 0;

    FormatArg(const char16_t* value) : kind(Kind::Text), text(value) {}  // NOLINT
    FormatArg(int32_t value) : kind(Kind::Signed), number(value) {}      // NOLINT
    FormatArg(uint32_t value) : kind(Kind::Unsigned), number(value) {}   // NOLINT
};

// printf-style formatting into a wide buffer of `capacity` elements: %s inserts a wide text,
// %d a signed and %u an unsigned 32-bit decimal, %x and %X hexadecimal, %c one character,
// %% a percent sign; the flags "0" and "-" and a width are understood. Output is cut at
// capacity - 1 characters and terminated. A conversion without a matching value inserts
// nothing; one it does not know stays as written and uses no value; %c of 0 or of a text
// inserts nothing. Returns the number of characters written.
size_t FormatWide(char16_t* destination, size_t capacity, const char16_t* format,
                  std::initializer_list<FormatArg> values);

}  // namespace vodarezazuv
