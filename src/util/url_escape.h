// Request targets from host paths, and the trailing slash that marks a collection.
#pragma once

#include <cstddef>

namespace vodarezazuv {

// Turns a backslash-separated wide path, in place, into a percent-escaped request target
// with slashes, its bytes in UTF-8 (utf8 nonzero) or in the ANSI code page. capacity is the
// number of elements of the buffer: the escaped text holds at most capacity - 1 characters.
// Returns path, or nullptr when the path cannot be sent faithfully: it holds "?", a
// character the code page lacks, or more than fits the byte work area or the buffer. Even
// then the buffer holds the (possibly cut) escaped text, unless capacity is 0.
char16_t* EscapeUrlPath(char16_t* path, size_t capacity, int utf8);

// Appends "/" within limit characters unless the path is empty or already ends in "/".
// Returns path.
char16_t* EnsureTrailingSlash(char16_t* path, size_t limit);

}  // namespace vodarezazuv
