// The interface functions of the HTTP client: handles, last errors, argument checks and the
// hand-over between the callers' threads and each connect's transfer thread.
#include "platform/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/linux/http_errors.h"
#include "platform/linux/http_objects.h"
#include "platform/linux/http_tls.h"
#include "platform/linux/http_worker.h"
#include "platform/linux/utf8_text.h"
#include "platform/native_path.h"

namespace vodarezazuv {

using net::Connect;
using net::Exchange;
using net::Kind;
using net::Object;
using net::Pending;
using net::Request;
using net::Session;

namespace {

thread_local uint32_t t_lastError = 0;

bool Fail(uint32_t error) {
    t_lastError = error;
    return false;
}

bool Succeed() {
    t_lastError = 0;
    return true;
}

// --- The library start-up ------------------------------------------------------------

std::mutex g_libraryMutex;
int g_libraryUsers = 0;

bool AcquireLibrary() {
    std::lock_guard lock(g_libraryMutex);
    if (g_libraryUsers == 0 && curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        return false;
    ++g_libraryUsers;
    return true;
}

void ReleaseLibrary() {
    std::lock_guard lock(g_libraryMutex);
    if (g_libraryUsers > 0 && --g_libraryUsers == 0)
        curl_global_cleanup();
}

// --- Handles -------------------------------------------------------------------------
// Numbers, not addresses: a stale handle finds nothing instead of freed memory.

std::mutex g_tableMutex;
std::unordered_map<uintptr_t, std::shared_ptr<Object>> g_table;
uintptr_t g_nextId = 0x1000;

NetHandle Register(const std::shared_ptr<Object>& object) {
    std::lock_guard lock(g_tableMutex);
    object->id = g_nextId;
    g_nextId += 4;
    g_table[object->id] = object;
    return reinterpret_cast<NetHandle>(object->id);
}

std::shared_ptr<Object> Find(NetHandle handle) {
    std::lock_guard lock(g_tableMutex);
    auto found = g_table.find(reinterpret_cast<uintptr_t>(handle));
    return found != g_table.end() ? found->second : nullptr;
}

std::shared_ptr<Object> Unregister(NetHandle handle) {
    std::lock_guard lock(g_tableMutex);
    auto found = g_table.find(reinterpret_cast<uintptr_t>(handle));
    if (found == g_table.end())
        return nullptr;
    std::shared_ptr<Object> object = std::move(found->second);
    g_table.erase(found);
    return object;
}

// The object of a handle of the given kind; sets the last error when there is none.
template <typename T>
std::shared_ptr<T> Lookup(NetHandle handle, Kind kind) {
    std::shared_ptr<Object> object = Find(handle);
    if (!object) {
        Fail(kNetErrorInvalidHandle);
        return nullptr;
    }
    if (object->kind != kind) {
        Fail(kNetErrorIncorrectHandleType);
        return nullptr;
    }
    return std::static_pointer_cast<T>(object);
}

void AddChild(Object& parent, const std::shared_ptr<Object>& child) {
    std::lock_guard lock(parent.mutex);
    std::erase_if(parent.children, [](const std::weak_ptr<Object>& c) { return c.expired(); });
    parent.children.push_back(child);
}

// --- Texts ---------------------------------------------------------------------------

std::u16string Wide(const char16_t* text, uint32_t length) {
    if (text == nullptr)
        return std::u16string();
    std::u16string wide =
        length == UINT32_MAX ? std::u16string(text) : std::u16string(text, length);
    size_t end = wide.find(u'\0');
    return end == std::u16string::npos ? wide : wide.substr(0, end);
}

std::string Utf8(const char16_t* text, uint32_t length = UINT32_MAX) {
    return WideToUtf8(Wide(text, length).c_str());
}

// Header lines and credentials travel in the ANSI code page, as WinINet's wide functions
// convert them.
std::string Ansi(const char16_t* text, uint32_t length = UINT32_MAX) {
    std::u16string wide = Wide(text, length);
    std::string bytes(wide.size() + 1, '\0');
    bytes.resize(WideToAnsi(wide.c_str(), bytes.data(), bytes.size()));
    return bytes;
}

std::u16string AnsiToWideText(const std::string& bytes) {
    std::u16string wide;
    wide.reserve(bytes.size());
    for (unsigned char byte : bytes)
        wide += AnsiCharToWide(byte);
    return wide;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

// --- Start-up, errors, sessions ------------------------------------------------------

bool NetStartup() {
    return AcquireLibrary() ? Succeed() : Fail(kNetErrorInternal);
}

void NetCleanup() {
    ReleaseLibrary();
}

uint32_t NetLastError() {
    return t_lastError;
}

int NetHasChunkedBug() {
    return 0;  // libcurl decodes chunked transfer coding correctly
}

NetHandle NetOpen(const char16_t* agent, uint32_t accessType, const char16_t* proxy,
                  const char16_t* proxyBypass, uint32_t) {
    if (accessType != kNetOpenTypePreconfig && accessType != kNetOpenTypeDirect &&
        accessType != kNetOpenTypeProxy && accessType != kNetOpenTypePreconfigNoAutoProxy) {
        Fail(kNetErrorInvalidParameter);
        return nullptr;
    }
    auto session = std::make_shared<Session>();
    session->agent = Ansi(agent);
    session->accessType =
        accessType == kNetOpenTypePreconfigNoAutoProxy ? kNetOpenTypePreconfig : accessType;
    session->proxy = Utf8(proxy);
    session->proxyBypass = Utf8(proxyBypass);
    if (session->accessType == kNetOpenTypeProxy && session->proxy.empty()) {
        Fail(kNetErrorInvalidParameter);
        return nullptr;
    }
    if (!AcquireLibrary()) {
        Fail(kNetErrorInternal);
        return nullptr;
    }
    session->libraryStarted = true;
    NetHandle handle = Register(session);
    Succeed();
    return handle;
}

NetHandle NetConnect(NetHandle sessionHandle, const char16_t* server, uint16_t port,
                     const char16_t* user, const char16_t* password, uint32_t, uint32_t flags,
                     uintptr_t context) {
    auto session = Lookup<Session>(sessionHandle, Kind::Session);
    if (!session)
        return nullptr;
    auto connect = std::make_shared<Connect>(session);
    connect->server = Utf8(server);
    connect->secure = (flags & kNetFlagSecure) != 0;
    connect->port = port != 0 ? port : connect->secure ? 443 : 80;
    connect->user = Ansi(user);
    connect->password = Ansi(password);
    connect->context = context;
    {
        std::lock_guard lock(session->mutex);
        connect->callback = session->callback;
    }
    connect->tls = std::make_shared<net::TlsState>();
    connect->tls->host = connect->server;
    connect->worker = net::Worker::Create(connect->tls);
    if (!connect->worker) {
        Fail(kNetErrorOutOfHandles);
        return nullptr;
    }
    AddChild(*session, connect);
    NetHandle handle = Register(connect);
    Succeed();
    return handle;
}

NetStatusCallback NetSetStatusCallback(NetHandle handle, NetStatusCallback callback) {
    std::shared_ptr<Object> object = Find(handle);
    if (!object) {
        Fail(kNetErrorInvalidHandle);
        return kNetInvalidStatusCallback;
    }
    NetStatusCallback previous;
    {
        std::lock_guard lock(object->mutex);
        previous = object->callback;
        object->callback = callback;
    }
    // Once this returns, the previous callback of a request runs no more: a caller may then
    // free what its context value points at.
    if (object->kind == Kind::Request) {
        std::lock_guard delivered(static_cast<Request&>(*object).delivery);
    }
    Succeed();
    return previous;
}

NetHandle NetOpenRequest(NetHandle connectHandle, const char16_t* method, const char16_t* object,
                         const char16_t* version, const char16_t*, const char16_t* const*,
                         uint32_t flags, uintptr_t context) {
    auto connect = Lookup<Connect>(connectHandle, Kind::Connect);
    if (!connect)
        return nullptr;
    auto request = std::make_shared<Request>(connect);
    request->method = Ansi(method);
    if (request->method.empty())
        request->method = "GET";
    request->object = Ansi(object);
    if (request->object.empty() || request->object.front() != '/')
        request->object.insert(0, "/");
    request->http10 = Utf8(version) == "HTTP/1.0";
    request->flags = flags;
    request->context = context;
    {
        std::lock_guard lock(connect->mutex);
        if (connect->closed) {
            Fail(kNetErrorInvalidHandle);
            return nullptr;
        }
        request->callback = connect->callback;
    }
    AddChild(*connect, request);
    NetHandle handle = Register(request);
    Succeed();
    return handle;
}

// --- Request headers -----------------------------------------------------------------

namespace {

bool ApplyHeader(Request& request, std::string_view line, uint32_t modifiers) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return Fail(kNetErrorInvalidParameter);
    std::string name(Trim(line.substr(0, colon)));
    std::string value(Trim(line.substr(colon + 1)));
    auto& headers = request.headers;
    auto existing = std::find_if(headers.begin(), headers.end(), [&](const net::RequestHeader& h) {
        return SameName(h.name, name);
    });
    if (modifiers & kNetAddHeaderAddIfNew) {
        if (existing != headers.end())
            return Fail(kNetErrorHeaderAlreadyExists);
        headers.push_back({name, value});
    } else if (modifiers & kNetAddHeaderReplace) {
        if (existing == headers.end()) {
            if (!(modifiers & kNetAddHeaderAdd))
                return Fail(kNetErrorHeaderNotFound);
            if (!value.empty())
                headers.push_back({name, value});
        } else if (value.empty()) {
            headers.erase(existing);
        } else {
            existing->value = value;
        }
    } else {
        headers.push_back({name, value});
    }
    return true;
}

bool AddHeaders(Request& request, const std::string& text, uint32_t modifiers) {
    size_t start = 0;
    bool ok = true;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string_view line(text.data() + start,
                              (end == std::string::npos ? text.size() : end) - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!Trim(line).empty())
            ok = ApplyHeader(request, line, modifiers) && ok;
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return ok;
}

}  // namespace

bool NetAddRequestHeaders(NetHandle handle, const char16_t* headers, uint32_t length,
                          uint32_t modifiers) {
    auto request = Lookup<Request>(handle, Kind::Request);
    if (!request)
        return false;
    if (headers == nullptr)
        return Fail(kNetErrorInvalidParameter);
    std::lock_guard lock(request->mutex);
    return AddHeaders(*request, Ansi(headers, length), modifiers) && Succeed();
}

// --- Sending -------------------------------------------------------------------------

namespace {

// The value of an option for a request: its own, else its connect's, else its session's.
template <typename T>
std::optional<T> ResolveLocked(Request& request, std::optional<T> net::Options::*field) {
    for (Object* at = &request; at != nullptr; at = at->parent.get()) {
        std::lock_guard lock(at->mutex);
        if ((at->options.*field).has_value())
            return at->options.*field;
    }
    return std::nullopt;
}

int64_t ParseLength(const std::string& value) {
    if (value.empty() || value.size() > 18)
        return -1;
    int64_t length = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            return -1;
        length = length * 10 + (c - '0');
    }
    return length;
}

bool HasHeader(const std::vector<net::RequestHeader>& headers, std::string_view name) {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const net::RequestHeader& h) { return SameName(h.name, name); });
}

// The header lines of an exchange: Proxy-* lines for the proxy alone; Content-Length is
// libcurl's, from the body. libcurl's own "Accept: */*" is left out, as WinINet sends no
// Accept line unless asked to.
void SplitHeaders(const Request& request, net::TransferSettings& settings) {
    for (const net::RequestHeader& header : request.headers) {
        if (SameName(header.name, "Content-Length"))
            continue;
        std::string line = header.name + ": " + header.value;
        bool forProxy = header.name.size() > 6 && SameName(header.name.substr(0, 6), "Proxy-");
        (forProxy ? settings.proxyHeaders : settings.serverHeaders).push_back(line);
    }
    if (!HasHeader(request.headers, "Accept"))
        settings.serverHeaders.push_back("Accept:");
    if (settings.http10 && (request.flags & kNetFlagKeepConnection) &&
        !HasHeader(request.headers, "Connection"))
        settings.serverHeaders.push_back("Connection: Keep-Alive");
}

// Everything from the handles that the exchange needs, read under their locks.
net::TransferSettings Snapshot(Request& request) {
    net::TransferSettings settings;
    Connect& connect = request.connect();
    auto& session = static_cast<Session&>(*connect.parent);
    settings.agent = session.agent;
    settings.accessType = session.accessType;
    settings.proxy = session.proxy;
    settings.proxyBypass = session.proxyBypass;
    settings.user = ResolveLocked(request, &net::Options::user).value_or(connect.user);
    settings.password = ResolveLocked(request, &net::Options::password).value_or(connect.password);
    settings.proxyUser = ResolveLocked(request, &net::Options::proxyUser).value_or("");
    settings.proxyPassword = ResolveLocked(request, &net::Options::proxyPassword).value_or("");
    settings.connectTimeoutMs = ResolveLocked(request, &net::Options::connectTimeoutMs)
                                    .value_or(net::kDefaultConnectTimeoutMs);
    settings.receiveTimeoutMs = ResolveLocked(request, &net::Options::receiveTimeoutMs)
                                    .value_or(net::kDefaultReceiveTimeoutMs);
    settings.trustedCaFile = ResolveLocked(request, &net::Options::trustedCaFile).value_or("");
    settings.secure = connect.secure || (request.flags & kNetFlagSecure) != 0;
    settings.pinned = settings.secure && connect.tls->HasPins();
    std::lock_guard lock(request.mutex);
    settings.method = request.method;
    settings.http10 = request.http10;
    settings.url = (settings.secure ? "https://" : "http://") + connect.server + ":" +
                   std::to_string(connect.port) + request.object;
    settings.clientCertPath = request.clientCertPath;
    settings.clientCertIsPkcs12 = request.clientCertIsPkcs12;
    SplitHeaders(request, settings);
    return settings;
}

// Starts a new exchange on the request, replacing the state of the last one.
bool BeginExchange(const std::shared_ptr<Request>& request, net::TransferSettings settings,
                   Pending pending, std::string body, int64_t declared) {
    {
        std::lock_guard lock(request->mutex);
        if (request->closed)
            return Fail(kNetErrorInvalidHandle);
        if (request->exchange.pending != Pending::None)
            return Fail(kNetErrorIncorrectHandleState);
        uint64_t generation = request->exchange.generation + 1;
        request->exchange = Exchange{};
        Exchange& exchange = request->exchange;
        exchange.generation = generation;
        exchange.pending = pending;
        exchange.streaming = pending == Pending::SendEx;
        exchange.fixedBody = std::move(body);
        exchange.uploadDeclared = declared;
        settings.generation = generation;
        settings.withBody = declared >= 0 || exchange.streaming;
        settings.bodyLength = declared;
    }
    request->connect().worker->Post([request, settings = std::move(settings)](net::Worker& worker) {
        worker.Start(request, settings);
    });
    return Fail(kNetErrorIoPending);
}

bool SendsEmptyBody(const std::string& method) {
    return method == "PUT" || method == "POST";
}

}  // namespace

