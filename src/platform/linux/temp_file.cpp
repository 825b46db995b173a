#include "platform/temp_file.h"

#include <cstdlib>

#include "platform/native_path.h"
#include "util/bounded_text.h"

namespace vodarezazuv {

size_t TempFileName(const char16_t* prefix, uint32_t number, char16_t* out, size_t capacity) {
    if (capacity == 0)
        return 0;
    out[0] = 0;
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || folder[0] == 0)
        folder = "/tmp";
    char16_t wideFolder[kNameLimit + 1];
    if (NativePathToWide(folder, wideFolder, kNameLimit + 1) == 0)
        return 0;
    char16_t name[kLongPathLimit + 1];
    size_t length = FormatWide(name, kLongPathLimit + 1, u"%s/%s%X.tmp",
                               {static_cast<const char16_t*>(wideFolder), prefix, number});
    if (length + 1 > capacity || length >= kLongPathLimit)
        return 0;
    CopyBoundedW(out, name, capacity - 1);
    return length;
}

}  // namespace vodarezazuv
