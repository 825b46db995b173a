#include "http/request.h"

#include <chrono>

#include "http/errors.h"
#include "platform/clock.h"
#include "plugin/reporting.h"

namespace vodarezazuv {

namespace {

// Milliseconds from `from` to `to` on the wrapping tick count, negative when `to` is earlier.
int32_t TicksBetween(uint32_t from, uint32_t to) {
    return static_cast<int32_t>(to - from);
}

void Arm(RequestContext& context) {
    context.completeEvent.Reset();
    context.lastError = 0;
}

// The common tail of the primitives: done at once, pending (wait), or failed at once.
int32_t Finish(bool succeeded, NetHandle request, RequestContext& context) {
    uint32_t error = NetLastError();
    if (succeeded) {
        context.lastError = error;
        return RequestDone;
    }
    if (error == kNetErrorIoPending)
        return WaitForCompletion(request, context);
    context.lastError = error;
    return RequestFailed;
}

void CloseAborted(NetHandle request) {
    NetSetStatusCallback(request, IdleStatusCallback);
    NetCloseHandle(request);
}

}  // namespace

void BeginRequestContext(Connection& connection, RequestContext& context) {
    context.lastError = 0;
    context.createdHandle = nullptr;
    context.handleEvent.Reset();
    context.completeEvent.Reset();
    NetSetStatusCallback(connection.connectHandle, RequestStatusCallback);
}

void EndRequestContext(Connection& connection, RequestContext& context) {
    context.handleEvent.Reset();
    context.completeEvent.Reset();
    NetSetStatusCallback(connection.connectHandle, IdleStatusCallback);
}

void RequestStatusCallback(NetHandle, uintptr_t value, uint32_t status, void* info, uint32_t) {
    auto* context = reinterpret_cast<RequestContext*>(value);
    if (context == nullptr || info == nullptr)
        return;
    const auto* result = static_cast<const NetAsyncResult*>(info);
    switch (status) {
        case kNetStatusHandleCreated:
            context->createdHandle = reinterpret_cast<NetHandle>(result->result);
            context->lastError = result->error;
            context->handleEvent.Set();
            break;
        case kNetStatusRequestComplete:
            context->lastError = result->error;
            context->completeEvent.Set();
            break;
        default:
            break;
    }
}

NetHandle OpenRequest(NetHandle connect, const char16_t* method, const char16_t* object,
                      const char16_t* version, uint32_t flags, RequestContext& context) {
    context.handleEvent.Reset();
    context.completeEvent.Reset();
    NetHandle request =
        NetOpenRequest(connect, method, object, version, nullptr, nullptr, flags, context.value());
    if (request != nullptr) {
        context.lastError = 0;
        return request;
    }
    context.lastError = NetLastError();
    if (context.lastError != kNetErrorIoPending)
        return nullptr;
    // Pending: the handle-created notification brings the handle, the request-complete one
    // ends the open. An abort answer ends the wait only once a handle is at hand.
    for (;;) {
        if (context.completeEvent.Wait(kWaitSlice))
            return context.createdHandle;
        if (context.handleEvent.Wait(0))
            return nullptr;
        if (ReportProgress(0) != 0 && context.createdHandle != nullptr) {
            CloseAborted(context.createdHandle);
            return nullptr;
        }
    }
}

int32_t SendRequest(NetHandle request, const char16_t* headers, uint32_t headersLength,
                    const void* body, uint32_t bodyLength, RequestContext& context) {
    Arm(context);
    bool sent = NetSendRequest(request, headers, headersLength, body, bodyLength);
    return Finish(sent, request, context);
}

int32_t SendRequestEx(NetHandle request, const NetBuffers* in, uint32_t flags,
                      RequestContext& context) {
    Arm(context);
    bool started = NetSendRequestEx(request, in, nullptr, flags | 1u, context.value());
    return Finish(started, request, context);
}

int32_t EndRequest(NetHandle request, RequestContext& context) {
    Arm(context);
    bool ended = NetEndRequest(request, nullptr, 0, context.value());
    return Finish(ended, request, context);
}

int32_t ReadResponse(NetHandle request, void* destination, uint32_t size, uint32_t* read,
                     RequestContext& context) {
    Arm(context);
    NetBuffers buffers{};
    buffers.structSize = sizeof(NetBuffers);
    buffers.buffer = destination;
    buffers.bufferLength = size;
    bool done = NetReadFileEx(request, &buffers, kNetReadAsync, context.value());
    int32_t result = Finish(done, request, context);
    *read = result == RequestDone ? buffers.bufferLength : 0;
    return result;
}

int32_t WriteRequestBody(NetHandle request, const void* data, uint32_t count, uint32_t* written,
                         RequestContext& context) {
    Arm(context);
    uint32_t taken = 0;
    bool done = NetWriteFile(request, data, count, &taken);
    int32_t result = Finish(done, request, context);
    *written = result == RequestDone ? count : 0;
    return result;
}

int32_t WaitForCompletion(NetHandle request, RequestContext& context) {
    const uint32_t start = TickCount();
    const uint32_t deadline = start + kQuietPeriod;
    uint32_t mark = start;
    int32_t pulse = 0;
    bool over = false;
    bool succeeded = false;
    while (!over) {
        if (context.completeEvent.Wait(kWaitSlice)) {
            over = true;
            if (context.lastError != 0)
                ReportError(kHttpErrorPrefix, context.lastError);
            succeeded =
                context.lastError == 0 || context.lastError == kNetErrorRedirectNeedsConfirmation;
        }
        uint32_t now = TickCount();
        if (context.percentDone == 0) {
            if (TicksBetween(mark, now) > static_cast<int32_t>(kPulseStep)) {
                if (++pulse >= 100)
                    pulse = 0;
                mark = now;
            }
        } else {
            pulse = 0;
            mark = now;
        }
        if (TicksBetween(deadline, mark) > 0 && ReportProgress(pulse + context.percentDone) != 0) {
            CloseAborted(request);
            return RequestAborted;
        }
    }
    return succeeded ? RequestDone : RequestFailed;
}

void AbortCloserThread(AbortTarget* target) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSlice));
    NetHandle handle = target->handle.exchange(nullptr);
    if (handle != nullptr)
        NetCloseHandle(handle);
}

}  // namespace vodarezazuv
