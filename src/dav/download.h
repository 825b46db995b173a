// Copying one remote resource into a local file with GET, with resume of an interrupted copy.
#pragma once

#include <cstdint>

#include "vodarezazuv/fs_plugin.h"

namespace vodarezazuv {

struct Connection;

enum DownloadResult : int32_t {
    DownloadDone = 0,         // downloaded; or, resuming, the local file had the remote size
    DownloadBadPath = 1,      // the remote path cannot be escaped
    DownloadLocalDenied = 2,  // the local file: access denied or in use
    DownloadFailed = 3,       // request, status, resume refused, body read, or aborted wait
    DownloadLocalFailed = 4,  // the local file: other open failure, larger (resume), write
    DownloadAborted = 5,      // the user aborted through the progress report
};

// The body is copied in blocks of this size, straight from the network to the file.
inline constexpr uint32_t kDownloadBlock = 32768;

// Copies remotePath into the local file localName. Resuming appends what is missing after
// the local file's size (Range up to remoteSize); otherwise the file is replaced (overwrite
// nonzero) or must be new. A file that exists is left as it is until the server has
// accepted the transfer with a 2xx status; a new file is created only then. Once the
// transfer has started, a failure keeps the partial file for a later resume. The local file
// gets lastWriteTime whenever it was written to or resumed.
int32_t DavDownload(Connection& connection, const char16_t* remotePath, const char16_t* localName,
                    int32_t overwrite, int64_t remoteSize, FILETIME lastWriteTime, int32_t resume);

// done * 100 / total, clamped to 0..100; 0 when total is 0.
int32_t PercentOf(int64_t done, int64_t total);

}  // namespace vodarezazuv
