// Local file names: the host hands them over as wide text; the system wants bytes.
#pragma once

#include <cstddef>
#include <string>

namespace vodarezazuv {

// A wide path as the system's file name (UTF-8 on Linux).
std::string WideToNativePath(const char16_t* path);

// A system file name as wide text, cut at capacity - 1 characters and terminated. Bytes that
// are not valid UTF-8 are read as Windows-1252. Returns the characters written.
size_t NativePathToWide(const char* path, char16_t* out, size_t capacity);

}  // namespace vodarezazuv
