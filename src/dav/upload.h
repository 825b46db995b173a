// Copying a local file to a remote path with PUT, in up to three steps on one request: the
// preliminary 1-byte (and 2-byte) bodies let the server authenticate the client before the
// file itself is sent.
#pragma once

#include <cstdint>

namespace vodarezazuv {

struct Connection;

enum UploadResult : int32_t {
    UploadDone = 0,         // the final status was from 200 to 209
    UploadLocalFailed = 3,  // the local file cannot be opened
    UploadFailed = 4,       // bad path, resume asked, request, refused first step, send, status
    UploadAborted = 5,      // the user aborted during the transfer
};

// The file is sent in blocks of this size, read straight from the file.
inline constexpr uint32_t kUploadBlock = 8192;

// Sends localName to remotePath. The steps follow the connection's multistepupload and
// 3stepupload settings. A set resume flag fails: uploads cannot be resumed.
int32_t DavUpload(Connection& connection, const char16_t* localName, const char16_t* remotePath,
                  int32_t resume);

}  // namespace vodarezazuv
