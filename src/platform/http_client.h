// The HTTP client of the platform layer: the operations of WinINet in asynchronous mode that
// the transport uses, with WinINet's arguments, results, error numbers and threading, so
// that the transport reads the same on every platform.
//
// Handles. A session (NetOpen) holds connects (NetConnect), a connect holds requests
// (NetOpenRequest). Handles are opaque numbers, never addresses: a closed or unknown handle
// fails with kNetErrorInvalidHandle and never touches freed memory. Closing a handle closes
// its children.
//
// Results. Every function returns success (true or a handle) or failure (false or nullptr)
// and sets the calling thread's NetLastError(), 0 on success. The network operations
// (NetSendRequest, NetSendRequestEx, NetWriteFile, NetEndRequest, NetReadFile(Ex)) either
// complete at once or fail with kNetErrorIoPending; a pending call later delivers
// kNetStatusRequestComplete with its error number (0 for success) to the request's status
// callback, from the client's own thread and never from within the call. Until then the
// caller keeps the buffers it passed alive; the client writes into them before it notifies
// and never afterwards. One call is outstanding per request at a time.
//
// Closing a request (from any thread) ends its transfer: a pending call completes with
// kNetErrorOperationCancelled within milliseconds, later calls fail with
// kNetErrorInvalidHandle.
//
// Nothing here allocates per byte of a body: response and streamed request bodies pass
// through bounded hand-over buffers, so memory stays bounded whatever a server sends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vodarezazuv {

struct NetHandleTag;
using NetHandle = NetHandleTag*;

// Status callback: (handle, context value, status, status information, its length). The
// information of both notifications below is a NetAsyncResult.
using NetStatusCallback = void (*)(NetHandle handle, uintptr_t context, uint32_t status, void* info,
                                   uint32_t infoLength);

struct NetAsyncResult {
    uintptr_t result;  // the created handle (60), or 1 for success and 0 for failure (100)
    uint32_t error;    // 0 or an error number
};

// The buffers description of NetSendRequestEx and NetReadFileEx, laid out as WinINet's.
struct NetBuffers {
    uint32_t structSize;  // 56
    NetBuffers* next;
    const char16_t* header;
    uint32_t headersLength;
    uint32_t headersTotal;
    void* buffer;
    uint32_t bufferLength;
    uint32_t bufferTotal;
    uint32_t offsetLow;
    uint32_t offsetHigh;
};
static_assert(sizeof(NetBuffers) == 56, "callers fill structSize with 56");

// What NetSetStatusCallback returns for an invalid handle.
inline const NetStatusCallback kNetInvalidStatusCallback =
    reinterpret_cast<NetStatusCallback>(static_cast<intptr_t>(-1));

// Access types of NetOpen.
inline constexpr uint32_t kNetOpenTypePreconfig = 0;  // libcurl's proxy environment variables
inline constexpr uint32_t kNetOpenTypeDirect = 1;
inline constexpr uint32_t kNetOpenTypeProxy = 3;  // the proxy text, host[:port], port 80 default
inline constexpr uint32_t kNetOpenTypePreconfigNoAutoProxy = 4;  // as 0

// Flags.
inline constexpr uint32_t kNetFlagAsync = 0x10000000;           // NetOpen; always on here
inline constexpr uint32_t kNetFlagSecure = 0x00800000;          // connect or request: HTTPS
inline constexpr uint32_t kNetFlagReload = 0x80000000;          // accepted; there is no cache
inline constexpr uint32_t kNetFlagKeepConnection = 0x00400000;  // keep-alive (always on)
inline constexpr uint32_t kNetFlagNoCacheWrite = 0x04000000;    // accepted; there is no cache
inline constexpr uint32_t kNetServiceHttp = 3;
inline constexpr uint32_t kNetReadAsync = 1;  // IRF_ASYNC of NetReadFileEx

// Modifiers of NetAddRequestHeaders.
inline constexpr uint32_t kNetAddHeaderAdd = 0x20000000;       // add (with Replace: or replace)
inline constexpr uint32_t kNetAddHeaderAddIfNew = 0x10000000;  // fail when the name exists
inline constexpr uint32_t kNetAddHeaderReplace = 0x80000000;   // replace; empty value removes

// Query levels of NetQueryInfo, and its modifier flags.
inline constexpr uint32_t kNetQueryContentType = 1;
inline constexpr uint32_t kNetQueryContentLength = 5;
inline constexpr uint32_t kNetQueryStatusCode = 19;
inline constexpr uint32_t kNetQueryStatusText = 20;
inline constexpr uint32_t kNetQueryRawHeaders = 21;      // lines, each terminated, then ""
inline constexpr uint32_t kNetQueryRawHeadersCrlf = 22;  // one text, lines ended by CR LF
inline constexpr uint32_t kNetQueryLocation = 33;
inline constexpr uint32_t kNetQueryTransferEncoding = 63;
inline constexpr uint32_t kNetQueryCustom = 65535;  // the buffer holds the header name
inline constexpr uint32_t kNetQueryFlagNumber = 0x20000000;
inline constexpr uint32_t kNetQueryFlagRequestHeaders = 0x80000000;

