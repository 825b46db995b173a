// Reading a small file whole and replacing it atomically.
#pragma once

#include <cstddef>
#include <string>

namespace vodarezazuv {

enum class ReadResult { Read, Missing, Failed };

// Reads the file at path into content. Missing when it does not exist; Failed when it cannot
// be read, is not a regular file or is larger than maxBytes.
ReadResult ReadWholeFile(const std::string& path, size_t maxBytes, std::string& content);

// Replaces the file at path (the file a symbolic link points to, for a link) by content:
// writes a temporary file in the same directory, flushes it to disk, gives it the mode and
// owner of the old file (0600 for a new one) and renames it over the old name. On failure
// the old file is untouched and the temporary file removed.
bool ReplaceWholeFile(const std::string& path, const std::string& content);

}  // namespace vodarezazuv
