#include "dav/download.h"

#include <cstdint>
#include <memory>
#include <new>

#include "dav/decimal_text.h"
#include "dav/drain.h"
#include "dav/remote_path.h"
#include "http/auth.h"
#include "http/connection.h"
#include "http/request.h"
#include "http/response.h"
#include "platform/local_file.h"
#include "platform/string_resources.h"
#include "plugin/plugin_state.h"
#include "plugin/reporting.h"
#include "plugin/strings.h"
#include "util/bounded_text.h"
#include "util/url_escape.h"

namespace vodarezazuv {

namespace {

constexpr char16_t kSeparatorLine[] = u"=================";

int32_t ResultOfOpen(LocalOpenError error) {
    return error == LocalOpenError::AccessDenied ? DownloadLocalDenied : DownloadLocalFailed;
}

// The local side of one download: the file name, and the file once it is open. A resumed
// file is open from the start; a replaced or new one only once the server has accepted.
struct LocalTarget {
    const char16_t* name;
    int32_t overwrite;
    int64_t start;  // bytes already present (resume), else 0
    int64_t remoteSize;
    LocalFile file;
};

// The server accepted the transfer: a file not yet open is created, or emptied, now.
int32_t OpenForBody(LocalTarget& target) {
    if (target.file.IsOpen())
        return DownloadDone;
    LocalCreation creation =
        target.overwrite != 0 ? LocalCreation::CreateOrEmpty : LocalCreation::CreateNew;
    LocalOpenError error = OpenLocalFile(target.name, LocalAccess::Write, creation, target.file);
    return error == LocalOpenError::None ? DownloadDone : ResultOfOpen(error);
}

struct Exchange {
    NetHandle request;
    RequestContext& context;
    bool closed = false;  // a primitive aborted by the user has closed the request