bool NetSendRequest(NetHandle handle, const char16_t* headers, uint32_t headersLength,
                    const void* optional, uint32_t optionalLength) {
    auto request = Lookup<Request>(handle, Kind::Request);
    if (!request)
        return false;
    if (headers != nullptr && headersLength != 0) {
        std::lock_guard lock(request->mutex);
        if (!AddHeaders(*request, Ansi(headers, headersLength),
                        kNetAddHeaderAdd | kNetAddHeaderReplace))
            return false;
    }
    net::TransferSettings settings = Snapshot(*request);
    std::string body;
    if (optional != nullptr)
        body.assign(static_cast<const char*>(optional), optionalLength);
    bool withBody = optional != nullptr || SendsEmptyBody(settings.method);
    int64_t declared = withBody ? static_cast<int64_t>(body.size()) : -1;
    return BeginExchange(request, std::move(settings), Pending::Send, std::move(body), declared);
}

bool NetSendRequestEx(NetHandle handle, const NetBuffers* in, NetBuffers*, uint32_t,
                      uintptr_t context) {
    auto request = Lookup<Request>(handle, Kind::Request);
    if (!request)
        return false;
    int64_t declared = -1;
    {
        std::lock_guard lock(request->mutex);
        if (context != 0)
            request->context = context;
        for (const net::RequestHeader& header : request->headers) {
            if (SameName(header.name, "Content-Length"))
                declared = ParseLength(header.value);
        }
    }
    if (declared < 0 && in != nullptr)
        declared = in->bufferTotal;
    net::TransferSettings settings = Snapshot(*request);
    return BeginExchange(request, std::move(settings), Pending::SendEx, std::string(), declared);
}

