// The transfer thread of one connect handle. It owns a libcurl multi handle (and with it
// the connect's cache of kept-alive connections), runs every libcurl call of the connect's
// transfers, and delivers every notification. Other threads hand it commands.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/http_objects.h"

namespace vodarezazuv::net {

// Everything one exchange needs, taken from the handles when it is sent, so that the
// transfer thread reads no handle but its request's exchange.
struct TransferSettings {
    uint64_t generation = 0;
    std::string url;
    std::string method;
    bool http10 = false;
    bool withBody = false;
    int64_t bodyLength = -1;
    std::vector<std::string> serverHeaders;
    std::vector<std::string> proxyHeaders;
    std::string agent;
    std::string user;
    std::string password;
    uint32_t accessType = kNetOpenTypeDirect;
    std::string proxy;
    std::string proxyBypass;
    std::string proxyUser;
    std::string proxyPassword;
    uint32_t connectTimeoutMs = kDefaultConnectTimeoutMs;
    uint32_t receiveTimeoutMs = kDefaultReceiveTimeoutMs;
    bool secure = false;
    bool pinned = false;
    std::string clientCertPath;
    std::string trustedCaFile;  // empty: the system's trust store
    bool clientCertIsPkcs12 = false;
};

struct Transfer;

class Worker : public std::enable_shared_from_this<Worker> {
  public:
    static std::shared_ptr<Worker> Create(std::shared_ptr<TlsState> tls);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Runs command on the transfer thread, in the order posted.
    void Post(std::function<void(Worker&)> command);
    // Ends the thread after the commands posted so far; waits for it unless called on it.
    void Stop();

    // On the transfer thread only:
    void Start(const std::shared_ptr<Request>& request, const TransferSettings& settings);
    void Abort(Request& request, uint32_t error);
    void Release(Request& request);
    void Resume(Request& request);
    void Queue(std::optional<Notice> notice);
    bool OnThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  private:
    explicit Worker(std::shared_ptr<TlsState> tls);
    void Run();
    bool RunCommands();
    void Finish(void* easy, int code);
    void CheckStalls();
    void DeliverNotices();
    void Detach(Request& request);

    std::shared_ptr<TlsState> tls_;
    void* multi_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::function<void(Worker&)>> commands_;
    bool stopping_ = false;
    std::map<void*, std::unique_ptr<Transfer>> active_;
    std::vector<Notice> notices_;
};

}  // namespace vodarezazuv::net
