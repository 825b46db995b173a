// A scripted HTTP server on 127.0.0.1 for tests of the HTTP client: each test gives a
// handler that answers every request as the case needs (canned answers, chunked or huge
// bodies, stalls, dropped or reset connections, authentication challenges). Connections
// stay open for further requests until the handler closes them. The server records every
// request it was sent, with the body's length and hash rather than the body itself when
// it is large.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "test_certificates.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace testsupport {

// TLS for the server's connections: its certificate and whether it asks the client for one.
struct TlsIdentity {
    TestCertificate certificate;
    bool askClientCertificate = false;
};

struct Stream;

struct HttpRequest {
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::string> headerLines;  // as sent, without the request line
    std::string body;                      // the first kKeptBody bytes
    uint64_t bodyBytes = 0;
    uint64_t bodyHash = 0;          // FNV-1a of the whole body
    int connection = 0;             // the number of the connection it came on, from 1
    std::string clientCertificate;  // the common name of the client's certificate, if any

    static constexpr size_t kKeptBody = 1 << 20;
    // The value of the first header of that name (compared without case), or "".
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
};

uint64_t Fnv1a(uint64_t hash, const char* data, size_t size);
inline constexpr uint64_t kFnvStart = 14695981039346656037ull;

class LoopbackServer;

// How a handler answers one request.
class Reply {
  public:
    Reply(LoopbackServer& server, Stream& stream) : server_(server), stream_(stream) {}
    // Sends bytes as they are; false once the client is gone.
    bool Write(std::string_view bytes);
    // A complete answer with a Content-Length header.
    bool Respond(int status, std::string_view reason, std::vector<std::string> headers = {},
                 std::string_view body = {});
    // Headers only (the handler writes the body, or chunks with Chunk).
    bool Head(int status, std::string_view reason, std::vector<std::string> headers);
    bool Chunk(std::string_view data);  // an empty chunk ends the body
    // Blocks until the test releases stalls or the server stops.
    void Stall();
    void Close();  // an orderly end of the connection
    void Reset();  // an abortive one: the client sees a reset
    bool closed() const { return closed_; }

  private:
    LoopbackServer& server_;
    Stream& stream_;
    bool closed_ = false;
};

using Handler = std::function<void(const HttpRequest&, Reply&)>;

class LoopbackServer {
  public:
    explicit LoopbackServer(Handler handler, const TlsIdentity* tls = nullptr);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t port() const { return port_; }
    std::vector<HttpRequest> Requests() const;
    int Connections() const { return connections_; }
    // TLS with this identity for the connections accepted from now on.
    void UseTls(const TlsIdentity& tls);
    // Answers a request that expects "100 Continue" with this status at once, before its
    // body, and closes the connection (as servers refuse an upload they will not take).
    void RefuseBodies(int status) { refuseBodies_ = status; }
    // Reads no request body until stalls are released (a server that is slow to take it).
    void HoldBodies() { holdBodies_ = true; }
    // Ends every stall, now and later.
    void ReleaseStalls();
    // Blocks until a handler stalls (or the server stops); true when one did.
    bool WaitForStall();

  private:
    friend class Reply;
    void Accept();
    void Serve(int socket, int number);
    bool ReadRequest(Stream& stream, std::string& buffer, HttpRequest& request, Reply& reply);
    void Record(const HttpRequest& request);
    void WaitUntilReleased();

    Handler handler_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> connections_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<int> refuseBodies_{0};
    std::atomic<bool> holdBodies_{false};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    int stalls_ = 0;
    std::vector<HttpRequest> requests_;
    std::vector<int> sockets_;
    std::shared_ptr<SSL_CTX> tls_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

}  // namespace testsupport
