#include "dav/namespace_ops.h"

#include <cstddef>
#include <iterator>

#include "dav/drain.h"
#include "dav/remote_path.h"
#include "http/auth.h"
#include "http/connection.h"
#include "http/request.h"
#include "http/response.h"
#include "plugin/reporting.h"
#include "util/bounded_text.h"
#include "util/url_escape.h"

namespace vodarezazuv {

namespace {

constexpr char16_t kSeparatorLine[] = u"=================";
constexpr char16_t kRedirectingLine[] = u"Redirecting to new URL:";
constexpr char16_t kVersion[] = u"HTTP/1.1";

// The first request and at most ten redirections.
constexpr int kMaxAttempts = 11;

// Bodies of these answers are error pages or short status lists; beyond this the rest is
// left unread and the request closed, so a server that sends without end cannot hold the
// host's thread.

// The Location value is asked for with this many bytes, as the path buffers hold 780
// characters; a longer value is no redirection.
constexpr uint32_t kLocationBytes = kLongPathLimit;

bool IsSuccess(int32_t status) {
    return status / 10 == 20;
}

// 207 to DELETE, MOVE or COPY lists the members the server could not handle (RFC 4918
// 9.6.1, 9.8.8, 9.9.4): a partial failure, whereas full success is 201 or 204.
bool IsWholeSuccess(int32_t status) {
    return IsSuccess(status) && status != 207;
}

// Closes the request at the end of an attempt, unless an abort has closed it already.
class RequestHandle {
  public:
    explicit RequestHandle(NetHandle handle) : handle_(handle) {}
    ~RequestHandle() {
        if (handle_ != nullptr)
            NetCloseHandle(handle_);
    }
    RequestHandle(const RequestHandle&) = delete;
    RequestHandle& operator=(const RequestHandle&) = delete;
    NetHandle get() const { return handle_; }
    void Forget() { handle_ = nullptr; }

