#include "platform/linux/http_worker.h"

#include <curl/curl.h>

#include "platform/linux/http_errors.h"
#include "platform/linux/http_tls.h"
#include "platform/linux/http_transfer.h"

namespace vodarezazuv::net {

namespace {

using Clock = std::chrono::steady_clock;

// The longest the thread sleeps in libcurl: commands wake it at once, so this only bounds
// how late a stalled transfer is noticed.
constexpr int kPollSliceMs = 100;

CURLM* Multi(void* multi) {
    return static_cast<CURLM*>(multi);
}

}  // namespace

Worker::Worker(std::shared_ptr<TlsState> tls) : tls_(std::move(tls)) {}

std::shared_ptr<Worker> Worker::Create(std::shared_ptr<TlsState> tls) {
    std::shared_ptr<Worker> worker(new Worker(std::move(tls)));
    worker->multi_ = curl_multi_init();
    if (worker->multi_ == nullptr)
        return nullptr;
    try {
        // The thread holds the worker too: when it is stopped from its own thread (a status
        // callback closing the connect) it is left to end by itself.
        worker->thread_ = std::thread([self = worker] { self->Run(); });
    } catch (...) {
        curl_multi_cleanup(Multi(worker->multi_));
        worker->multi_ = nullptr;
        return nullptr;
    }
    return worker;
}

Worker::~Worker() {
    if (thread_.joinable())
        thread_.detach();  // only reached on the thread itself, after Stop
    if (multi_ != nullptr)
        curl_multi_cleanup(Multi(multi_));
}

void Worker::Post(std::function<void(Worker&)> command) {
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(std::move(command));
    }
    curl_multi_wakeup(Multi(multi_));
}

void Worker::Stop() {
    if (!thread_.joinable())
        return;
    Post([](Worker& worker) { worker.stopping_ = true; });
    if (OnThread())
        thread_.detach();
    else
        thread_.join();
}

void Worker::Run() {
    while (RunCommands()) {
        int running = 0;
        curl_multi_perform(Multi(multi_), &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(Multi(multi_), &left)) {
            if (message->msg == CURLMSG_DONE)
                Finish(message->easy_handle, message->data.result);
        }
        CheckStalls();
        DeliverNotices();
        curl_multi_poll(Multi(multi_), nullptr, 0, kPollSliceMs, nullptr);
    }
    while (!active_.empty())
        Abort(*active_.begin()->second->request, kNetErrorOperationCancelled);
    DeliverNotices();
}

bool Worker::RunCommands() {
    std::vector<std::function<void(Worker&)>> commands;
    {
        std::lock_guard lock(mutex_);
        commands.swap(commands_);
    }
    for (auto& command : commands)
        command(*this);
    return !stopping_;
}

void Worker::Start(const std::shared_ptr<Request>& request, const TransferSettings& settings) {
    Request& r = *request;
    {
        std::lock_guard lock(r.mutex);
        if (r.closed || r.exchange.generation != settings.generation)
            return;  // closed, or sent again before this one started
    }
    Detach(r);  // an earlier exchange still running: its connection is dropped
    if (r.easy == nullptr)
        r.easy = curl_easy_init();
    auto transfer = std::make_unique<Transfer>();
    transfer->request = request;
    transfer->worker = this;
    if (settings.secure)
        transfer->tls = tls_;
    auto* easy = static_cast<CURL*>(r.easy);
    bool started = easy != nullptr && ConfigureTransfer(easy, *transfer, settings) &&
                   curl_multi_add_handle(Multi(multi_), easy) == CURLM_OK;
    std::optional<Notice> notice;
    {
        std::lock_guard lock(r.mutex);
        if (started) {
            r.exchange.lastActivity = Clock::now();
        } else {
            r.exchange.done = true;
            r.exchange.doneError = kNetErrorNotEnoughMemory;
            notice = Settle(request);
        }
    }
    if (started)
        active_[easy] = std::move(transfer);
    Queue(std::move(notice));
}

void Worker::Detach(Request& request) {
    auto found = active_.find(request.easy);
    if (found == active_.end())
        return;
    curl_multi_remove_handle(Multi(multi_), static_cast<CURL*>(request.easy));
    active_.erase(found);
}

