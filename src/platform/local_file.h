// Local files of the transfers: the file a download writes and an upload reads, opened by
// creation mode and named by the host's wide text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vodarezazuv {

// How an open treats an existing file and a missing one.
enum class LocalCreation {
    OpenExisting,   // the file must exist; it is opened as it is
    CreateNew,      // the file must not exist; it is created empty
    CreateOrEmpty,  // created when missing, emptied when it exists
};

enum class LocalAccess { Read, Write };

// Why an open failed, as the operations tell their causes apart.
enum class LocalOpenError {
    None = 0,
    AccessDenied,  // no permission, a read-only file system, or the file is busy
    NotFound,      // OpenExisting of a missing file, or a folder of the path is missing
    Exists,        // CreateNew of an existing file
    TooLong,       // the name is longer than kLocalNameLimit; the system was not asked
    Other,         // anything else (a folder where a file was expected, a full disk, ...)
};

// The longest name an open accepts, in UTF-16 characters.
inline constexpr size_t kLocalNameLimit = 1022;

// One open local file; closed by the destructor. Movable, not copyable.
class LocalFile {
  public:
    LocalFile() = default;
    ~LocalFile();
    LocalFile(LocalFile&& other) noexcept;
    LocalFile& operator=(LocalFile&& other) noexcept;
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    bool IsOpen() const { return descriptor_ >= 0; }
    void Close();

    // The size in bytes; -1 when it cannot be taken.
    int64_t Size() const;
    bool SeekToEnd();
    // Writes all count bytes; false when any of them could not be written.
    bool Write(const void* data, size_t count);
    // Reads up to size bytes; the count read, 0 at the end, -1 on failure. Small reads are
    // served from a read-ahead block of kReadAhead bytes, so that a caller's small blocks
    // do not each cost the system a call.
    int64_t Read(void* destination, size_t size);
    // Sets the last-write time (a FILETIME value: 100 ns steps since 1601, UTC) and leaves
    // the access time alone. A value of 0 or a negative one (no date given) changes nothing.
    bool SetLastWriteTime(uint64_t filetime);

  private:
    friend LocalOpenError OpenLocalFile(const char16_t*, LocalAccess, LocalCreation, LocalFile&);
    int descriptor_ = -1;
    std::unique_ptr<char[]> ahead_;  // the read-ahead block, made on the first small read
    size_t aheadStart_ = 0;
    size_t aheadEnd_ = 0;
};

inline constexpr size_t kReadAhead = 256 * 1024;

// Opens name into file (closing what file held). Files are shared: others may read and
// write them meanwhile.
LocalOpenError OpenLocalFile(const char16_t* name, LocalAccess access, LocalCreation creation,
                             LocalFile& file);

// Whether something of that name exists.
bool LocalFileExists(const char16_t* name);

// Removes the file; false when it could not be removed.
bool DeleteLocalFile(const char16_t* name);

}  // namespace vodarezazuv
