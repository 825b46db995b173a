#include "platform/local_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "platform/native_path.h"
#include "util/bounded_text.h"

namespace vodarezazuv {

namespace {

// FILETIME of the Unix epoch, and its steps per second.
constexpr uint64_t kUnixEpochFiletime = 116444736000000000ULL;
constexpr uint64_t kFiletimeStepsPerSecond = 10000000ULL;

LocalOpenError ErrorOf(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
        case EBUSY:
            return LocalOpenError::AccessDenied;
        case ENOENT:
            return LocalOpenError::NotFound;
        case EEXIST:
            return LocalOpenError::Exists;
        default:
            return LocalOpenError::Other;
    }
}

int FlagsOf(LocalAccess access, LocalCreation creation) {
    int flags = O_CLOEXEC | (access == LocalAccess::Read ? O_RDONLY : O_WRONLY);
    switch (creation) {
        case LocalCreation::OpenExisting:
            break;
        case LocalCreation::CreateNew:
            flags |= O_CREAT | O_EXCL;
            break;
        case LocalCreation::CreateOrEmpty:
            flags |= O_CREAT | O_TRUNC;
            break;
    }
    return flags;
}

}  // namespace

LocalFile::~LocalFile() {
    Close();
}

LocalFile::LocalFile(LocalFile&& other) noexcept : descriptor_(other.descriptor_) {
    other.descriptor_ = -1;
    ahead_ = std::move(other.ahead_);
    aheadStart_ = std::exchange(other.aheadStart_, 0);
    aheadEnd_ = std::exchange(other.aheadEnd_, 0);
}

LocalFile& LocalFile::operator=(LocalFile&& other) noexcept {
    if (this != &other) {
        Close();
        descriptor_ = other.descriptor_;
        other.descriptor_ = -1;
        ahead_ = std::move(other.ahead_);
        aheadStart_ = std::exchange(other.aheadStart_, 0);
        aheadEnd_ = std::exchange(other.aheadEnd_, 0);
    }
    return *this;
}

void LocalFile::Close() {
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = -1;
    aheadStart_ = aheadEnd_ = 0;
}

int64_t LocalFile::Size() const {
    struct stat status {};
    if (descriptor_ < 0 || ::fstat(descriptor_, &status) != 0)
        return -1;
    return static_cast<int64_t>(status.st_size);
}

bool LocalFile::SeekToEnd() {
    return descriptor_ >= 0 && ::lseek(descriptor_, 0, SEEK_END) >= 0;
}

bool LocalFile::Write(const void* data, size_t count) {
    const char* bytes = static_cast<const char*>(data);
    while (count > 0) {
        ssize_t written = ::write(descriptor_, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

namespace {

ssize_t ReadSome(int descriptor, void* destination, size_t size) {
    for (;;) {
        ssize_t read = ::read(descriptor, destination, size);
        if (read >= 0 || errno != EINTR)
            return read;
    }
}

}  // namespace

int64_t LocalFile::Read(void* destination, size_t size) {
    if (aheadStart_ == aheadEnd_) {
        if (size >= kReadAhead)
            return ReadSome(descriptor_, destination, size);
        if (!ahead_)
            ahead_.reset(new (std::nothrow) char[kReadAhead]);
        if (!ahead_)
            return ReadSome(descriptor_, destination, size);
        ssize_t read = ReadSome(descriptor_, ahead_.get(), kReadAhead);
        if (read <= 0)
            return read;
        aheadStart_ = 0;
        aheadEnd_ = static_cast<size_t>(read);
    }
    size_t count = std::min(size, aheadEnd_ - aheadStart_);
    std::memcpy(destination, ahead_.get() + aheadStart_, count);
    aheadStart_ += count;
    return static_cast<int64_t>(count);
}

bool LocalFile::SetLastWriteTime(uint64_t filetime) {
    if (descriptor_ < 0)
        return false;
    if (filetime == 0 || static_cast<int64_t>(filetime) < 0)
        return true;
    // Times before 1970 are negative Unix times; floor division keeps nanoseconds positive.
    int64_t steps = static_cast<int64_t>(filetime - kUnixEpochFiletime);
    int64_t perSecond = static_cast<int64_t>(kFiletimeStepsPerSecond);
    int64_t seconds = steps / perSecond;
    int64_t rest = steps % perSecond;
    if (rest < 0) {
        rest += perSecond;
        --seconds;
    }
    timespec times[2] = {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(rest * 100);
    return ::futimens(descriptor_, times) == 0;
}

LocalOpenError OpenLocalFile(const char16_t* name, LocalAccess access, LocalCreation creation,
                             LocalFile& file) {
    file.Close();
    if (name == nullptr || *name == 0)
        return LocalOpenError::NotFound;
    if (WideLength(name) > kLocalNameLimit)
        return LocalOpenError::TooLong;
    std::string path = WideToNativePath(name);
    int descriptor = ::open(path.c_str(), FlagsOf(access, creation), 0666);
    if (descriptor < 0)
        return ErrorOf(errno);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
        ::close(descriptor);
        return LocalOpenError::Other;
    }
    file.descriptor_ = descriptor;
    return LocalOpenError::None;
}

bool LocalFileExists(const char16_t* name) {
    if (name == nullptr || *name == 0)
        return false;
    struct stat status {};
    return ::lstat(WideToNativePath(name).c_str(), &status) == 0;
}

bool DeleteLocalFile(const char16_t* name) {
    if (name == nullptr || *name == 0)
        return false;
    return ::unlink(WideToNativePath(name).c_str()) == 0;
}

}  // namespace vodarezazuv
