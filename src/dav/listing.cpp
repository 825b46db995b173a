#include "dav/listing.h"

#include <unistd.h>

#include <cstring>
#include <new>
#include <string>

#include "http/auth.h"
#include "http/connection.h"
#include "http/error_dialog.h"
#include "http/errors.h"
#include "http/response.h"
#include "platform/codepage.h"
#include "platform/front_end.h"
#include "platform/temp_file.h"
#include "plugin/reporting.h"
#include "util/bounded_text.h"
#include "util/unicode.h"
#include "util/url_escape.h"

namespace vodarezazuv {

namespace {

constexpr uint32_t kReadBlock = 8192;
constexpr uint32_t kHeaderQueryBytes = 2047;
constexpr int32_t kMaxRecoveries = 5;
constexpr char16_t kInvalidPath[] = u"Invalid Unicode path name!";
constexpr char16_t kListingTooLarge[] = u"Error: the listing is larger than 128 MiB";
constexpr char16_t kSkippedName[] = u"Skipped an entry whose name cannot be shown as it is: ";
constexpr FILETIME kNoDate = {0xFFFFFFFEu, 0xFFFFFFFFu};

enum class PropfindKind { Collection, Resource };

// Digits and letters of a percent escape: 0-9, then 10-35 for a-z and A-Z; other
// characters have no value.
int HexValue(unsigned int c) {
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'z')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'Z')
        return static_cast<int>(c - 'A' + 10);
    return -1;
}

// The byte of the escape made of the characters a and b.
unsigned char EscapeByte(unsigned int a, unsigned int b) {
    unsigned int value = 0;
    for (unsigned int c : {a, b}) {
        int digit = HexValue(c);
        if (digit >= 0)
            value = (value << 4) | static_cast<unsigned int>(digit);
    }
    return static_cast<unsigned char>(value & 0xFF);
}

bool IsSuccess(int32_t status) {
    return status >= 200 && status <= 299;
}

// Whether one of the response's header lines declares UTF-8 (at most 2047 bytes of them).
int32_t ResponseHeadersDeclareUtf8(NetHandle request) {
    char16_t headers[kHeaderQueryBytes / 2 + 1];
    uint32_t length = kHeaderQueryBytes;
    if (!NetQueryInfo(request, kNetQueryRawHeaders, headers, &length, nullptr))
        return 0;
    size_t units = length / sizeof(char16_t);
    headers[units < kHeaderQueryBytes / 2 ? units : kHeaderQueryBytes / 2] = 0;
    const char16_t* line = headers;
    const char16_t* end = headers + units;
    while (line < end && *line != 0) {
        char narrow[kHeaderQueryBytes + 1];
        WideToAnsi(line, narrow, sizeof narrow);
        if (HeadersDeclareUtf8(narrow) == 1)
            return 1;
        line += WideLength(line) + 1;
    }
    return 0;
}

// Whether the body's first 2047 bytes carry an encoding declaration of UTF-8.
int32_t BodyDeclaresUtf8(BodyBuffer* body) {
    char start[kHeaderQueryBytes + 1];
    int32_t count = 0;
    body->Seek(body, 0);
    if (body->Read(body, start, kHeaderQueryBytes, &count) != kBodyOk)
        count = 0;
    start[count] = 0;
    body->Seek(body, 0);
    return XmlDeclaresUtf8(start);
}

// Writes the body to the connection's debug file ("DAV" in the temporary folder), one file
// per connection that each listing overwrites.
void WriteDebugCopy(Connection& connection, BodyBuffer* body) {
    int fd = OpenTempFile(kListingTempPrefix, &connection.tempFileNumber);
    if (fd < 0)
        return;
    body->Seek(body, 0);
    char block[kReadBlock];
    int32_t count = 0;
    while (body->Read(body, block, sizeof block, &count) == kBodyOk && count > 0) {
        const char* at = block;
        while (count > 0) {
            ssize_t written = write(fd, at, static_cast<size_t>(count));
            if (written <= 0)
                break;
            at += written;
            count -= static_cast<int32_t>(written);
        }
        if (count > 0)
            break;
    }
    close(fd);
    body->Seek(body, 0);
}

