// The objects behind the HTTP client's handles, shared by the interface functions (on the
// callers' threads) and the transfer thread of each connect handle.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/http_client.h"

namespace vodarezazuv::net {

class Worker;
struct TlsState;

enum class Kind { Session, Connect, Request };

// Options a handle may set; a request looks through its connect and session for the rest.
struct Options {
    std::optional<std::string> user;  // server credentials instead of the connect's
    std::optional<std::string> password;
    std::optional<std::string> proxyUser;
    std::optional<std::string> proxyPassword;
    std::optional<uint32_t> connectTimeoutMs;
    std::optional<uint32_t> receiveTimeoutMs;
    std::optional<std::string> trustedCaFile;  // a native path
};

struct Object {
    Object(Kind k, std::shared_ptr<Object> p) : kind(k), parent(std::move(p)) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    const Kind kind;
    const std::shared_ptr<Object> parent;
    uintptr_t id = 0;

    std::mutex mutex;  // guards everything below and, in a request, its exchange
    NetStatusCallback callback = nullptr;
    uintptr_t context = 0;
    Options options;
    bool closed = false;
    std::vector<std::weak_ptr<Object>> children;
};

struct Session : Object {
    Session() : Object(Kind::Session, nullptr) {}
    ~Session() override;
    std::string agent;
    uint32_t accessType = kNetOpenTypeDirect;
    std::string proxy;
    std::string proxyBypass;
    bool libraryStarted = false;
};

struct Connect : Object {
    explicit Connect(std::shared_ptr<Object> session) : Object(Kind::Connect, std::move(session)) {}
    ~Connect() override;
    std::string server;
    uint16_t port = 0;
    std::string user;
    std::string password;
    bool secure = false;
    std::shared_ptr<Worker> worker;  // the connect's transfer thread and connection cache
    std::shared_ptr<TlsState> tls;
};

// Bytes handed from one thread to another, bounded by the producer's checks.
class ByteQueue {
  public:
    size_t size() const { return data_.size() - start_; }
    void Append(const char* bytes, size_t count) { data_.append(bytes, count); }
    size_t Take(char* out, size_t count);
    void Clear() {
        data_.clear();
        start_ = 0;
    }

  private:
    std::string data_;
    size_t start_ = 0;
};

// What one response (or request) said: its first line and header lines.
struct HeaderBlock {
    std::vector<std::string> lines;  // the status or request line first
    uint32_t status = 0;
    std::string statusText;
};

enum class Pending { None, Send, SendEx, Write, End, Read };

// The state of the running or last exchange of a request, guarded by the request's mutex.
struct Exchange {
    uint64_t generation = 0;  // one per send; a late callback of an older one is ignored
    bool done = false;
    uint32_t doneError = 0;

    bool finalHeaders = false;
    bool tentativeHeaders = false;  // a 401/407 the client may still answer itself
    bool bodyWanted = false;
    bool connectPhase = false;  // a proxy's CONNECT answer is being read
    HeaderBlock response;
    HeaderBlock reading;    // the header block being received
    HeaderBlock proxyDeny;  // a refused CONNECT, given to the caller as its response
    HeaderBlock sent;       // the request's header block as last sent

    ByteQueue download;
    bool recvPaused = false;

    bool streaming = false;  // NetSendRequestEx: the body comes from NetWriteFile
    std::string fixedBody;   // NetSendRequest: the whole body
    size_t fixedOffset = 0;
    ByteQueue upload;
    bool uploadEnded = false;
    int64_t uploadDeclared = -1;
    uint64_t uploadAccepted = 0;
    bool sendPaused = false;
    std::chrono::steady_clock::time_point lastActivity{};

    Pending pending = Pending::None;
    NetBuffers* readBuffers = nullptr;
    uint32_t* readCount = nullptr;
    NetBuffers plainRead{};
    const char* writeData = nullptr;
    uint32_t writeLeft = 0;
    uint32_t writeTotal = 0;
    uint32_t* writeCount = nullptr;
};

struct RequestHeader {
    std::string name;
    std::string value;
};

struct Request : Object {
    explicit Request(std::shared_ptr<Object> connect) : Object(Kind::Request, std::move(connect)) {}
    ~Request() override;
    Connect& connect() const { return static_cast<Connect&>(*parent); }

    std::string method;
    std::string object;
    bool http10 = false;
    uint32_t flags = 0;
    std::vector<RequestHeader> headers;
    std::string clientCertPath;
    bool clientCertIsPkcs12 = false;
    uint32_t securityFlags = 0;
    // Held while a notification runs the callback, so that replacing the callback waits for
    // a delivery in progress (recursive: a callback may replace it itself).
    std::recursive_mutex delivery;

    Exchange exchange;
    void* easy = nullptr;  // the CURL handle; created, used and freed on the worker only
};

// A notification to deliver from the worker thread.
struct Notice {
    std::shared_ptr<Request> request;
    uint32_t error = 0;
};

// Hand-over limits: at most this much of a body waits between the threads (plus the one
// block libcurl holds while the transfer is paused). A paused download goes on once the
// caller has taken half of it: each pause and resume costs two thread hand-overs, so they
// come once per half megabyte, not once per read.
inline constexpr size_t kDownloadLimit = 1024 * 1024;
inline constexpr size_t kDownloadResumeLevel = kDownloadLimit / 2;
// The most libcurl hands over in one call of the body callback.
inline constexpr long kReceiveBlock = 256 * 1024;
// An upload likewise: a paused one goes on once a quarter of its buffer is filled (or the
// caller has to wait for room, or has given the whole body), so that the caller's small
// blocks do not each cost a pause and a resume of the transfer.
inline constexpr size_t kUploadLimit = 1024 * 1024;
inline constexpr size_t kUploadResumeLevel = kUploadLimit / 4;
// The most libcurl asks for in one call of the request body callback.
inline constexpr long kSendBlock = 256 * 1024;
inline constexpr uint32_t kDefaultConnectTimeoutMs = 60000;
inline constexpr uint32_t kDefaultReceiveTimeoutMs = 60000;

// Completes the request's pending call when its exchange allows it (called with the
// request's mutex held). The caller delivers the returned notice after unlocking.
std::optional<Notice> Settle(const std::shared_ptr<Request>& request);

// Copies buffered body bytes into a read's buffers; true when the read can complete.
bool CompleteRead(Exchange& exchange, NetBuffers& buffers, uint32_t& error);

// Calls the request's status callback with a request-complete notification.
void Deliver(const Notice& notice);

}  // namespace vodarezazuv::net