  private:
    NetHandle handle_;
};

void ApplyDirectorySlash(const Connection& connection, int32_t isDirectory, char16_t* path) {
    if (isDirectory != 0 && connection.apacheDirWithSlash != 0)
        EnsureTrailingSlash(path, kLongPathLimit);
}

int32_t EffectivePort(int32_t port, bool secure) {
    return port != 0 ? port : secure ? 443 : 80;
}

bool StartsWithNoCase(const char16_t* text, const char16_t* prefix) {
    for (; *prefix != 0; ++text, ++prefix) {
        char16_t a = *text >= u'A' && *text <= u'Z' ? static_cast<char16_t>(*text + 32) : *text;
        if (a != *prefix)
            return false;
    }
    return true;
}

// Whether the authority [begin, end) of a Location names the connection's server.
bool IsOwnServer(const Connection& connection, const char16_t* begin, const char16_t* end,
                 bool secure) {
    const char16_t* colon = end;
    for (const char16_t* p = begin; p < end; ++p) {
        if (*p == u':')
            colon = p;
    }
    int32_t port = 0;
    for (const char16_t* p = colon + (colon < end ? 1 : 0); p < end; ++p) {
        if (*p < u'0' || *p > u'9' || port > 65535)
            return false;
        port = port * 10 + (*p - u'0');
    }
    char16_t host[kNameLimit + 1];
    if (colon - begin > static_cast<ptrdiff_t>(kNameLimit))
        return false;
    size_t length = static_cast<size_t>(colon - begin);
    for (size_t i = 0; i < length; ++i)
        host[i] = begin[i];
    host[length] = 0;
    return WideEqualNoCase(host, connection.server) &&
           EffectivePort(port, secure) == EffectivePort(connection.port, connection.ssl != 0);
}

// The request path a 301 or 302 points to, as the server wrote it. An absolute URL counts
// only when it names the connection's own server: the path of another server would name an
// unrelated resource here. A path alone ("/dav/x") is taken whole; other relative forms are
// no redirection.
bool RedirectionPath(const Connection& connection, NetHandle request, PathBuffer& out) {
    PathBuffer location = u"";
    uint32_t length = kLocationBytes;
    if (!NetQueryInfo(request, kNetQueryLocation, location, &length, nullptr))
        return false;
    const char16_t* path = nullptr;
    if (location[0] == u'/' && location[1] != u'/') {
        path = location;
    } else {
        bool secure = StartsWithNoCase(location, u"https://");
        if (!secure && !StartsWithNoCase(location, u"http://"))
            return false;
        const char16_t* authority = location + (secure ? 8 : 7);
        const char16_t* slash = authority;
        while (*slash != 0 && *slash != u'/')
            ++slash;
        if (*slash == 0 || slash == authority || !IsOwnServer(connection, authority, slash, secure))
            return false;
        path = slash;
    }
    CopyBoundedW(out, path, kLongPathLimit);
    return true;
}

enum class OnCertificateRequest { SendAgain, Fail };

// One request of an operation: open, send (a request for a client certificate is answered
// as policy says), read the status, drop the body. For a 301 or 302, redirect (when given)
// receives the new path or "". Returns the status, or 0 when nothing was answered (not
// opened, not sent, aborted).
int32_t RunAttempt(Connection& connection, RequestContext& context, const char16_t* method,
                   const char16_t* object, const char16_t* headers, OnCertificateRequest policy,
                   uint32_t piece, PathBuffer* redirect) {
    if (redirect != nullptr)
        (*redirect)[0] = 0;
    RequestHandle request(OpenRequest(connection.connectHandle, method, object, kVersion,
                                      connection.requestFlags | kWriteRequestFlags, context));
    if (request.get() == nullptr)
        return 0;
    uint32_t headersLength = static_cast<uint32_t>(WideLength(headers));
    int32_t sent = SendRequest(request.get(), headers, headersLength, nullptr, 0, context);
    if (sent != RequestAborted && context.lastError == kNetErrorClientAuthCertNeeded) {
        SelectClientCertificate(connection, request.get());
        if (policy == OnCertificateRequest::Fail)
            return 0;
        sent = SendRequest(request.get(), headers, headersLength, nullptr, 0, context);
    }
    if (sent == RequestAborted)
        request.Forget();
    if (sent != RequestDone)
        return 0;
    int32_t status = ReadResponseStatus(request.get(), connection.detailedlog, 0);
    if (redirect != nullptr && (status == 301 || status == 302))
        RedirectionPath(connection, request.get(), *redirect);
    if (status != 204 && status != 304) {
        char block[64];
        uint32_t read = 0, total = 0;
        int32_t result = RequestDone;
        do {
            result = ReadResponse(request.get(), block, piece, &read, context);
            total += read;
        } while (result == RequestDone && read != 0 && total < kDrainLimit);
        if (result == RequestAborted)
            request.Forget();
    }
    return status;
}

// Builds "Destination: <url>\r\n" and, without overwrite, "Overwrite: F\r\n" into headers
// (kHeaderLimit + 1). The URL is escaped as a whole and must fit with both lines: a cut
// Destination would name another resource and a cut Overwrite line would let the server
// replace the target. False when it does not fit or cannot be escaped.
bool BuildMoveHeaders(const Connection& connection, const char16_t* targetPath, int32_t overwrite,
                      int32_t isDirectory, char16_t* headers) {
    constexpr char16_t kDestination[] = u"Destination: ";
    constexpr char16_t kLineEnd[] = u"\r\n";
    constexpr char16_t kNoOverwrite[] = u"Overwrite: F\r\n";
    if (WideLength(targetPath) > kLongPathLimit)
        return false;
    PathBuffer target;
    CopyBoundedW(target, targetPath, kLongPathLimit);
    if (isDirectory != 0 && connection.apacheDirWithSlash != 0) {
        size_t length = WideLength(target);
        if (length > 0 && target[length - 1] == u'\\')
            target[length - 1] = u'/';
        EnsureTrailingSlash(target, kLongPathLimit);
    }
    // Scheme, host, port and path: never cut in a buffer of this size.
    char16_t url[kLongPathLimit + kNameLimit + 32];
    const char16_t* scheme = connection.ssl != 0 ? u"https" : u"http";
    if (connection.port != 0) {
        FormatWide(url, std::size(url), u"%s://%s:%d%s",
                   {scheme, connection.server, connection.port, target});
    } else {
        FormatWide(url, std::size(url), u"%s://%s%s", {scheme, connection.server, target});
    }
    size_t room = kHeaderLimit - (std::size(kDestination) - 1) - (std::size(kLineEnd) - 1) -
                  (overwrite == 0 ? std::size(kNoOverwrite) - 1 : 0);
    if (EscapeUrlPath(url, room + 1, connection.utf8urls) == nullptr)
        return false;
    CopyBoundedW(headers, kDestination, kHeaderLimit);
    AppendBoundedW(headers, url, kHeaderLimit);
    AppendBoundedW(headers, kLineEnd, kHeaderLimit);
    if (overwrite == 0)
        AppendBoundedW(headers, kNoOverwrite, kHeaderLimit);
    return true;
}

// Sends the request and follows up to ten redirections of it to the connection's own server;
// the status of the last answer. A 412 ends at once when stopAt412 is set.
int32_t SendFollowingRedirections(Connection& connection, const char16_t* method,
                                  PathBuffer& object, const char16_t* headers,
                                  OnCertificateRequest onCertificate, bool stopAt412) {
    RequestContext context;
    RequestContextScope scope(connection, context);
    SetProxyCredentials(connection.connectHandle, connection.proxyuser, connection.proxypassword);
    PathBuffer redirect;
    int32_t status = 0;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        status =
            RunAttempt(connection, context, method, object, headers, onCertificate, 64, &redirect);
        if (IsWholeSuccess(status) || (stopAt412 && status == 412))
            return status;
        if (redirect[0] == 0 || attempt + 1 == kMaxAttempts)
            break;
        LogLine(kRedirectingLine);
        LogLine(redirect);
        CopyBoundedW(object, redirect, kLongPathLimit);
    }
    return status;
}

}  // namespace