// Path components of an escaped path: the slashes followed by another character.
int32_t ComponentCount(const char16_t* path) {
    int32_t count = 0;
    for (const char16_t* p = path; *p != 0; ++p) {
        if (*p == u'/' && p[1] != 0)
            ++count;
    }
    return count;
}

// Builds the escaped request target; false (logged) when the path cannot be sent as it is.
bool EscapedTarget(const char16_t* remotePath, int32_t utf8urls, PropfindKind kind, char16_t* url) {
    CopyBoundedW(url, remotePath, kLongPathLimit);
    if (EscapeUrlPath(url, kLongPathLimit + 1, utf8urls) == nullptr) {
        LogLine(kInvalidPath);
        return false;
    }
    if (kind == PropfindKind::Collection && WideLength(url) > 1)
        EnsureTrailingSlash(url, kLongPathLimit);
    return true;
}

// Closes a request still open however the exchange ends; the request context's scope,
// declared before it, then gives the connect handle back.
struct OpenRequestScope {
    NetHandle request = nullptr;  // cleared once closed, or once the client closed it
    OpenRequestScope() = default;
    ~OpenRequestScope() {
        if (request != nullptr)
            NetCloseHandle(request);
    }
    OpenRequestScope(const OpenRequestScope&) = delete;
    OpenRequestScope& operator=(const OpenRequestScope&) = delete;
};

// One PROPFIND exchange into body. The status of the answer, 400 when none was read.
int32_t ExchangeOnce(Connection& connection, const char16_t* url, PropfindKind kind,
                     BodyBuffer* body, int32_t* retry, int32_t* headerUtf8) {
    int32_t status = 400;
    RequestContext context;
    RequestContextScope contextScope(connection, context);
    OpenRequestScope scope;
    SetProxyCredentials(connection.connectHandle, connection.proxyuser, connection.proxypassword);
    scope.request = OpenRequest(connection.connectHandle, u"PROPFIND", url, u"HTTP/1.1",
                                connection.requestFlags | kReadRequestFlags, context);
    if (scope.request == nullptr) {
        ReportError(kOpenRequestFailedPrefix, context.lastError);
        return status;
    }
    NetHandle request = scope.request;
    char16_t headers[kHeaderLimit + 1];
    CopyBoundedW(headers,
                 kind == PropfindKind::Collection
                     ? u"Depth: 1\r\nContent-type: text/xml; charset=\"utf-8\"\r\n"
                     : u"Depth: 0\r\nContent-type: text/xml; charset=\"utf-8\"\r\n",
                 kHeaderLimit);
    AddProxyBasicHeader(headers, connection.proxyuser, connection.proxypassword, kHeaderLimit);
    if (SendWithRecovery(connection, request, headers, context, retry) != RequestDone) {
        scope.request = nullptr;  // closed by the send
        return status;
    }
    bool tooLarge = false;
    char block[kReadBlock];
    for (;;) {
        uint32_t read = 0;
        int32_t result = ReadResponse(request, block, sizeof block, &read, context);
        if (result == RequestAborted) {
            // The user stopped it: no second attempt, and the request is closed already.
            *retry = 0;
            scope.request = nullptr;
            return status;
        }
        if (result != RequestDone || read == 0)
            break;
        int32_t size = 0;
        body->Size(body, &size);
        if (static_cast<int64_t>(size) + read > kMaxListingBody ||
            body->Append(body, block, static_cast<int32_t>(read)) != kBodyOk) {
            tooLarge = true;
            break;
        }
    }
    status = ReadResponseStatus(request, connection.detailedlog, 0);
    if (IsSuccess(status))
        *retry = 0;
    if (tooLarge) {
        LogLine(kListingTooLarge);
        status = 400;
    }
    if (connection.utf8urls == 0)
        *headerUtf8 = ResponseHeadersDeclareUtf8(request);
    return status;
}