// --- Bodies --------------------------------------------------------------------------

namespace {

void ResumeIfPaused(const std::shared_ptr<Request>& request, bool paused) {
    if (paused)
        request->connect().worker->Post(
            [request](net::Worker& worker) { worker.Resume(*request); });
}

bool AnsweredEarly(const Exchange& exchange) {
    return exchange.done || (exchange.finalHeaders && exchange.response.status >= 300);
}

}  // namespace

bool NetWriteFile(NetHandle handle, const void* data, uint32_t count, uint32_t* written) {
    auto request = Lookup<Request>(handle, Kind::Request);
    if (!request)
        return false;
    if (written != nullptr)
        *written = 0;
    if (data == nullptr && count > 0)
        return Fail(kNetErrorInvalidParameter);
    bool paused;
    bool pending;
    {
        std::lock_guard lock(request->mutex);
        Exchange& exchange = request->exchange;
        if (exchange.pending != Pending::None || !exchange.streaming || exchange.uploadEnded)
            return Fail(kNetErrorIncorrectHandleState);
        if (exchange.done && exchange.doneError != 0)
            return Fail(exchange.doneError);
        // More than the declared length is the caller's mistake, also when the server has
        // answered already (checked first, so the answer's timing does not decide).
        if (exchange.uploadDeclared >= 0 &&
            exchange.uploadAccepted + count > static_cast<uint64_t>(exchange.uploadDeclared))
            return Fail(kNetErrorInvalidParameter);
        if (AnsweredEarly(exchange)) {  // dropped, yet counted against the declared length
            exchange.uploadAccepted += count;
            if (written != nullptr)
                *written = count;
            return Succeed();
        }
        exchange.uploadAccepted += count;
        size_t room = net::kUploadLimit - std::min(net::kUploadLimit, exchange.upload.size());
        size_t now = std::min<size_t>(room, count);
        exchange.upload.Append(static_cast<const char*>(data), now);
        pending = now < count;
        bool wholeBody = exchange.uploadDeclared >= 0 &&
                         exchange.uploadAccepted == static_cast<uint64_t>(exchange.uploadDeclared);
        paused = exchange.sendPaused &&
                 (pending || wholeBody || exchange.upload.size() >= net::kUploadResumeLevel);
        if (pending) {
            exchange.pending = Pending::Write;
            exchange.writeData = static_cast<const char*>(data) + now;
            exchange.writeLeft = count - static_cast<uint32_t>(now);
            exchange.writeTotal = count;
            exchange.writeCount = written;
        } else if (written != nullptr) {
            *written = count;
        }
    }
    // Decided under the lock: once unlocked, the transfer thread may complete the write.
    ResumeIfPaused(request, paused);
    return pending ? Fail(kNetErrorIoPending) : Succeed();
}

