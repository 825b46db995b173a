#include "platform/linux/whole_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

namespace vodarezazuv {

namespace {

// Closes a descriptor when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports whether the close succeeded (it can report a failed write).
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a write must replace: the target of a symbolic link (also of one whose target
// does not exist yet), else the path itself.
std::string ResolveTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr)
        return resolved;
    ssize_t n = ::readlink(path.c_str(), resolved, sizeof resolved - 1);
    if (n <= 0)
        return path;
    std::string target(resolved, static_cast<size_t>(n));
    if (target[0] == '/')
        return target;
    auto slash = path.rfind('/');
    return slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
}

void SyncDirectory(const std::string& directory) {
    Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, size_t maxBytes, std::string& content) {
    content.clear();
    // Non-blocking, so that a FIFO in the file's place cannot hang the host; it is then
    // refused as no regular file.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<unsigned long long>(info.st_size) > maxBytes) {
        return ReadResult::Failed;
    }
    std::vector<char> block(65536);
    for (;;) {
        ssize_t n = ::read(fd.get(), block.data(), block.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ReadResult::Failed;
        if (n == 0)
            break;
        content.append(block.data(), static_cast<size_t>(n));
        if (content.size() > maxBytes)
            return ReadResult::Failed;  // grew while we read
    }
    return ReadResult::Read;
}

bool ReplaceWholeFile(const std::string& path, const std::string& content) {
    std::string target = ResolveTarget(path);
    std::string directory = DirectoryOf(target);
    auto slash = target.rfind('/');
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = (directory == "/" ? "" : directory) + "/." + base + ".XXXXXX";
    if (directory == "." && slash == std::string::npos)
        temp = "." + base + ".XXXXXX";

    std::vector<char> name(temp.begin(), temp.end());
    name.push_back(0);
    Descriptor fd(::mkstemp(name.data()));
    if (fd.get() < 0)
        return false;
    bool ok = WriteAll(fd.get(), content.data(), content.size());
    struct stat old {};
    if (ok && ::stat(target.c_str(), &old) == 0) {
        ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
        if (ok && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
            // Keeps the file its owner's when root edits it; failing that is no reason to stop.
            [[maybe_unused]] int ignored = ::fchown(fd.get(), old.st_uid, old.st_gid);
        }
    }
    ok = ok && ::fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(name.data(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(name.data());
        return false;
    }
    SyncDirectory(directory);
    return true;
}

}  // namespace vodarezazuv