int32_t RunPropfind(Connection& connection, const char16_t* remotePath, PropfindKind kind,
                    ListingCursor** out) {
    *out = nullptr;
    int32_t retry = connection.ssl != 0 || connection.proxyuser[0] != 0 ? 1 : 0;
    char16_t line[kLongPathLimit + 1];
    CopyBoundedW(line, kind == PropfindKind::Collection ? u"Get dir: " : u"File info: ",
                 kLongPathLimit);
    AppendBoundedW(line, remotePath, kLongPathLimit);
    LogLine(u"=================");
    LogLine(line);

    char16_t url[kLongPathLimit + 1];
    if (!EscapedTarget(remotePath, connection.utf8urls, kind, url))
        return 1;
    BodyBufferPtr body;
    int32_t headerUtf8 = 0;
    for (;;) {
        BodyBuffer* created = nullptr;
        CreateBodyBuffer(&created);
        body.reset(created);
        int32_t status = 400;
        headerUtf8 = 0;
        if (body)
            status = ExchangeOnce(connection, url, kind, body.get(), &retry, &headerUtf8);
        int32_t length = 0;
        if (body && body->Size(body.get(), &length) == kBodyOk && length > 0 && IsSuccess(status))
            break;
        body.reset();
        if (retry == 0)
            return 1;
        retry = 0;
        if (!EscapedTarget(remotePath, connection.utf8urls, kind, url))
            return 1;
    }

    int32_t responseIsUtf8 = headerUtf8;
    if (connection.utf8urls == 0 && responseIsUtf8 == 0)
        responseIsUtf8 = BodyDeclaresUtf8(body.get());
    if (connection.detailedlog != 0)
        WriteDebugCopy(connection, body.get());

    auto* cursor = new (std::nothrow) ListingCursor;
    if (cursor == nullptr)
        return 1;
    if (ParseMultistatus(&cursor->multistatus, body.get()) != kMultistatusOk) {
        FreeListing(cursor);
        return 1;
    }
    body.reset();
    cursor->responseIsUtf8 = responseIsUtf8;
    cursor->urlsUtf8 = connection.utf8urls;
    cursor->nextResponse = cursor->multistatus->responses.first;
    int32_t depth = ComponentCount(url);
    if (kind == PropfindKind::Resource)
        depth = depth > 0 ? depth - 1 : 0;
    cursor->depth = depth;
    *out = cursor;
    return 0;
}

// The last unit a decoded name may take: the buffer keeps at most kEntryNameSize - 1 units
// with the terminating NUL.
constexpr size_t kNameUnits = kEntryNameSize - 2;

// Whether the units hold a NUL: a character that ends the name before its end (an overlong
// form of 0 decodes to one).
bool HoldsNul(const char16_t* begin, const char16_t* end) {
    for (const char16_t* p = begin; p != end; ++p) {
        if (*p == 0)
            return true;
    }
    return false;
}

// Route A and B: the percent-decoded bytes as ANSI or UTF-8 text into the name buffer.
// Returns false when the name is not whole: cut, ended by a NUL, or ending in the middle of
// a UTF-8 sequence.
bool DecodeBytes(const std::string& bytes, bool utf8, char16_t* name) {
    char16_t* out = name;
    char16_t* outEnd = name + kNameUnits;
    if (utf8) {
        const char* in = bytes.data();
        ConvResult result = Utf8ToUtf16(in, bytes.data() + bytes.size(), out, outEnd);
        bool whole = result == ConvDone && !HoldsNul(name, out);
        *out = 0;
        return whole;
    }
    for (unsigned char byte : bytes) {
        if (out == outEnd) {
            *out = 0;
            return false;
        }
        *out++ = AnsiCharToWide(byte);
    }
    *out = 0;
    return true;
}

