#include "platform/linux/http_objects.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>

#include "platform/linux/http_worker.h"

namespace vodarezazuv::net {

namespace {

// A server that answered with an error before the whole body was sent: libcurl stops
// sending, so the rest of the body is dropped instead of waiting for room.
bool AnsweredEarly(const Exchange& exchange) {
    return exchange.done || (exchange.finalHeaders && exchange.response.status >= 300);
}

bool SettleWrite(Exchange& exchange, uint32_t& error) {
    if (exchange.done && exchange.doneError != 0) {
        error = exchange.doneError;
        return true;
    }
    if (exchange.writeLeft > 0 && !AnsweredEarly(exchange))
        return false;
    if (exchange.writeCount != nullptr)
        *exchange.writeCount = exchange.writeTotal;
    return true;
}

}  // namespace

Session::~Session() = default;

Connect::~Connect() {
    if (worker)
        worker->Stop();
}

Request::~Request() {
    // The worker frees the easy handle when the request is closed; this is for a request
    // whose connect's worker never ran.
    if (easy != nullptr)
        curl_easy_cleanup(static_cast<CURL*>(easy));
}

size_t ByteQueue::Take(char* out, size_t count) {
    size_t taken = std::min(count, size());
    if (taken > 0)
        std::memcpy(out, data_.data() + start_, taken);
    start_ += taken;
    if (start_ == data_.size()) {
        Clear();
    } else if (start_ > data_.size() / 2) {
        data_.erase(0, start_);
        start_ = 0;
    }
    return taken;
}

bool CompleteRead(Exchange& exchange, NetBuffers& buffers, uint32_t& error) {
    if (exchange.download.size() > 0 || buffers.bufferLength == 0) {
        size_t taken =
            exchange.download.Take(static_cast<char*>(buffers.buffer), buffers.bufferLength);
        buffers.bufferLength = static_cast<uint32_t>(taken);
        return true;
    }
    if (!exchange.done)
        return false;
    error = exchange.doneError;
    buffers.bufferLength = 0;
    return true;
}

std::optional<Notice> Settle(const std::shared_ptr<Request>& request) {
    Exchange& exchange = request->exchange;
    uint32_t error = 0;
    switch (exchange.pending) {
        case Pending::None:
            return std::nullopt;
        case Pending::Send:
        case Pending::End:
            if (!exchange.finalHeaders && !exchange.done)
                return std::nullopt;
            error = exchange.finalHeaders ? 0 : exchange.doneError;
            break;
        case Pending::SendEx:
            if (!exchange.bodyWanted && !exchange.finalHeaders && !exchange.done)
                return std::nullopt;
            error = exchange.bodyWanted || exchange.finalHeaders ? 0 : exchange.doneError;
            break;
        case Pending::Write:
            if (!SettleWrite(exchange, error))
                return std::nullopt;
            break;
        case Pending::Read:
            if (!CompleteRead(exchange, *exchange.readBuffers, error))
                return std::nullopt;
            if (exchange.readCount != nullptr)
                *exchange.readCount = error == 0 ? exchange.readBuffers->bufferLength : 0;
            break;
    }
    exchange.pending = Pending::None;
    exchange.readBuffers = nullptr;
    exchange.readCount = nullptr;
    exchange.writeData = nullptr;
    exchange.writeLeft = 0;
    exchange.writeCount = nullptr;
    return Notice{request, error};
}

void Deliver(const Notice& notice) {
    std::lock_guard delivering(notice.request->delivery);
    NetStatusCallback callback;
    uintptr_t context;
    {
        std::lock_guard lock(notice.request->mutex);
        callback = notice.request->callback;
        context = notice.request->context;
    }
    if (callback == nullptr)
        return;
    NetAsyncResult result{notice.error == 0 ? 1u : 0u, notice.error};
    callback(reinterpret_cast<NetHandle>(notice.request->id), context, kNetStatusRequestComplete,
             &result, sizeof result);
}

}  // namespace vodarezazuv::net