// Options of NetSetOption and NetQueryOption.
inline constexpr uint32_t kNetOptionConnectTimeout = 2;  // uint32_t milliseconds
inline constexpr uint32_t kNetOptionReceiveTimeout = 6;  // no byte moves for so long: 12002
inline constexpr uint32_t kNetOptionSecurityFlags = 31;  // uint32_t, kNetSecurity* below
// Server credentials of a request (or of every request of a connect) instead of those given
// to NetConnect; a query tells only a value set this way.
inline constexpr uint32_t kNetOptionUsername = 28;             // text, length in characters
inline constexpr uint32_t kNetOptionPassword = 29;             // text, length in characters
inline constexpr uint32_t kNetOptionProxyUsername = 43;        // text, length in characters
inline constexpr uint32_t kNetOptionProxyPassword = 44;        // text, length in characters
inline constexpr uint32_t kNetOptionSecurityCertificate = 35;  // query: the server certificate
inline constexpr uint32_t kNetOptionClientCertContext = 84;    // path of a PEM or PKCS#12 file
// A PEM file of the certificate authorities to trust instead of the system's trust store
// (text, length in characters; empty: the system's again). No WinINet counterpart: tests set
// it on a session to trust the certificates of their own test authority.
inline constexpr uint32_t kNetOptionTrustedCaFile = 0x7F000001;

// Security flags (option 31). Setting an ignore flag accepts the problem for the server
// certificate that the request was last refused with, and for no other certificate.
inline constexpr uint32_t kNetSecurityFlagSecure = 0x00000001;  // query: a TLS connection
inline constexpr uint32_t kNetSecurityIgnoreRevocation = 0x00000080;
inline constexpr uint32_t kNetSecurityIgnoreUnknownCa = 0x00000100;
inline constexpr uint32_t kNetSecurityIgnoreCertCnInvalid = 0x00001000;
inline constexpr uint32_t kNetSecurityIgnoreCertDateInvalid = 0x00002000;

// Notifications.
inline constexpr uint32_t kNetStatusHandleCreated = 60;
inline constexpr uint32_t kNetStatusRequestComplete = 100;

// Error numbers.
inline constexpr uint32_t kNetErrorInvalidHandle = 6;
inline constexpr uint32_t kNetErrorNotEnoughMemory = 8;
inline constexpr uint32_t kNetErrorInvalidParameter = 87;
inline constexpr uint32_t kNetErrorInsufficientBuffer = 122;
inline constexpr uint32_t kNetErrorIoPending = 997;
inline constexpr uint32_t kNetErrorCancelled = 1223;
inline constexpr uint32_t kNetErrorOutOfHandles = 12001;
inline constexpr uint32_t kNetErrorTimeout = 12002;
inline constexpr uint32_t kNetErrorExtended = 12003;
inline constexpr uint32_t kNetErrorInternal = 12004;
inline constexpr uint32_t kNetErrorInvalidUrl = 12005;
inline constexpr uint32_t kNetErrorNameNotResolved = 12007;
inline constexpr uint32_t kNetErrorInvalidOption = 12009;
inline constexpr uint32_t kNetErrorBadOptionLength = 12010;
inline constexpr uint32_t kNetErrorIncorrectPassword = 12014;
inline constexpr uint32_t kNetErrorOperationCancelled = 12017;
inline constexpr uint32_t kNetErrorIncorrectHandleType = 12018;
inline constexpr uint32_t kNetErrorIncorrectHandleState = 12019;
inline constexpr uint32_t kNetErrorCannotConnect = 12029;
inline constexpr uint32_t kNetErrorConnectionAborted = 12030;
inline constexpr uint32_t kNetErrorConnectionReset = 12031;
inline constexpr uint32_t kNetErrorCertDateInvalid = 12037;
inline constexpr uint32_t kNetErrorCertCnInvalid = 12038;
inline constexpr uint32_t kNetErrorHttpToHttpsRedirect = 12039;
inline constexpr uint32_t kNetErrorClientAuthCertNeeded = 12044;
inline constexpr uint32_t kNetErrorInvalidCa = 12045;
inline constexpr uint32_t kNetErrorRetryDialog = 12050;
inline constexpr uint32_t kNetErrorSecCertErrors = 12055;
inline constexpr uint32_t kNetErrorSecCertNoRev = 12056;
inline constexpr uint32_t kNetErrorSecCertRevFailed = 12057;
inline constexpr uint32_t kNetErrorHeaderNotFound = 12150;
inline constexpr uint32_t kNetErrorHeaderAlreadyExists = 12155;
inline constexpr uint32_t kNetErrorRedirectNeedsConfirmation = 12168;
inline constexpr uint32_t kNetErrorSecCertRevoked = 12170;