// Route C: the href as UTF-8, then each escape in the wide text as one ANSI character.
bool DecodeWide(const char* href, char16_t* name, bool* sawNul) {
    size_t length = std::strlen(href);
    std::u16string wide(length + 1, u'\0');
    const char* in = href;
    char16_t* out = wide.data();
    ConvResult result = Utf8ToUtf16(in, href + length, out, wide.data() + wide.size() - 1);
    bool whole = result == ConvDone && !HoldsNul(wide.data(), out);
    *out = 0;
    char16_t* write = name;
    char16_t* writeEnd = name + kNameUnits;
    for (const char16_t* p = wide.data(); *p != 0; ++p) {
        char16_t unit = *p;
        if (unit == u'%') {
            if (p[1] == 0 || p[2] == 0)
                break;
            unsigned char byte = EscapeByte(p[1] & 0xFFu, p[2] & 0xFFu);
            p += 2;
            if (byte == 0) {
                *sawNul = true;
                break;
            }
            unit = AnsiCharToWide(byte);
        }
        if (write == writeEnd) {
            *write = 0;
            return false;
        }
        *write++ = unit;
    }
    *write = 0;
    return whole;
}

// Steps over n components: each "/" counts one and the skip ends behind the n-th; with n 0
// only a "/" at the position itself is stepped over.
const char16_t* SkipComponents(const char16_t* p, int32_t n) {
    if (n <= 0)
        return *p == u'/' ? p + 1 : p;
    int32_t seen = 0;
    while (*p != 0) {
        if (*p++ == u'/' && ++seen == n)
            break;
    }
    return p;
}

bool StartsWithNoCase(const char16_t* text, const char* prefix) {
    for (; *prefix != 0; ++text, ++prefix) {
        char16_t c = *text;
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != static_cast<unsigned char>(*prefix))
            return false;
    }
    return true;
}

// The part of the decoded href below the listed path, or nullptr when the href gives none.
const char16_t* StripListedPath(const char16_t* decoded, int32_t depth) {
    if (decoded[0] == u'/')
        return SkipComponents(decoded + 1, depth);
    size_t schemeLength = StartsWithNoCase(decoded, "https://") ? 8 : 7;
    if (WideLength(decoded) < schemeLength)
        return nullptr;
    const char16_t* p = decoded + schemeLength;
    while (*p != 0 && *p != u'/')
        ++p;
    if (*p == u'/')
        ++p;
    return SkipComponents(p, depth);
}

// Whether the host can hold name as the server's name: a name it would read as "here",
// "up", a path or another resource is never handed to it.
bool UsableName(const char16_t* name) {
    if (name[0] == 0 || WideEqual(name, u".") || WideEqual(name, u".."))
        return false;
    for (const char16_t* p = name; *p != 0; ++p) {
        if (*p == u'\\')
            return false;
    }
    return true;
}

}  // namespace

void PercentDecode(const char* text, std::string& bytes, bool* sawNul) {
    bytes.clear();
    for (const char* p = text; *p != 0; ++p) {
        unsigned char byte = static_cast<unsigned char>(*p);
        if (byte == '%') {
            if (p[1] == 0 || p[2] == 0)
                return;
            byte = EscapeByte(static_cast<unsigned char>(p[1]), static_cast<unsigned char>(p[2]));
            p += 2;
            if (byte == 0) {
                *sawNul = true;
                return;
            }
        }
        bytes.push_back(static_cast<char>(byte));
    }
}

