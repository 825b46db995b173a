// What every operation does with its remote path first: a log line that names it, and the
// request target escaped from it.
#pragma once

#include <cstdint>

#include "util/bounded_text.h"

namespace vodarezazuv {

using PathBuffer = char16_t[kLongPathLimit + 1];

// Logs first followed by second, cut to one line.
void LogTwo(const char16_t* first, const char16_t* second);

// The escaped request target of a remote path into out. False when it cannot be sent as it
// is: a character the request cannot carry, or a path that would have to be cut (a cut
// path names another resource).
bool EscapedPath(const char16_t* path, int32_t utf8, PathBuffer& out);

}  // namespace vodarezazuv