    int32_t Track(int32_t result) {
        if (result == RequestAborted)
            closed = true;
        return result;
    }
};

// Copies the body into the file; the result of the download.
int32_t CopyBody(Exchange& exchange, LocalTarget& target, char* block) {
    int64_t present = target.start;
    for (;;) {
        exchange.context.percentDone = PercentOf(present, target.remoteSize);
        uint32_t read = 0;
        if (exchange.Track(ReadResponse(exchange.request, block, kDownloadBlock, &read,
                                        exchange.context)) != RequestDone)
            return DownloadFailed;
        if (read == 0)
            return DownloadDone;
        if (!target.file.Write(block, read))
            return DownloadLocalFailed;
        present += read;
        if (ReportProgress(PercentOf(present, target.remoteSize)) != 0)
            return DownloadAborted;
    }
}

// Reads a body nobody wants and drops it, up to kDrainLimit.
void DropBody(Exchange& exchange, char* block) {
    uint32_t read = 0;
    uint64_t total = 0;
    while (total < kDrainLimit &&
           exchange.Track(ReadResponse(exchange.request, block, kDownloadBlock, &read,
                                       exchange.context)) == RequestDone &&
           read != 0) {
        total += read;
    }
}

// Whether a 206 continues where the local file ends ("bytes START-END/TOTAL"). A part from
// elsewhere, or one that does not say where it starts, would corrupt the file if appended.
bool ContinuesAt(NetHandle request, int64_t start) {
    char16_t value[kNameLimit + 1] = u"Content-Range";
    uint32_t length = sizeof value;
    if (!NetQueryInfo(request, kNetQueryCustom, value, &length, nullptr))
        return false;
    const char16_t* p = value;
    for (const char16_t* unit = u"bytes"; *unit != 0; ++unit, ++p) {
        if ((*p | 0x20) != *unit)
            return false;
    }
    while (*p == u' ')
        ++p;
    int64_t first = 0;
    const char16_t* digits = p;
    for (; *p >= u'0' && *p <= u'9'; ++p) {
        if (first > (INT64_MAX - 9) / 10)
            return false;
        first = first * 10 + (*p - u'0');
    }
    return p != digits && *p == u'-' && first == start;
}

void ShowChunkedWarning() {
    PluginState& plugin = Plugin();
    if (plugin.hostRequest == nullptr)
        return;
    char16_t title[] = u"Error!";
    char16_t text[kLongPathLimit + 1];
    LoadStringW(kStringChunkedWarning, text, kLongPathLimit + 1);
    plugin.hostRequest(plugin.pluginNumber, ShowMessage, title, text, nullptr, 0);
}

// Status and body of a sent GET.
int32_t ReceiveBody(Connection& connection, Exchange& exchange, LocalTarget& target) {
    std::unique_ptr<char[]> block(new (std::nothrow) char[kDownloadBlock]);
    if (!block)
        return DownloadFailed;
    int32_t status = ReadResponseStatus(exchange.request, connection.detailedlog, 1);
    if (status == -1) {
        ShowChunkedWarning();
        return DownloadFailed;
    }
    if (target.start > 0 && status != 206) {
        LogLine(u"Server does not support resume!");
        return DownloadFailed;
    }
    if (status < 200 || status > 299) {
        DropBody(exchange, block.get());
        return DownloadFailed;
    }
    if (target.start > 0 && !ContinuesAt(exchange.request, target.start)) {
        LogLine(u"Server sent another part of the file than asked for!");
        return DownloadFailed;
    }
    int32_t opened = OpenForBody(target);
    if (opened != DownloadDone)
        return opened;
    return CopyBody(exchange, target, block.get());
}

// Sends the GET with its headers, once more with a client certificate when the server asks.
int32_t SendGet(Connection& connection, Exchange& exchange, const LocalTarget& target) {
    char16_t headers[kLongHeaderLimit + 1] = u"";
    if (target.start > 0) {
        AppendBoundedW(headers, u"Range:bytes=", kLongHeaderLimit);
        AppendDecimal(headers, target.start, kLongHeaderLimit);
        AppendBoundedW(headers, u"-", kLongHeaderLimit);
        AppendDecimal(headers, target.remoteSize, kLongHeaderLimit);
        // Ended, so that a proxy authorization line after it stays a line of its own.
        AppendBoundedW(headers, u"\r\n", kLongHeaderLimit);
    }
    AddProxyBasicHeader(headers, connection.proxyuser, connection.proxypassword, kLongHeaderLimit);
    uint32_t length = static_cast<uint32_t>(WideLength(headers));
    const char16_t* extra = length != 0 ? headers : nullptr;
    int32_t sent =
        exchange.Track(SendRequest(exchange.request, extra, length, nullptr, 0, exchange.context));
    if (sent == RequestFailed && exchange.context.lastError == kNetErrorClientAuthCertNeeded) {
        SelectClientCertificate(connection, exchange.request);
        sent = exchange.Track(
            SendRequest(exchange.request, extra, length, nullptr, 0, exchange.context));
    }
    return sent;
}

int32_t RunRequest(Connection& connection, const char16_t* url, LocalTarget& target) {
    RequestContext context;
    RequestContextScope scope(connection, context);
    SetProxyCredentials(connection.connectHandle, connection.proxyuser, connection.proxypassword);
    int32_t result = DownloadFailed;
    NetHandle request = OpenRequest(connection.connectHandle, u"GET", url, u"HTTP/1.0",
                                    connection.requestFlags | kReadRequestFlags, context);
    if (request != nullptr) {
        Exchange exchange{request, context};
        if (SendGet(connection, exchange, target) == RequestDone)
            result = ReceiveBody(connection, exchange, target);
        if (!exchange.closed)
            NetCloseHandle(request);
    }
    return result;
}

}  // namespace

int32_t PercentOf(int64_t done, int64_t total) {
    if (total == 0)
        return 0;
    int64_t percent = done * 100 / total;
    if (percent < 0)
        return 0;
    return percent > 100 ? 100 : static_cast<int32_t>(percent);
}

int32_t DavDownload(Connection& connection, const char16_t* remotePath, const char16_t* localName,
                    int32_t overwrite, int64_t remoteSize, FILETIME lastWriteTime, int32_t resume) {
    LogLine(kSeparatorLine);
    LogTwo(u"File receive: ", remotePath);
    PathBuffer url;
    if (!EscapedPath(remotePath, connection.utf8urls, url)) {
        LogLine(u"Invalid Unicode name!");
        return DownloadBadPath;
    }

    LocalTarget target{localName, overwrite, 0, remoteSize, {}};
    if (resume != 0) {
        LocalOpenError error =
            OpenLocalFile(localName, LocalAccess::Write, LocalCreation::OpenExisting, target.file);
        if (error != LocalOpenError::None)
            return ResultOfOpen(error);
        target.start = target.file.Size();
        if (target.start < 0 || !target.file.SeekToEnd())
            return DownloadLocalFailed;
        if (remoteSize <= target.start)
            return remoteSize == target.start ? DownloadDone : DownloadLocalFailed;
    } else if (WideLength(localName) > kLocalNameLimit ||
               (overwrite == 0 && LocalFileExists(localName))) {
        // What the deferred open would refuse anyway is refused before any request.
        return DownloadLocalFailed;
    }

    int32_t result = RunRequest(connection, url, target);
    if (target.file.IsOpen()) {
        uint64_t time = (static_cast<uint64_t>(lastWriteTime.high) << 32) | lastWriteTime.low;
        target.file.SetLastWriteTime(time);
    }
    return result;
}

}  // namespace vodarezazuv