bool PassesUtf8Test(const std::string& bytes) {
    bool high = false;
    size_t i = 0;
    while (i < bytes.size()) {
        unsigned char lead = static_cast<unsigned char>(bytes[i++]);
        if (lead < 0x80)
            continue;
        high = true;
        size_t continuation = lead <= 0xBF   ? 0
                              : lead <= 0xDF ? 1
                              : lead <= 0xEF ? 2
                              : lead <= 0xF7 ? 3
                              : lead <= 0xFB ? 4
                                             : 5;
        if (continuation == 0)
            return false;
        for (size_t k = 0; k < continuation; ++k, ++i) {
            if (i >= bytes.size())
                return false;
            unsigned char next = static_cast<unsigned char>(bytes[i]);
            if (next < 0x80 || next > 0xBF)
                return false;
        }
    }
    return high;
}

int32_t SendWithRecovery(const Connection& connection, NetHandle request, const char16_t* headers,
                         RequestContext& context, int32_t* retry) {
    uint32_t headersLength = static_cast<uint32_t>(WideLength(headers));
    int32_t recoveries = 0;
    for (;;) {
        int32_t result = SendRequest(request, headers, headersLength, nullptr, 0, context);
        if (result == RequestAborted) {
            *retry = 0;
            return RequestAborted;
        }
        if (result == RequestDone)
            return RequestDone;
        uint32_t error = context.lastError;
        switch (error) {
            case kNetErrorIncorrectPassword:
            case kNetErrorCertDateInvalid:
            case kNetErrorCertCnInvalid:
            case kNetErrorHttpToHttpsRedirect:
            case kNetErrorInvalidCa:
            case kNetErrorRetryDialog:
            case kNetErrorSecCertErrors:
            case kNetErrorSecCertNoRev:
            case kNetErrorSecCertRevFailed:
            case kNetErrorRedirectNeedsConfirmation:
            case kNetErrorSecCertRevoked: {
                DefaultBeep();
                uint32_t answer =
                    RequestErrorDialog(request, error,
                                       kErrorDialogFilterForErrors | kErrorDialogChangeOptions |
                                           kErrorDialogGenerateData);
                if (answer == kNetErrorCancelled) {
                    NetCloseHandle(request);
                    return RequestFailed;
                }
                if (error == kNetErrorSecCertNoRev || error == kNetErrorSecCertRevFailed)
                    AddSecurityFlags(request, kNetSecurityIgnoreRevocation);
                break;
            }
            case kNetErrorClientAuthCertNeeded:
                SelectClientCertificate(connection, request);
                break;
            default:
                ReportError(kSendFailedPrefix, error);
                NetCloseHandle(request);
                return RequestFailed;
        }
        if (++recoveries >= kMaxRecoveries) {
            NetCloseHandle(request);
            return RequestFailed;
        }
    }
}

int32_t DavListCollection(Connection& connection, const char16_t* remotePath, ListingCursor** out) {
    return RunPropfind(connection, remotePath, PropfindKind::Collection, out);
}

int32_t DavQueryResource(Connection& connection, const char16_t* remotePath, ListingCursor** out) {
    return RunPropfind(connection, remotePath, PropfindKind::Resource, out);
}

int32_t NextEntry(ListingCursor* cursor) {
    for (;;) {
        if (cursor == nullptr || cursor->nextResponse == nullptr ||
            cursor->nextResponse->href == nullptr)
            return 0;
        DavResponse* response = cursor->nextResponse;
        cursor->href = response->href;
        cursor->props = FindPropsByStatus(response, 200, 200);
        cursor->nextResponse = response->next;

        bool whole = true;
        bool sawNul = false;
        const char* href = cursor->href;
        if (cursor->urlsUtf8 == 0 && cursor->responseIsUtf8 == 0) {
            std::string bytes;
            PercentDecode(href, bytes, &sawNul);
            whole = DecodeBytes(bytes, false, cursor->nameBuffer);
        } else {
            std::string bytes;
            bool routeB = cursor->urlsUtf8 != 0;
            if (!routeB && std::strchr(href, '%') != nullptr) {
                bool ignored = false;
                PercentDecode(href, bytes, &ignored);
                routeB = PassesUtf8Test(bytes);
            }
            if (routeB) {
                PercentDecode(href, bytes, &sawNul);
                whole = DecodeBytes(bytes, true, cursor->nameBuffer);
            } else {
                whole = DecodeWide(href, cursor->nameBuffer, &sawNul);
            }
        }
        cursor->nameUnfaithful = !whole || sawNul ? 1 : 0;

        const char16_t* rest = StripListedPath(cursor->nameBuffer, cursor->depth);
        if (rest == nullptr || *rest == 0)
            continue;
        cursor->name = rest;
        const DavProps* props = cursor->props;
        cursor->contentLength = props != nullptr ? props->contentLength : 0;
        cursor->creationDate = props != nullptr ? props->creationDate : 0;
        cursor->lastModified = props != nullptr ? props->lastModified : 0;
        cursor->isCollection = props != nullptr ? props->isCollection : 0;
        const ActiveLock* lock =
            props != nullptr ? FindActiveLock(props, LockScopeExclusive, LockTypeWrite) : nullptr;
        cursor->lockOwner = lock != nullptr ? lock->owner : nullptr;
        return 1;
    }
}

