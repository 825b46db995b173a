#include "dav/remote_path.h"

#include "plugin/reporting.h"
#include "util/url_escape.h"

namespace vodarezazuv {

void LogTwo(const char16_t* first, const char16_t* second) {
    char16_t line[kLongPathLimit + 1];
    CopyBoundedW(line, first, kLongPathLimit);
    AppendBoundedW(line, second, kLongPathLimit);
    LogLine(line);
}

bool EscapedPath(const char16_t* path, int32_t utf8, PathBuffer& out) {
    out[0] = 0;
    if (WideLength(path) > kLongPathLimit)
        return false;
    CopyBoundedW(out, path, kLongPathLimit);
    return EscapeUrlPath(out, kLongPathLimit + 1, utf8) != nullptr;
}

}  // namespace vodarezazuv