bool NetEndRequest(NetHandle handle, NetBuffers*, uint32_t, uintptr_t context) {
    auto request = Lookup<Request>(handle, Kind::Request);
    if (!request)
        return false;
    bool paused = false;
    bool shortBody = false;
    uint32_t error = 0;
    bool pending = false;
    {
        std::lock_guard lock(request->mutex);
        Exchange& exchange = request->exchange;
        if (exchange.pending != Pending::None || !exchange.streaming || exchange.uploadEnded)
            return Fail(kNetErrorIncorrectHandleState);
        if (context != 0)
            request->context = context;
        exchange.uploadEnded = true;
        paused = exchange.sendPaused;
        // A body shorter than declared would leave the server waiting for the rest.
        shortBody = !AnsweredEarly(exchange) && exchange.uploadDeclared >= 0 &&
                    exchange.uploadAccepted < static_cast<uint64_t>(exchange.uploadDeclared);
        if (shortBody) {
            error = kNetErrorConnectionAborted;
        } else if (exchange.finalHeaders || exchange.done) {
            error = exchange.finalHeaders ? 0 : exchange.doneError;
        } else {
            exchange.pending = Pending::End;
            pending = true;
        }
    }
    if (shortBody) {
        request->connect().worker->Post(
            [request](net::Worker& worker) { worker.Abort(*request, kNetErrorConnectionAborted); });
        return Fail(error);
    }
    ResumeIfPaused(request, paused);
    if (pending)
        return Fail(kNetErrorIoPending);
    return error == 0 ? Succeed() : Fail(error);
}

