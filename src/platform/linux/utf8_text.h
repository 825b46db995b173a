// Strict UTF-8 for text that comes from files and file names of this platform.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vodarezazuv {

void AppendUtf8(std::string& out, char32_t c);

// The length of a well-formed UTF-8 sequence at text[i] (no overlong forms, no surrogates,
// nothing above U+10FFFF) with its value, or 0.
size_t Utf8SequenceAt(std::string_view text, size_t i, char32_t& value);

// UTF-8 as it stands; every byte that is not part of a valid sequence read as Windows-1252.
std::string DecodeUtf8OrAnsi(std::string_view bytes);

// UTF-16 bytes (without byte-order mark) as UTF-8; a lone surrogate becomes U+FFFD.
std::string DecodeUtf16(std::string_view bytes, bool bigEndian);

// Wide text as UTF-8; a lone surrogate becomes U+FFFD. nullptr gives "".
std::string WideToUtf8(const char16_t* text);

// Valid UTF-8 as wide text; a byte outside a valid sequence becomes U+FFFD.
std::u16string Utf8ToWide(std::string_view text);

}  // namespace vodarezazuv
