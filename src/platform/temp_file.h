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