int32_t DavMakeCollection(Connection& connection, const char16_t* remotePath) {
    LogLine(kSeparatorLine);
    LogTwo(u"Create dir: ", remotePath);
    PathBuffer object;
    if (!EscapedPath(remotePath, connection.utf8urls, object)) {
        LogLine(u"Invalid Unicode name!");
        return NamespaceFailed;
    }
    RequestContext context;
    RequestContextScope scope(connection, context);
    SetProxyCredentials(connection.connectHandle, connection.proxyuser, connection.proxypassword);
    char16_t headers[kHeaderLimit + 1] = u"";
    AddProxyBasicHeader(headers, connection.proxyuser, connection.proxypassword, kHeaderLimit);
    int32_t status = RunAttempt(connection, context, u"MKCOL", object, headers,
                                OnCertificateRequest::SendAgain, 63, nullptr);
    return IsSuccess(status) ? NamespaceDone : NamespaceFailed;
}

int32_t DavMoveOrCopy(Connection& connection, const char16_t* sourcePath,
                      const char16_t* targetPath, int32_t move, int32_t overwrite,
                      int32_t isDirectory) {
    const char16_t* method = move != 0 ? u"MOVE" : u"COPY";
    LogLine(kSeparatorLine);
    char16_t line[kLongPathLimit + 1];
    CopyBoundedW(line, method, kLongPathLimit);
    AppendBoundedW(line, u": ", kLongPathLimit);
    AppendBoundedW(line, sourcePath, kLongPathLimit);
    AppendBoundedW(line, u"->", kLongPathLimit);
    AppendBoundedW(line, targetPath, kLongPathLimit);
    LogLine(line);

    char16_t headers[kHeaderLimit + 1];
    if (!BuildMoveHeaders(connection, targetPath, overwrite, isDirectory, headers)) {
        LogLine(u"Invalid target Unicode name!");
        return NamespaceFailed;
    }
    AddProxyBasicHeader(headers, connection.proxyuser, connection.proxypassword, kHeaderLimit);
    PathBuffer object;
    if (!EscapedPath(sourcePath, connection.utf8urls, object)) {
        LogLine(u"Invalid source Unicode name!");
        return NamespaceFailed;
    }
    ApplyDirectorySlash(connection, isDirectory, object);

    int32_t status = SendFollowingRedirections(connection, method, object, headers,
                                               OnCertificateRequest::Fail, overwrite == 0);
    if (IsWholeSuccess(status))
        return NamespaceDone;
    return status == 412 && overwrite == 0 ? NamespaceTargetExists : NamespaceFailed;
}

int32_t DavDelete(Connection& connection, const char16_t* remotePath, int32_t isDirectory) {
    LogLine(kSeparatorLine);
    LogTwo(u"File delete: ", remotePath);
    PathBuffer object;
    if (!EscapedPath(remotePath, connection.utf8urls, object)) {
        LogLine(u"Invalid Unicode name!");
        return NamespaceInvalidPath;
    }
    ApplyDirectorySlash(connection, isDirectory, object);

    char16_t headers[kHeaderLimit + 1] = u"";
    AddProxyBasicHeader(headers, connection.proxyuser, connection.proxypassword, kHeaderLimit);
    int32_t status = SendFollowingRedirections(connection, u"DELETE", object, headers,
                                               OnCertificateRequest::SendAgain, false);
    return IsWholeSuccess(status) ? NamespaceDone : NamespaceFailed;
}

int32_t DavSetAttributes(Connection&, const char16_t*, int32_t) {
    LogLine(u"Set file attributes not implemented, sorry");
    return NamespaceNotSupported;
}

int32_t DavSetTimes(Connection&, const char16_t*, const FILETIME*, const FILETIME*,
                    const FILETIME*) {
    LogLine(u"Set Date/Time not implemented, sorry");
    return NamespaceNotSupported;
}

}  // namespace vodarezazuv