void Worker::Abort(Request& request, uint32_t error) {
    std::shared_ptr<Request> keep;
    auto found = active_.find(request.easy);
    if (found != active_.end())
        keep = found->second->request;
    uint64_t generation;
    {
        std::lock_guard lock(request.mutex);
        generation = request.exchange.generation;
    }
    Detach(request);
    if (!keep)
        return;
    std::optional<Notice> notice;
    {
        std::lock_guard lock(request.mutex);
        Exchange& exchange = request.exchange;
        if (exchange.generation == generation && !exchange.done) {
            exchange.done = true;
            exchange.doneError = error;
            notice = Settle(keep);
        }
    }
    Queue(std::move(notice));
}

void Worker::Release(Request& request) {
    Detach(request);
    if (request.easy != nullptr) {
        curl_easy_cleanup(static_cast<CURL*>(request.easy));
        request.easy = nullptr;
    }
}

void Worker::Resume(Request& request) {
    if (active_.find(request.easy) == active_.end())
        return;
    bool paused;
    {
        std::lock_guard lock(request.mutex);
        Exchange& exchange = request.exchange;
        paused = exchange.recvPaused || exchange.sendPaused;
        exchange.recvPaused = false;
        exchange.sendPaused = false;
        exchange.lastActivity = Clock::now();
    }
    // Outside the lock: libcurl hands over the held data from within this call.
    if (paused)
        curl_easy_pause(static_cast<CURL*>(request.easy), CURLPAUSE_CONT);
}

void Worker::Queue(std::optional<Notice> notice) {
    if (notice)
        notices_.push_back(std::move(*notice));
}

void Worker::Finish(void* easy, int code) {
    auto found = active_.find(easy);
    if (found == active_.end())
        return;
    std::unique_ptr<Transfer> transfer = std::move(found->second);
    active_.erase(found);
    curl_multi_remove_handle(Multi(multi_), static_cast<CURL*>(easy));

    TransferFailure failure;
    failure.curlCode = code;
    curl_easy_getinfo(static_cast<CURL*>(easy), CURLINFO_SSL_VERIFYRESULT, &failure.verifyResult);
    if (transfer->tls) {
        failure.tlsRefusal = transfer->tls->RefusalError();
        failure.clientCertWanted =
            !transfer->hasClientCert &&
            transfer->tls->ClientCertRequests() > transfer->clientCertRequestsAtStart;
    }
    Request& request = *transfer->request;
    std::optional<Notice> notice;
    {
        std::lock_guard lock(request.mutex);
        Exchange& exchange = request.exchange;
        if (exchange.generation != transfer->generation)
            return;
        exchange.done = true;
        exchange.doneError = 0;
        if (code != CURLE_OK && !exchange.finalHeaders && exchange.proxyDeny.status != 0) {
            // A proxy that refused the tunnel answers for the server, as over plain HTTP.
            exchange.response = std::move(exchange.proxyDeny);
        } else if (code != CURLE_OK) {
            exchange.doneError = MapTransferFailure(failure);
            if (exchange.doneError == kNetErrorExtended) {
                RecordResponseInfo(exchange.doneError,
                                   transfer->errorText[0] != 0
                                       ? transfer->errorText
                                       : curl_easy_strerror(static_cast<CURLcode>(code)));
            }
        }
        if (exchange.doneError == 0) {
            exchange.finalHeaders = true;
            exchange.tentativeHeaders = false;
        }
        notice = Settle(transfer->request);
    }
    Queue(std::move(notice));
}

void Worker::CheckStalls() {
    auto now = Clock::now();
    std::vector<std::shared_ptr<Request>> stalled;
    for (auto& [easy, transfer] : active_) {
        Request& request = *transfer->request;
        std::lock_guard lock(request.mutex);
        const Exchange& exchange = request.exchange;
        // Waiting for the caller (a full or an empty hand-over buffer) is no stall.
        if (exchange.recvPaused || exchange.sendPaused)
            continue;
        if (now - exchange.lastActivity > std::chrono::milliseconds(transfer->receiveTimeoutMs))
            stalled.push_back(transfer->request);
    }
    for (auto& request : stalled)
        Abort(*request, kNetErrorTimeout);
}

void Worker::DeliverNotices() {
    std::vector<Notice> notices;
    notices.swap(notices_);
    for (const Notice& notice : notices)
        Deliver(notice);
}

}  // namespace vodarezazuv::net
