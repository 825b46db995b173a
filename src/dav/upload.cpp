#include "dav/upload.h"

#include <optional>

#include "dav/decimal_text.h"
#include "dav/download.h"
#include "dav/drain.h"
#include "dav/remote_path.h"
#include "http/auth.h"
#include "http/connection.h"
#include "http/request.h"
#include "http/response.h"
#include "platform/local_file.h"
#include "plugin/reporting.h"
#include "util/bounded_text.h"
#include "util/url_escape.h"

namespace vodarezazuv {

namespace {

constexpr char16_t kSeparatorLine[] = u"=================";
// SendRequestEx: the body follows through WriteRequestBody.
constexpr uint32_t kSendBodyFollows = 8;
// A later Content-Length replaces an earlier one.
constexpr uint32_t kAddOrReplace = kNetAddHeaderAdd | kNetAddHeaderReplace;
// Answers of the preliminary steps are dropped in small pieces; they are short.
constexpr uint32_t kDropPiece = 64;
constexpr uint32_t kSecondStepDropPiece = 8192;
// Above this size the buffers description cannot carry the length; the header alone does.
constexpr int64_t kLargestDescribedBody = 0xFFFFFFFFLL;

// One upload on one request handle. The handle sits in the abort target, from which the
// closer thread may take it.
struct Upload {
    Connection& connection;
    RequestContext& context;
    AbortTarget& target;
    NetHandle request;
    bool closed = false;  // closed by a primitive the user aborted, or taken by the closer