namespace {

// A read into the caller's buffers description, or (buffers nullptr) into the request's
// own one for the plain form, whose count goes to *count.
bool ReadBody(NetHandle handle, NetBuffers* buffers, void* buffer, uint32_t size, uint32_t* count,
              uintptr_t context) {
    auto request = Lookup<Request>(handle, Kind::Request);
    if (!request)
        return false;
    if (buffers != nullptr ? buffers->buffer == nullptr && buffers->bufferLength > 0
                           : buffer == nullptr && size > 0)
        return Fail(kNetErrorInvalidParameter);
    bool paused;
    uint32_t error = 0;
    bool pending = false;
    {
        std::lock_guard lock(request->mutex);
        Exchange& exchange = request->exchange;
        if (exchange.pending != Pending::None || exchange.generation == 0)
            return Fail(kNetErrorIncorrectHandleState);
        if (context != 0)
            request->context = context;
        if (buffers == nullptr) {
            exchange.plainRead =
                NetBuffers{sizeof(NetBuffers), nullptr, nullptr, 0, 0, buffer, size, 0, 0, 0};
            buffers = &exchange.plainRead;
        }
        if (net::CompleteRead(exchange, *buffers, error)) {
            if (count != nullptr)
                *count = buffers->bufferLength;
        } else {
            exchange.pending = Pending::Read;
            exchange.readBuffers = buffers;
            exchange.readCount = count;
            pending = true;
        }
        paused = exchange.recvPaused && exchange.download.size() <= net::kDownloadResumeLevel;
    }
    ResumeIfPaused(request, paused);
    if (pending)
        return Fail(kNetErrorIoPending);
    return error == 0 ? Succeed() : Fail(error);
}

}  // namespace

bool NetReadFileEx(NetHandle handle, NetBuffers* buffers, uint32_t, uintptr_t context) {
    if (buffers == nullptr)
        return Fail(kNetErrorInvalidParameter);
    return ReadBody(handle, buffers, nullptr, 0, nullptr, context);
}

bool NetReadFile(NetHandle handle, void* buffer, uint32_t size, uint32_t* read) {
    if (read != nullptr)
        *read = 0;
    return ReadBody(handle, nullptr, buffer, size, read, 0);
}

// --- Queries -------------------------------------------------------------------------

