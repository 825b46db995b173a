// A first pass over a response body that finds markup expat could not parse in linear time.
//
// expat keeps an incomplete token (a start tag, a comment, a processing instruction, a
// declaration, a reference) buffered and scans it again from its start on every call that
// brings more bytes. Fed 128 bytes at a time, one token of n bytes costs about n * n / 256
// byte steps: a 1 MiB attribute value takes seconds, a few MiB take minutes. Bounding every
// such token keeps the whole parse linear in the body size.
#pragma once

#include <cstdint>

#include "xml/body_buffer.h"

namespace vodarezazuv {

// The longest markup token a body may hold, in bytes from its "<" (or "&", "%") to its last
// byte. Real multistatus answers stay far below it: their longest tokens are start tags
// with a few namespace declarations, well under 2 KiB. Since expat's cost per byte grows
// with the token's length, the limit sets the worst case: a body made only of 16 KiB tokens
// parses at about 12 MB per second, a quarter of the speed of an ordinary listing; 64 KiB
// tokens would bring that down to about 3 MB per second.
inline constexpr int32_t kMarkupTokenLimit = 16 * 1024;

// Reads the whole buffer once from position 0 (through its Seek and Read) and tells whether
// every token expat scans again while it is incomplete stays within `limit` bytes. Counted
// as one token each: a start or end tag with its attributes (a ">" inside a quoted value
// does not end it), a comment, a processing instruction or the XML declaration, an entity
// or character reference, and in the document type its opening up to "[", each declaration
// or parameter entity reference inside, and the closing "]...>". Text and CDATA sections
// are not tokens: expat hands them on piece by piece. UTF-16 bodies are read in 16-bit
// units. Allocates nothing; the read position is left at the end.
bool MarkupTokensFitIn(BodyBuffer* buffer, int32_t limit);

}  // namespace vodarezazuv
