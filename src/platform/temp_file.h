// Names of temporary files in the system's temporary folder, made from a prefix and a
// number, so that a file created under a name can be found again from the number alone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vodarezazuv {

// Writes the name for prefix and number (nonzero) into out (capacity elements): the
// temporary folder ($TMPDIR, else /tmp), "/", the prefix, the number as upper-case
// hexadecimal and ".tmp". Returns its length, 0 (and an empty text) when it does not fit.
size_t TempFileName(const char16_t* prefix, uint32_t number, char16_t* out, size_t capacity);

}  // namespace vodarezazuv

namespace vodarezazuv {

// Opens the temporary file of prefix and *number for writing, emptied. With *number 0 a
// number whose file does not exist yet is chosen, the file is created and *number set. The
// file is private to the user (0600) and never reached through a symbolic link or owned by
// another user. Returns a descriptor to close, or -1.
int OpenTempFile(const char16_t* prefix, uint32_t* number);

}  // namespace vodarezazuv