namespace {

// Writes UTF-16 text with its terminator; *length in bytes, as NetQueryInfo counts.
bool PutText(const std::u16string& text, void* buffer, uint32_t* length) {
    uint32_t needed = static_cast<uint32_t>((text.size() + 1) * sizeof(char16_t));
    if (buffer == nullptr || *length < needed) {
        *length = needed;
        return Fail(kNetErrorInsufficientBuffer);
    }
    std::copy(text.begin(), text.end(), static_cast<char16_t*>(buffer));
    static_cast<char16_t*>(buffer)[text.size()] = 0;
    *length = needed - sizeof(char16_t);
    return Succeed();
}

bool PutNumber(const std::string& text, void* buffer, uint32_t* length) {
    int64_t value = ParseLength(text);
    if (value < 0 || value > UINT32_MAX)
        return Fail(kNetErrorHeaderNotFound);
    if (buffer == nullptr || *length < sizeof(uint32_t)) {
        *length = sizeof(uint32_t);
        return Fail(kNetErrorInsufficientBuffer);
    }
    uint32_t number = static_cast<uint32_t>(value);
    std::memcpy(buffer, &number, sizeof number);
    *length = sizeof number;
    return Succeed();
}

// Raw headers: every line terminated, the list ended by an empty line.
std::u16string RawHeaders(const net::HeaderBlock& block, bool crlf) {
    std::u16string text;
    for (const std::string& line : block.lines) {
        text += AnsiToWideText(line);
        text += crlf ? std::u16string(u"\r\n") : std::u16string(1, u'\0');
    }
    if (crlf)
        text += u"\r\n";
    return text;
}

const char* HeaderName(uint32_t level) {
    switch (level) {
        case kNetQueryContentType:
            return "Content-Type";
        case kNetQueryContentLength:
            return "Content-Length";
        case kNetQueryLocation:
            return "Location";
        case kNetQueryTransferEncoding:
            return "Transfer-Encoding";
        default:
            return nullptr;
    }
}

// The value of the index-th header of that name.
std::optional<std::string> HeaderValue(const net::HeaderBlock& block, std::string_view name,
                                       uint32_t index) {
    for (size_t i = 1; i < block.lines.size(); ++i) {
        std::string_view line = block.lines[i];
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || !SameName(Trim(line.substr(0, colon)), name))
            continue;
        if (index-- == 0)
            return std::string(Trim(line.substr(colon + 1)));
    }
    return std::nullopt;
}

// Before anything was sent, the request as it would go out.
net::HeaderBlock PlannedRequest(const Request& request) {
    net::HeaderBlock block;
    block.lines.push_back(request.method + " " + request.object +
                          (request.http10 ? " HTTP/1.0" : " HTTP/1.1"));
    for (const net::RequestHeader& header : request.headers)
        block.lines.push_back(header.name + ": " + header.value);
    return block;
}

bool QueryBlock(const net::HeaderBlock& block, uint32_t level, void* buffer, uint32_t* length,
                uint32_t* index) {
    bool number = (level & kNetQueryFlagNumber) != 0;
    uint32_t base = level & 0xFFFF;
    if (block.lines.empty())
        return Fail(kNetErrorHeaderNotFound);
    if (base == kNetQueryRawHeaders || base == kNetQueryRawHeadersCrlf) {
        // PutText's terminator is the empty line that closes the list.
        return PutText(RawHeaders(block, base == kNetQueryRawHeadersCrlf), buffer, length);
    }
    std::optional<std::string> value;
    if (base == kNetQueryStatusCode && block.status != 0)
        value = std::to_string(block.status);
    else if (base == kNetQueryStatusText && block.status != 0)
        value = block.statusText;
    else if (const char* name = HeaderName(base))
        value = HeaderValue(block, name, index != nullptr ? *index : 0);
    else if (base == kNetQueryCustom && buffer != nullptr)
        value = HeaderValue(block, Ansi(static_cast<const char16_t*>(buffer), *length / 2),
                            index != nullptr ? *index : 0);
    else if (base != kNetQueryStatusCode && base != kNetQueryStatusText && base != kNetQueryCustom)
        return Fail(kNetErrorInvalidParameter);
    if (!value)
        return Fail(kNetErrorHeaderNotFound);
    bool ok = number ? PutNumber(*value, buffer, length)
                     : PutText(AnsiToWideText(*value), buffer, length);
    if (ok && index != nullptr && HeaderName(base) != nullptr)
        ++*index;
    return ok;
}

}  // namespace