// The library start-up the session count guards (libcurl's global initialisation). Counted:
// each successful NetStartup needs one NetCleanup. Sessions keep the library started too.
bool NetStartup();
void NetCleanup();

// The error number of the calling thread's last call of this interface.
uint32_t NetLastError();

// 1 when the client corrupts chunked response bodies (as old WinINet versions did), else 0.
int NetHasChunkedBug();

// A session: agent text, access type, proxy text (type 3), proxy bypass list, flags.
NetHandle NetOpen(const char16_t* agent, uint32_t accessType, const char16_t* proxy,
                  const char16_t* proxyBypass, uint32_t flags);

// A connect handle: server name, port (0: 80, or 443 with kNetFlagSecure), user name and
// password (empty or nullptr user: no server authentication), service, flags, context.
// Completes at once. The client answers Basic, Digest, NTLM and Negotiate challenges with
// the credentials itself; 401 and 407 reach the caller as statuses when it cannot.
NetHandle NetConnect(NetHandle session, const char16_t* server, uint16_t port, const char16_t* user,
                     const char16_t* password, uint32_t service, uint32_t flags, uintptr_t context);

// The status callback of a handle; handles opened from it later inherit it. Returns the
// previous one, or kNetInvalidStatusCallback for an invalid handle. For a request it returns
// only once a notification running the previous callback has ended, so that afterwards the
// old callback and context value are no longer used.
NetStatusCallback NetSetStatusCallback(NetHandle handle, NetStatusCallback callback);

// A request handle: method, object (escaped path), version ("HTTP/1.0" or "HTTP/1.1";
// nullptr is 1.1), referrer and accepted types (ignored), flags, context value. Completes
// at once; nothing is sent before NetSendRequest or NetSendRequestEx.
NetHandle NetOpenRequest(NetHandle connect, const char16_t* method, const char16_t* object,
                         const char16_t* version, const char16_t* referrer,
                         const char16_t* const* acceptTypes, uint32_t flags, uintptr_t context);

// Adds header lines ("Name: value", separated by CR LF) to the request, kept for every
// later send. length in characters, or UINT32_MAX for a terminated text.
bool NetAddRequestHeaders(NetHandle request, const char16_t* headers, uint32_t length,
                          uint32_t modifiers);

// Sends the request with extra headers (added as with Add|Replace) and an optional body of
// optionalLength bytes (copied). Pending until the final response's headers are in.
bool NetSendRequest(NetHandle request, const char16_t* headers, uint32_t headersLength,
                    const void* optional, uint32_t optionalLength);

// Starts a request whose body follows through NetWriteFile. The body length is the
// request's Content-Length header, else bufferTotal of in, else unknown (chunked). Pending
// until the client takes body bytes or the server has answered.
bool NetSendRequestEx(NetHandle request, const NetBuffers* in, NetBuffers* out, uint32_t flags,
                      uintptr_t context);

// Writes body bytes. Completes at once while the hand-over buffer has room, else pending;
// *written is the count given on success. Once the server has answered, bytes are dropped.
bool NetWriteFile(NetHandle request, const void* data, uint32_t count, uint32_t* written);

// Ends the body. Pending until the final response's headers are in.
bool NetEndRequest(NetHandle request, NetBuffers* out, uint32_t flags, uintptr_t context);

// Reads up to buffers->bufferLength body bytes into buffers->buffer and sets bufferLength to
// the count; 0 at the end of the body. At once when bytes are buffered, else pending.
bool NetReadFileEx(NetHandle request, NetBuffers* buffers, uint32_t flags, uintptr_t context);
bool NetReadFile(NetHandle request, void* buffer, uint32_t size, uint32_t* read);

// Header queries as UTF-16 text into buffer; *length is its size in bytes and becomes the
// bytes written without the terminator (the needed bytes with kNetErrorInsufficientBuffer).
// Raw headers are the status or request line followed by the header lines. With
// kNetQueryFlagNumber the value is a uint32_t. index (may be nullptr) selects among headers
// of one name and advances.
bool NetQueryInfo(NetHandle request, uint32_t level, void* buffer, uint32_t* length,
                  uint32_t* index);

// Options: texts are UTF-16 with the length in characters; numbers are uint32_t with the
// length 4. A request uses its own value, else its connect's, else its session's.
bool NetSetOption(NetHandle handle, uint32_t option, const void* buffer, uint32_t length);
bool NetQueryOption(NetHandle handle, uint32_t option, void* buffer, uint32_t* length);

// The text of the latest failure of this client that has no better number than
// kNetErrorExtended (libcurl's own words), with that error. *length in characters.
bool NetGetLastResponseInfo(uint32_t* error, char16_t* buffer, uint32_t* length);

bool NetCloseHandle(NetHandle handle);

}  // namespace vodarezazuv
