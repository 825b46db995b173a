// UTF-16 <-> UTF-8 transcoders over cursor ranges, and the widening of a narrow text for
// display. Ends are exclusive; neither transcoder writes a terminator of its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vodarezazuv {

enum ConvResult : int32_t {
    ConvDone = 0,        // the whole input range was converted
    ConvInputCut = 1,    // the input ends inside a multi-byte sequence; both cursors stand at
                         // the start of that sequence
    ConvOutputFull = 2,  // the next character does not fit; the input cursor stands at it and
                         // the output cursor after the last whole character written
};

// Encodes UTF-16 as UTF-8. A surrogate unit without its partner is encoded by itself as a
// three-byte sequence, not refused. Returns ConvDone or ConvOutputFull.
ConvResult Utf16ToUtf8(const char16_t*& in, const char16_t* inEnd, char*& out, char* outEnd);

// Decodes UTF-8 leniently: continuation bytes and overlong forms are not checked, a stray
// continuation byte stands for the character of the same number, and a value beyond U+10FFFF
// becomes U+FFFD.
ConvResult Utf8ToUtf16(const char*& in, const char* inEnd, char16_t*& out, char16_t* outEnd);

// Writes the placeholder into dest; then, when text is given, replaces it by the text
// widened from UTF-8 (utf8 nonzero) or from the ANSI code page. Always terminated, cut at
// capacity - 1 characters; nothing is written when capacity is 0.
void WidenWithPlaceholder(int utf8, const char* text, char16_t* dest, size_t capacity,
                          const char16_t* placeholder);

}  // namespace vodarezazuv