bool NetQueryInfo(NetHandle handle, uint32_t level, void* buffer, uint32_t* length,
                  uint32_t* index) {
    auto request = Lookup<Request>(handle, Kind::Request);
    if (!request)
        return false;
    if (length == nullptr)
        return Fail(kNetErrorInvalidParameter);
    std::lock_guard lock(request->mutex);
    const Exchange& exchange = request->exchange;
    if (level & kNetQueryFlagRequestHeaders) {
        const net::HeaderBlock& sent =
            exchange.sent.lines.empty() ? PlannedRequest(*request) : exchange.sent;
        return QueryBlock(sent, level & ~kNetQueryFlagRequestHeaders, buffer, length, index);
    }
    if (!exchange.finalHeaders)
        return Fail(kNetErrorHeaderNotFound);
    return QueryBlock(exchange.response, level, buffer, length, index);
}

// --- Options -------------------------------------------------------------------------

namespace {

bool ReadNumber(const void* buffer, uint32_t length, uint32_t& value) {
    if (buffer == nullptr || length != sizeof(uint32_t))
        return Fail(kNetErrorBadOptionLength);
    std::memcpy(&value, buffer, sizeof value);
    return true;
}

bool WriteNumber(uint32_t value, void* buffer, uint32_t* length) {
    if (buffer == nullptr || *length < sizeof value) {
        *length = sizeof value;
        return Fail(kNetErrorInsufficientBuffer);
    }
    std::memcpy(buffer, &value, sizeof value);
    *length = sizeof value;
    return Succeed();
}

// Texts of options count characters, the terminator included on the way out when needed.
bool WriteOptionText(const std::u16string& text, void* buffer, uint32_t* length) {
    if (buffer == nullptr || *length <= text.size()) {
        *length = static_cast<uint32_t>(text.size() + 1);
        return Fail(kNetErrorInsufficientBuffer);
    }
    std::copy(text.begin(), text.end(), static_cast<char16_t*>(buffer));
    static_cast<char16_t*>(buffer)[text.size()] = 0;
    *length = static_cast<uint32_t>(text.size());
    return Succeed();
}

// A PKCS#12 file is DER (a SEQUENCE, 0x30); everything else is taken for PEM.
bool LooksLikePkcs12(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char first = 0;
    return file.get(first) && static_cast<unsigned char>(first) == 0x30;
}

bool SetRequestOption(Request& request, uint32_t option, const void* buffer, uint32_t length) {
    if (option == kNetOptionSecurityFlags) {
        uint32_t flags;
        if (!ReadNumber(buffer, length, flags))
            return false;
        {
            std::lock_guard lock(request.mutex);
            request.securityFlags = flags;
        }
        // Accepting a problem pins the certificate it was seen with.
        uint32_t ignore = flags & (kNetSecurityIgnoreUnknownCa | kNetSecurityIgnoreCertCnInvalid |
                                   kNetSecurityIgnoreCertDateInvalid);
        if (ignore != 0)
            request.connect().tls->PinSeen(ignore);
        return Succeed();
    }
    std::string path = WideToNativePath(Wide(static_cast<const char16_t*>(buffer), length).c_str());
    bool pkcs12 = !path.empty() && LooksLikePkcs12(path);
    std::lock_guard lock(request.mutex);
    request.clientCertPath = path;
    request.clientCertIsPkcs12 = pkcs12;
    return Succeed();
}

}  // namespace

bool NetSetOption(NetHandle handle, uint32_t option, const void* buffer, uint32_t length) {
    std::shared_ptr<Object> object = Find(handle);
    if (!object)
        return Fail(kNetErrorInvalidHandle);
    switch (option) {
        case kNetOptionConnectTimeout:
        case kNetOptionReceiveTimeout: {
            uint32_t value;
            if (!ReadNumber(buffer, length, value))
                return false;
            std::lock_guard lock(object->mutex);
            (option == kNetOptionConnectTimeout ? object->options.connectTimeoutMs
                                                : object->options.receiveTimeoutMs) = value;
            return Succeed();
        }
        case kNetOptionUsername:
        case kNetOptionPassword:
        case kNetOptionProxyUsername:
        case kNetOptionProxyPassword: {
            std::string text =
                Ansi(static_cast<const char16_t*>(buffer), buffer != nullptr ? length : 0);
            std::lock_guard lock(object->mutex);
            net::Options& options = object->options;
            (option == kNetOptionUsername        ? options.user
             : option == kNetOptionPassword      ? options.password
             : option == kNetOptionProxyUsername ? options.proxyUser
                                                 : options.proxyPassword) = text;
            return Succeed();
        }
        case kNetOptionTrustedCaFile: {
            std::string path =
                WideToNativePath(Wide(static_cast<const char16_t*>(buffer), length).c_str());
            std::lock_guard lock(object->mutex);
            object->options.trustedCaFile = path;
            return Succeed();
        }
        case kNetOptionSecurityFlags:
        case kNetOptionClientCertContext:
            if (object->kind != Kind::Request)
                return Fail(kNetErrorIncorrectHandleType);
            return SetRequestOption(static_cast<Request&>(*object), option, buffer, length);
        default:
            return Fail(kNetErrorInvalidOption);
    }
}

