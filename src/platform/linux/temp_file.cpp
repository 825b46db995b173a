#include "platform/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

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

namespace vodarezazuv {

namespace {

int OpenNamed(const char16_t* prefix, uint32_t number, int extraFlags) {
    char16_t name[kLongPathLimit + 1];
    if (TempFileName(prefix, number, name, kLongPathLimit + 1) == 0)
        return -1;
    std::string path = WideToNativePath(name);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | extraFlags, 0600);
    if (fd < 0)
        return -1;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid() ||
        ftruncate(fd, 0) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int OpenTempFile(const char16_t* prefix, uint32_t* number) {
    if (*number != 0)
        return OpenNamed(prefix, *number, 0);
    // Numbers from a per-process start, as the system's own choice of a unique name does.
    static std::atomic<uint32_t> next{static_cast<uint32_t>(getpid()) * 7919u};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        uint32_t candidate = next.fetch_add(1) & 0xFFFFu;
        if (candidate == 0)
            continue;
        int fd = OpenNamed(prefix, candidate, O_EXCL);
        if (fd >= 0) {
            *number = candidate;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

}  // namespace vodarezazuv
