#include "platform/native_path.h"

#include "platform/linux/utf8_text.h"

namespace vodarezazuv {

namespace {

// A byte of a file name that is not part of valid UTF-8 travels as the lone low surrogate
// U+DC80 to U+DCFF and becomes the same byte again, so that every name the system gives can
// be opened again, valid UTF-8 or not.
constexpr char16_t kEscapedByteBase = 0xDC00;

bool IsEscapedByte(char16_t c) {
    return c >= 0xDC80 && c <= 0xDCFF;
}

}  // namespace

std::string WideToNativePath(const char16_t* path) {
    std::string out;
    if (path == nullptr)
        return out;
    for (const char16_t* p = path; *p != 0; ++p) {
        char32_t c = *p;
        if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        } else if (IsEscapedByte(*p)) {
            out += static_cast<char>(*p - kEscapedByteBase);
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

size_t NativePathToWide(const char* path, char16_t* out, size_t capacity) {
    if (capacity == 0)
        return 0;
    std::string_view bytes(path);
    size_t used = 0;
    for (size_t i = 0; i < bytes.size();) {
        char32_t value = 0;
        size_t length = Utf8SequenceAt(bytes, i, value);
        char16_t units[2];
        size_t count = 1;
        if (length == 0) {
            units[0] =
                static_cast<char16_t>(kEscapedByteBase + static_cast<unsigned char>(bytes[i]));
            length = 1;
        } else if (value >= 0x10000) {
            units[0] = static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
            units[1] = static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
            count = 2;
        } else {
            units[0] = static_cast<char16_t>(value);
        }
        if (used + count > capacity - 1)  // only whole characters
            break;
        for (size_t k = 0; k < count; ++k)
            out[used++] = units[k];
        i += length;
    }
    out[used] = 0;
    return used;
}

}  // namespace vodarezazuv
