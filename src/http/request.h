// Running requests: the context shared between the client's status callback and the waiting
// thread, the primitives that start a client call and wait for its completion, and the
// closer thread by which an upload is aborted.
//
// Results of the primitives: 0 done (the request handle stays open), 1 failed with
// lastError (the caller closes the handle), 2 aborted by the user (the handle is closed
// already and must not be closed again).
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "http/connection.h"
#include "platform/event.h"
#include "platform/http_client.h"

namespace vodarezazuv {

enum RequestResult : int32_t {
    RequestDone = 0,
    RequestFailed = 1,
    RequestAborted = 2,
};

// One per request sequence of an operation, in its frame; its address is the context value
// of every request handle and call, so the callback finds it from that value alone. The
// callback writes lastError and createdHandle and then signals an event; the waiting thread
// reads them after the event, whose lock orders the accesses.
struct RequestContext {
    uint32_t lastError = 0;
    NetHandle createdHandle = nullptr;
    AutoResetEvent handleEvent;
    AutoResetEvent completeEvent;
    int32_t percentDone = 0;  // 0-100 as the operation knows it; 0: not given

    uintptr_t value() { return reinterpret_cast<uintptr_t>(this); }
};

// Request flags on top of the connection's: reads, and changes of the server.
inline constexpr uint32_t kReadRequestFlags = kNetFlagKeepConnection;
inline constexpr uint32_t kWriteRequestFlags = kNetFlagNoCacheWrite | kNetFlagKeepConnection;

// The slice of every wait, the quiet start of a wait and the pulse step, in milliseconds.
inline constexpr uint32_t kWaitSlice = 100;
inline constexpr uint32_t kQuietPeriod = 2000;
inline constexpr uint32_t kPulseStep = 500;

// Resets the context and its events and reports the connect handle's requests to it.
void BeginRequestContext(Connection& connection, RequestContext& context);
// Gives the connect handle back to IdleStatusCallback.
void EndRequestContext(Connection& connection, RequestContext& context);

// Begins the request context and ends it when the operation leaves, however it leaves (an
// exception of memory included), so that no callback is left pointing at a gone frame.
class RequestContextScope {
  public:
    RequestContextScope(Connection& connection, RequestContext& context)
        : connection_(connection), context_(context) {
        BeginRequestContext(connection_, context_);
    }
    ~RequestContextScope() { EndRequestContext(connection_, context_); }
    RequestContextScope(const RequestContextScope&) = delete;
    RequestContextScope& operator=(const RequestContextScope&) = delete;

  private:
    Connection& connection_;
    RequestContext& context_;
};

void RequestStatusCallback(NetHandle handle, uintptr_t context, uint32_t status, void* info,
                           uint32_t infoLength);

// A request handle, or nullptr (see lastError) when it cannot be opened or the user aborts
// a pending open. Referrer and accepted types are never given.
NetHandle OpenRequest(NetHandle connect, const char16_t* method, const char16_t* object,
                      const char16_t* version, uint32_t flags, RequestContext& context);

int32_t SendRequest(NetHandle request, const char16_t* headers, uint32_t headersLength,
                    const void* body, uint32_t bodyLength, RequestContext& context);
int32_t SendRequestEx(NetHandle request, const NetBuffers* in, uint32_t flags,
                      RequestContext& context);
int32_t EndRequest(NetHandle request, RequestContext& context);
// Reads up to size body bytes; *read is 0 at the end of the body (result 0) and on 1 or 2.
int32_t ReadResponse(NetHandle request, void* destination, uint32_t size, uint32_t* read,
                     RequestContext& context);
// Writes count body bytes; *written is count on result 0, else 0.
int32_t WriteRequestBody(NetHandle request, const void* data, uint32_t count, uint32_t* written,
                         RequestContext& context);

// Waits for completeEvent in slices; after the quiet period asks the host's progress
// callback with pulse + percentDone, and on an abort answer closes the request (result 2).
// A completion error is logged with "HTTP error: "; 12168 still counts as done.
int32_t WaitForCompletion(NetHandle request, RequestContext& context);

// The request handle an upload shares with its closer thread. The upload owns it for the
// whole transfer and joins the thread before it goes, so the thread never outlives it.
struct AbortTarget {
    std::atomic<NetHandle> handle{nullptr};
};

// The thread routine: after 100 ms takes the handle out of the target and closes it, which
// makes the pending or next write fail. There is no message queue to service afterwards, so
// the thread ends there.
void AbortCloserThread(AbortTarget* target);

// Runs AbortCloserThread on target; the destructor joins it, so the target (which must be
// declared before the closer) outlives the thread.
class AbortCloser {
  public:
    explicit AbortCloser(AbortTarget& target) : thread_(AbortCloserThread, &target) {}
    ~AbortCloser() { Join(); }
    AbortCloser(const AbortCloser&) = delete;
    AbortCloser& operator=(const AbortCloser&) = delete;
    void Join() {
        if (thread_.joinable())
            thread_.join();
    }

  private:
    std::thread thread_;
};

}  // namespace vodarezazuv