bool NetQueryOption(NetHandle handle, uint32_t option, void* buffer, uint32_t* length) {
    std::shared_ptr<Object> object = Find(handle);
    if (!object)
        return Fail(kNetErrorInvalidHandle);
    if (length == nullptr)
        return Fail(kNetErrorInvalidParameter);
    if (option == kNetOptionSecurityFlags || option == kNetOptionSecurityCertificate) {
        if (object->kind != Kind::Request)
            return Fail(kNetErrorIncorrectHandleType);
        auto& request = static_cast<Request&>(*object);
        Connect& connect = request.connect();
        if (option == kNetOptionSecurityCertificate) {
            std::string description;
            {
                std::lock_guard lock(connect.tls->mutex);
                description = connect.tls->seenDescription;
            }
            if (description.empty())
                return Fail(kNetErrorInvalidOption);
            return WriteOptionText(Utf8ToWide(description), buffer, length);
        }
        std::lock_guard lock(request.mutex);
        bool secure = connect.secure || (request.flags & kNetFlagSecure) != 0;
        return WriteNumber(request.securityFlags | (secure ? kNetSecurityFlagSecure : 0), buffer,
                           length);
    }
    std::lock_guard lock(object->mutex);
    const net::Options& options = object->options;
    switch (option) {
        case kNetOptionConnectTimeout:
            return WriteNumber(options.connectTimeoutMs.value_or(net::kDefaultConnectTimeoutMs),
                               buffer, length);
        case kNetOptionReceiveTimeout:
            return WriteNumber(options.receiveTimeoutMs.value_or(net::kDefaultReceiveTimeoutMs),
                               buffer, length);
        case kNetOptionUsername:
            return WriteOptionText(AnsiToWideText(options.user.value_or("")), buffer, length);
        case kNetOptionPassword:
            return WriteOptionText(AnsiToWideText(options.password.value_or("")), buffer, length);
        case kNetOptionProxyUsername:
            return WriteOptionText(AnsiToWideText(options.proxyUser.value_or("")), buffer, length);
        case kNetOptionProxyPassword:
            return WriteOptionText(AnsiToWideText(options.proxyPassword.value_or("")), buffer,
                                   length);
        default:
            return Fail(kNetErrorInvalidOption);
    }
}

bool NetGetLastResponseInfo(uint32_t* error, char16_t* buffer, uint32_t* length) {
    if (length == nullptr)
        return Fail(kNetErrorInvalidParameter);
    uint32_t lastError = 0;
    std::string text;
    net::ReadResponseInfo(lastError, text);
    if (error != nullptr)
        *error = lastError;
    return WriteOptionText(Utf8ToWide(text), buffer, length);
}

// --- Closing -------------------------------------------------------------------------

namespace {

void CloseObject(const std::shared_ptr<Object>& object);

// The transfer stops on the worker; a pending call completes there as cancelled.
void CloseRequest(const std::shared_ptr<Request>& request) {
    std::optional<net::Notice> notice;
    {
        std::lock_guard lock(request->mutex);
        if (request->closed)
            return;
        request->closed = true;
        ++request->exchange.generation;
        if (request->exchange.pending != Pending::None) {
            request->exchange.pending = Pending::None;
            notice = net::Notice{request, kNetErrorOperationCancelled};
        }
    }
    request->connect().worker->Post([request, notice](net::Worker& worker) {
        worker.Release(*request);
        worker.Queue(notice);
    });
}

// Children first, each unregistered so that its handle is invalid from now on.
void CloseChildren(Object& parent) {
    std::vector<std::weak_ptr<Object>> children;
    {
        std::lock_guard lock(parent.mutex);
        parent.closed = true;
        children.swap(parent.children);
    }
    for (auto& weak : children) {
        if (std::shared_ptr<Object> child = weak.lock()) {
            if (Unregister(reinterpret_cast<NetHandle>(child->id)))
                CloseObject(child);
        }
    }
}

void CloseObject(const std::shared_ptr<Object>& object) {
    switch (object->kind) {
        case Kind::Request:
            CloseRequest(std::static_pointer_cast<Request>(object));
            break;
        case Kind::Connect:
            CloseChildren(*object);
            static_cast<Connect&>(*object).worker->Stop();
            break;
        case Kind::Session: {
            CloseChildren(*object);
            auto& session = static_cast<Session&>(*object);
            if (session.libraryStarted) {
                session.libraryStarted = false;
                ReleaseLibrary();
            }
            break;
        }
    }
}

}  // namespace

bool NetCloseHandle(NetHandle handle) {
    std::shared_ptr<Object> object = Unregister(handle);
    if (!object)
        return Fail(kNetErrorInvalidHandle);
    CloseObject(object);
    return Succeed();
}

}  // namespace vodarezazuv