    int32_t Track(int32_t result) {
        if (result == RequestAborted)
            closed = true;
        return result;
    }
};

void AddHeaders(Upload& upload, const char16_t* line) {
    char16_t headers[kHeaderLimit + 1];
    CopyBoundedW(headers, line, kHeaderLimit);
    AddProxyBasicHeader(headers, upload.connection.proxyuser, upload.connection.proxypassword,
                        kHeaderLimit);
    NetAddRequestHeaders(upload.request, headers, UINT32_MAX, kAddOrReplace);
}

bool IsBodyless(int32_t status) {
    return status == 204 || status == 304;
}

// Reads a body nobody wants and drops it, up to kDrainLimit.
void DropBody(Upload& upload, uint32_t piece) {
    char block[kSecondStepDropPiece];
    uint32_t read = 0;
    uint64_t total = 0;
    while (!upload.closed && total < kDrainLimit &&
           upload.Track(ReadResponse(upload.request, block, piece, &read, upload.context)) ==
               RequestDone &&
           read != 0) {
        total += read;
    }
}

// Starts a request whose body follows, once more with a client certificate when asked.
int32_t StartBody(Upload& upload, const NetBuffers* in) {
    int32_t started =
        upload.Track(SendRequestEx(upload.request, in, kSendBodyFollows, upload.context));
    if (started == RequestFailed && upload.context.lastError == kNetErrorClientAuthCertNeeded) {
        SelectClientCertificate(upload.connection, upload.request);
        started = upload.Track(SendRequestEx(upload.request, in, kSendBodyFollows, upload.context));
    }
    return started;
}

// The 1-byte body. 0 lets the upload go on; UploadFailed ends it.
int32_t FirstStep(Upload& upload) {
    LogLine(u"First upload step: Send 1 byte file for authentication");
    int32_t sent = upload.Track(SendRequest(upload.request, nullptr, 0, "1", 1, upload.context));
    if (sent == RequestFailed && upload.context.lastError == kNetErrorClientAuthCertNeeded) {
        SelectClientCertificate(upload.connection, upload.request);
        sent = upload.Track(SendRequest(upload.request, nullptr, 0, "1", 1, upload.context));
    }
    if (sent == RequestAborted)
        return UploadFailed;
    // After a failed send there is no status to read: that counts as 400.
    int32_t status = ReadResponseStatus(upload.request, upload.connection.detailedlog, 0);
    if (!IsBodyless(status))
        DropBody(upload, kDropPiece);
    // The authentication challenges (401, 407) and the like go on; a refusal ends it here.
    if ((status >= 403 && status <= 406) || status >= 408)
        return UploadFailed;
    return 0;
}

// The 2-byte body; its outcome does not change the result.
void SecondStep(Upload& upload) {
    LogLine(u"Second upload step:  Send 2 byte file for authentication");
    char16_t line[kHeaderLimit + 1];
    FormatWide(line, kHeaderLimit + 1, u"Content-Length: %d\r\n", {2});
    AddHeaders(upload, line);
    NetBuffers in{};
    in.structSize = sizeof(NetBuffers);
    in.bufferTotal = 2;
    if (StartBody(upload, &in) != RequestDone)
        return;
    uint32_t written = 0;
    upload.Track(WriteRequestBody(upload.request, "12", 2, &written, upload.context));
    if (upload.closed || upload.Track(EndRequest(upload.request, upload.context)) == RequestAborted)
        return;
    int32_t status = ReadResponseStatus(upload.request, upload.connection.detailedlog, 0);
    if (!IsBodyless(status))
        DropBody(upload, kSecondStepDropPiece);
}

// Sends the file's bytes. UploadDone when all size bytes went out, else the result.
int32_t SendFileBody(Upload& upload, LocalFile& file, int64_t size) {
    int32_t result = UploadDone;
    std::optional<AbortCloser> closer;
    char block[kUploadBlock];
    int64_t sent = 0;
    while (sent < size) {
        int64_t wanted = size - sent < kUploadBlock ? size - sent : kUploadBlock;
        int64_t read = file.Read(block, static_cast<size_t>(wanted));
        if (read <= 0) {
            // The file shrank or cannot be read: a shorter body is never ended as complete.
            result = UploadFailed;
            break;
        }
        upload.context.percentDone = PercentOf(sent, size);
        uint32_t written = 0;
        int32_t wrote = upload.Track(WriteRequestBody(
            upload.request, block, static_cast<uint32_t>(read), &written, upload.context));
        sent += written;
        if (wrote == RequestAborted) {
            result = UploadAborted;
            break;
        }
        // The closer ends a write that waits for the server from outside, within 100 ms.
        if (ReportProgress(PercentOf(sent, size)) != 0 && !closer) {
            result = UploadAborted;
            try {
                closer.emplace(upload.target);
            } catch (...) {
                // No thread to be had: the request is closed from here, which ends the
                // transfer as well, only without the grace of the closer's 100 ms.
                if (NetHandle handle = upload.target.handle.exchange(nullptr))
                    NetCloseHandle(handle);
                upload.closed = true;
                break;
            }
        }
        if (wrote != RequestDone) {
            if (result == UploadDone)
                result = UploadFailed;
            break;
        }
    }
    if (closer) {
        closer->Join();
        upload.closed = true;
    }
    return result;
}

// The file itself.
int32_t LastStep(Upload& upload, LocalFile& file, int64_t size) {
    LogLine(u"Last upload step: Send actual file");
    char16_t line[kHeaderLimit + 1] = u"Content-Length: ";
    AppendDecimal(line, size, kHeaderLimit);
    AppendBoundedW(line, u"\r\n", kHeaderLimit);
    AddHeaders(upload, line);
    NetBuffers in{};
    in.structSize = sizeof(NetBuffers);
    in.bufferTotal = static_cast<uint32_t>(size);
    if (StartBody(upload, size <= kLargestDescribedBody ? &in : nullptr) != RequestDone)
        return upload.closed ? UploadAborted : UploadFailed;

    int32_t result = SendFileBody(upload, file, size);
    if (result != UploadDone)
        return result;
    int32_t ended = upload.Track(EndRequest(upload.request, upload.context));
    if (ended != RequestDone)
        return ended == RequestAborted ? UploadAborted : UploadFailed;
    int32_t status = ReadResponseStatus(upload.request, upload.connection.detailedlog, 0);
    // 200 to 209 only: the wider 2xx range does not count as stored.
    result = status / 10 == 20 ? UploadDone : UploadFailed;
    if (!IsBodyless(status))
        DropBody(upload, kDropPiece);
    return result;
}

int32_t RunSteps(Upload& upload, LocalFile& file, int64_t size) {
    AddHeaders(upload, u"Content-type: application/octet-stream\r\n");
    if (upload.connection.multistepupload != 0) {
        // An abort in the wait of a step closed the request: the file is not sent then.
        if (FirstStep(upload) != 0)
            return upload.closed ? UploadAborted : UploadFailed;
        if (upload.closed)
            return UploadAborted;
        if (upload.connection.threeStepUpload != 0)
            SecondStep(upload);
        if (upload.closed)
            return UploadAborted;
    }
    return LastStep(upload, file, size);
}

}  // namespace

int32_t DavUpload(Connection& connection, const char16_t* localName, const char16_t* remotePath,
                  int32_t resume) {
    LogLine(kSeparatorLine);
    LogTwo(u"File send: ", remotePath);
    PathBuffer url;
    if (!EscapedPath(remotePath, connection.utf8urls, url)) {
        LogLine(u"Invalid Unicode name!");
        return UploadFailed;
    }
    if (resume != 0)
        return UploadFailed;

    LocalFile file;
    if (OpenLocalFile(localName, LocalAccess::Read, LocalCreation::OpenExisting, file) !=
        LocalOpenError::None)
        return UploadLocalFailed;
    int64_t size = file.Size();
    if (size < 0)
        return UploadLocalFailed;

    RequestContext context;
    RequestContextScope scope(connection, context);
    SetProxyCredentials(connection.connectHandle, connection.proxyuser, connection.proxypassword);
    int32_t result = UploadFailed;
    NetHandle request = OpenRequest(connection.connectHandle, u"PUT", url, u"HTTP/1.1",
                                    connection.requestFlags | kWriteRequestFlags, context);
    if (request != nullptr) {
        AbortTarget target;
        target.handle = request;
        Upload upload{connection, context, target, request};
        result = RunSteps(upload, file, size);
        NetHandle left = target.handle.exchange(nullptr);
        if (left != nullptr && !upload.closed)
            NetCloseHandle(left);
    }
    return result;
}

}  // namespace vodarezazuv
