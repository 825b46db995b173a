#include "util/url_escape.h"

#include "platform/codepage.h"
#include "util/bounded_text.h"
#include "util/unicode.h"

#include <algorithm>
#include <cstring>

namespace vodarezazuv {

namespace {

// Bytes of the path form, without the terminator.
constexpr size_t kByteFormLimit = 1023;
constexpr size_t kEscapedLimit = 3 * kByteFormLimit;

constexpr char kEscapeSet[] = " %<>\"{}|^[]~`@=&#";

bool NeedsEscape(unsigned char byte) {
    // Control bytes are escaped too: a raw CR or LF from a server's name would otherwise end
    // the request line and let the name inject headers into the request.
    if (byte < 0x20 || byte >= 0x7F)
        return true;
    for (const char* p = kEscapeSet; *p != 0; ++p) {
        if (*p == static_cast<char>(byte))
            return true;
    }
    return false;
}

// The byte form of the path, cut at the last whole character that fits. Returns false
// when it had to be cut or, in ANSI mode, when a character had to be replaced.
bool ToByteForm(const char16_t* path, int utf8, char (&bytes)[kByteFormLimit + 1]) {
    if (utf8 != 0) {
        const char16_t* in = path;
        char* out = bytes;
        ConvResult result = Utf16ToUtf8(in, path + WideLength(path), out, bytes + kByteFormLimit);
        *out = 0;
        return result == ConvDone;
    }
    // Unless a character was replaced, each one is one byte: a cut shows in the count.
    bool replaced = false;
    size_t written = WideToAnsi(path, bytes, sizeof bytes, &replaced);
    return !replaced && written == WideLength(path);
}

// Percent-escapes bytes into at most limit characters, stopping before a byte whose form
// does not fit whole. Returns false when it stopped early.
bool EscapeBytes(const char* bytes, char* escaped, size_t limit) {
    static constexpr char kHex[] = "0123456789abcdef";
    size_t used = 0;
    const char* p = bytes;
    for (; *p != 0; ++p) {
        unsigned char byte = static_cast<unsigned char>(*p);
        bool escape = NeedsEscape(byte);
        if (used + (escape ? 3 : 1) > limit)
            break;
        if (escape) {
            escaped[used++] = '%';
            escaped[used++] = kHex[byte >> 4];
            escaped[used++] = kHex[byte & 0x0F];
        } else {
            escaped[used++] = *p;
        }
    }
    escaped[used] = 0;
    return *p == 0;
}

}  // namespace

char16_t* EscapeUrlPath(char16_t* path, size_t capacity, int utf8) {
    if (capacity == 0)
        return nullptr;
    // A cut request target would make a DELETE or MOVE act on another resource, so a path
    // cut in its byte form or while escaping is refused as well.
    char bytes[kByteFormLimit + 1];
    bool faithful = ToByteForm(path, utf8, bytes);
    // "?" would start a query; in ANSI mode it is also what a missing character became.
    faithful = faithful && std::strchr(bytes, '?') == nullptr;
    char escaped[kEscapedLimit + 1];
    faithful = EscapeBytes(bytes, escaped, std::min(capacity - 1, kEscapedLimit)) && faithful;
    ForwardSlashesA(escaped);
    size_t i = 0;
    for (; escaped[i] != 0; ++i)
        path[i] = static_cast<unsigned char>(escaped[i]);
    path[i] = 0;
    return faithful ? path : nullptr;
}

char16_t* EnsureTrailingSlash(char16_t* path, size_t limit) {
    size_t length = WideLength(path);
    if (length > 0 && path[length - 1] != u'/')
        AppendBoundedW(path, u"/", limit);
    return path;
}

}  // namespace vodarezazuv