int32_t FillFindData(ListingCursor* cursor, WIN32_FIND_DATAW* out, ListingCursor** outCursor) {
    for (;;) {
        if (cursor == nullptr || NextEntry(cursor) == 0)
            return 1;
        // Built aside: the host's record changes only when an entry is handed out.
        WIN32_FIND_DATAW entry;
        std::memset(&entry, 0, sizeof entry);
        WIN32_FIND_DATAW* record = &entry;
        size_t length = WideLength(cursor->name);
        CopyBoundedW(record->name, cursor->name, kNameLimit);
        uint32_t attributes = 0;
        // A name with a slash stands for a collection below the listed one (a server that
        // answers deeper, or ends a collection's href with "/"): the entry is its first
        // component, a directory.
        char16_t* slash = nullptr;
        for (char16_t* p = record->name; *p != 0; ++p) {
            if (*p == u'/') {
                slash = p;
                break;
            }
        }
        bool cut = length > kNameLimit;
        if (slash != nullptr) {
            cut = static_cast<size_t>(slash - record->name) >= kNameLimit;
            *slash = 0;
            attributes |= FileAttributeDirectory;
        } else if (cursor->isCollection == 1) {
            attributes |= FileAttributeDirectory;
        }
        if (cut || cursor->nameUnfaithful != 0 || !UsableName(record->name)) {
            if (record->name[0] != 0 && !WideEqual(record->name, u".") &&
                !WideEqual(record->name, u"..")) {
                char16_t line[kLongPathLimit + 1];
                CopyBoundedW(line, kSkippedName, kLongPathLimit);
                AppendBoundedW(line, cursor->name, kLongPathLimit);
                LogLine(line);
            }
            continue;
        }
        if (cursor->lockOwner != nullptr && cursor->lockOwner[0] != 0)
            attributes |= FileAttributeReadonly;
        record->attributes = attributes;
        record->creationTime = {static_cast<uint32_t>(cursor->creationDate),
                                static_cast<uint32_t>(cursor->creationDate >> 32)};
        record->lastAccessTime = {0, 0};
        record->lastWriteTime = cursor->lastModified != 0
                                    ? FILETIME{static_cast<uint32_t>(cursor->lastModified),
                                               static_cast<uint32_t>(cursor->lastModified >> 32)}
                                    : kNoDate;
        uint64_t size = static_cast<uint64_t>(cursor->contentLength);
        record->sizeHigh = static_cast<uint32_t>(size >> 32);
        record->sizeLow = static_cast<uint32_t>(size);
        *out = entry;
        if (outCursor != nullptr)
            *outCursor = cursor;
        return 0;
    }
}

int32_t FreeListing(ListingCursor* cursor) {
    if (cursor == nullptr)
        return 0;
    FreeMultistatus(&cursor->multistatus);
    delete cursor;
    return 0;
}

}  // namespace vodarezazuv
