// Local file names: the host hands them over as wide text; the system wants bytes.
#pragma once

#include <cstddef>
#include <string>

namespace vodarezazuv {

// A wide path as the system's file name (UTF-8 on Linux). The lone surrogates U+DC80 to
// U+DCFF stand for the bytes 0x80 to 0xFF that NativePathToWide found outside valid UTF-8.
std::string WideToNativePath(const char16_t* path);

// A system file name as wide text, cut at capacity - 1 characters (whole characters only)
// and terminated. Each byte that is not part of valid UTF-8 becomes U+DC00 plus the byte,
// so that WideToNativePath gives the same bytes back. Returns the characters written.
size_t NativePathToWide(const char* path, char16_t* out, size_t capacity);

}  // namespace vodarezazuv
