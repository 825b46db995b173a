#include "platform/native_path.h"

#include "platform/linux/utf8_text.h"

namespace vodarezazuv {

std::string WideToNativePath(const char16_t* path) {
    return WideToUtf8(path);
}

size_t NativePathToWide(const char* path, char16_t* out, size_t capacity) {
    if (capacity == 0)
        return 0;
    std::u16string wide = Utf8ToWide(DecodeUtf8OrAnsi(path));
    size_t n = wide.copy(out, capacity - 1);
    // Never end on the first half of a pair that was cut.
    if (n > 0 && n < wide.size() && out[n - 1] >= 0xD800 && out[n - 1] <= 0xDBFF)
        --n;
    out[n] = 0;
    return n;
}

}  // namespace vodarezazuv
