// Standard Base64 (RFC 4648 alphabet with "=" padding, no line breaks).
#pragma once

#include <cstddef>
#include <memory>

namespace vodarezazuv {

// Encodes a buffer into a new text of exactly 4 * ceil(length / 3) characters, stored in
// *outLength when given (0 on failure). The text is terminated, though callers must go by
// the length. Returns nullptr when ceil(length / 3) reaches 2^30 or memory is short; an
// empty input gives an empty text.
std::unique_ptr<char[]> Base64Encode(const unsigned char* data, size_t length, size_t* outLength);

// Encodes the bytes of a terminated text into out, cut at limit characters (possibly inside
// a group) and terminated. Returns out.
char* Base64EncodeText(const char* text, char* out, size_t limit);

}  // namespace vodarezazuv
