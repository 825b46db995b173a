#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

namespace testsupport {

// One connection, plain or through TLS.
struct Stream {
    int socket = -1;
    SSL* ssl = nullptr;

    ssize_t Receive(char* data, size_t size) {
        if (ssl == nullptr)
            return ::recv(socket, data, size, 0);
        int got = SSL_read(ssl, data, static_cast<int>(size));
        return got > 0 ? got : -1;
    }
    ssize_t Send(const char* data, size_t size) {
        if (ssl == nullptr)
            return ::send(socket, data, size, MSG_NOSIGNAL);
        int sent = SSL_write(ssl, data, static_cast<int>(size));
        return sent > 0 ? sent : -1;
    }
};

namespace {

std::shared_ptr<SSL_CTX> MakeContext(const TlsIdentity& identity) {
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    BIO* certBio = BIO_new_mem_buf(identity.certificate.certificatePem.data(), -1);
    BIO* keyBio = BIO_new_mem_buf(identity.certificate.keyPem.data(), -1);
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    SSL_CTX_use_certificate(context.get(), cert);
    SSL_CTX_use_PrivateKey(context.get(), key);
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (identity.askClientCertificate) {
        // Any certificate will do: the test looks at which one came.
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                           [](int, X509_STORE_CTX*) { return 1; });
    }
    return context;
}

std::string PeerName(SSL* ssl) {
    X509* peer = SSL_get1_peer_certificate(ssl);
    if (peer == nullptr)
        return std::string();
    char name[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(peer), NID_commonName, name, sizeof name);
    X509_free(peer);
    return name;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Reads more bytes into buffer; false at the end of the connection.
bool Fill(Stream& socket, std::string& buffer) {
    char chunk[65536];
    ssize_t got = socket.Receive(chunk, sizeof chunk);
    if (got <= 0)
        return false;
    buffer.append(chunk, static_cast<size_t>(got));
    return true;
}

void Consume(HttpRequest& request, std::string& buffer, size_t count) {
    request.bodyHash = Fnv1a(request.bodyHash, buffer.data(), count);
    request.bodyBytes += count;
    size_t keep = std::min(
        count, HttpRequest::kKeptBody - std::min(HttpRequest::kKeptBody, request.body.size()));
    request.body.append(buffer, 0, keep);
    buffer.erase(0, count);
}

bool ReadFixedBody(Stream& socket, std::string& buffer, HttpRequest& request, uint64_t length) {
    while (length > 0) {
        if (buffer.empty() && !Fill(socket, buffer))
            return false;
        size_t take = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
        Consume(request, buffer, take);
        length -= take;
    }
    return true;
}

bool ReadLine(Stream& socket, std::string& buffer, std::string& line) {
    size_t end;
    while ((end = buffer.find("\r\n")) == std::string::npos) {
        if (!Fill(socket, buffer))
            return false;
    }
    line = buffer.substr(0, end);
    buffer.erase(0, end + 2);
    return true;
}

bool ReadChunkedBody(Stream& socket, std::string& buffer, HttpRequest& request) {
    std::string line;
    while (ReadLine(socket, buffer, line)) {
        uint64_t size = std::stoull(line, nullptr, 16);
        if (size == 0)
            return ReadLine(socket, buffer, line);
        if (!ReadFixedBody(socket, buffer, request, size) || !ReadLine(socket, buffer, line))
            return false;
    }
    return false;
}

}  // namespace

uint64_t Fnv1a(uint64_t hash, const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        hash ^= static_cast<unsigned char>(data[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string HttpRequest::Header(std::string_view name) const {
    for (const std::string& line : headerLines) {
        size_t colon = line.find(':');
        if (colon != std::string::npos && SameName(std::string_view(line).substr(0, colon), name)) {
            size_t start = line.find_first_not_of(' ', colon + 1);
            return start == std::string::npos ? std::string() : line.substr(start);
        }
    }
    return std::string();
}

bool HttpRequest::HasHeader(std::string_view name) const {
    return std::any_of(headerLines.begin(), headerLines.end(), [&](const std::string& line) {
        size_t colon = line.find(':');
        return colon != std::string::npos &&
               SameName(std::string_view(line).substr(0, colon), name);
    });
}

bool Reply::Write(std::string_view bytes) {
    while (!bytes.empty() && !closed_) {
        ssize_t sent = stream_.Send(bytes.data(), bytes.size());
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return !closed_;
}

bool Reply::Head(int status, std::string_view reason, std::vector<std::string> headers) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
    for (const std::string& header : headers)
        head += header + "\r\n";
    return Write(head + "\r\n");
}

bool Reply::Respond(int status, std::string_view reason, std::vector<std::string> headers,
                    std::string_view body) {
    headers.push_back("Content-Length: " + std::to_string(body.size()));
    return Head(status, reason, std::move(headers)) && Write(body);
}

bool Reply::Chunk(std::string_view data) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return Write(size) && Write(data) && Write("\r\n");
}

void Reply::Stall() {
    server_.WaitUntilReleased();
}

void Reply::Close() {
    if (!closed_)
        ::shutdown(stream_.socket, SHUT_RDWR);
    closed_ = true;
}

void Reply::Reset() {
    if (closed_)
        return;
    linger abortive{1, 0};
    // With linger 0 the close that ends Serve sends a reset instead of an orderly end.
    ::setsockopt(stream_.socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::shutdown(stream_.socket, SHUT_RD);
    closed_ = true;
}

LoopbackServer::LoopbackServer(Handler handler, const TlsIdentity* tls)
    : handler_(std::move(handler)) {
    ::signal(SIGPIPE, SIG_IGN);  // TLS writes to a closed connection must not end the tests
    if (tls != nullptr)
        UseTls(*tls);
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    ReleaseStalls();
    if (listener_ >= 0)
        ::shutdown(listener_, SHUT_RDWR);
    if (acceptor_.joinable())
        acceptor_.join();
    {
        std::lock_guard lock(mutex_);
        for (int socket : sockets_)
            ::shutdown(socket, SHUT_RDWR);
    }
    for (std::thread& thread : threads_)
        thread.join();
    if (listener_ >= 0)
        ::close(listener_);
}

std::vector<HttpRequest> LoopbackServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void LoopbackServer::UseTls(const TlsIdentity& tls) {
    std::shared_ptr<SSL_CTX> context = MakeContext(tls);
    std::lock_guard lock(mutex_);
    tls_ = std::move(context);
}

void LoopbackServer::ReleaseStalls() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

bool LoopbackServer::WaitForStall() {
    std::unique_lock lock(mutex_);
    // Bounded, so that a client that never gets so far fails the test instead of hanging it.
    changed_.wait_for(lock, std::chrono::seconds(20), [this] { return stalls_ > 0 || stopping_; });
    return stalls_ > 0;
}

void LoopbackServer::WaitUntilReleased() {
    std::unique_lock lock(mutex_);
    ++stalls_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
}

void LoopbackServer::Accept() {
    while (!stopping_) {
        int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            return;
        int number = ++connections_;
        int on = 1;  // answers go out in pieces; Nagle would hold them back
        ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::lock_guard lock(mutex_);
        sockets_.push_back(socket);
        threads_.emplace_back([this, socket, number] { Serve(socket, number); });
    }
}

void LoopbackServer::Serve(int socket, int number) {
    std::string buffer;
    Stream stream{socket, nullptr};
    std::shared_ptr<SSL_CTX> tls;
    {
        std::lock_guard lock(mutex_);
        tls = tls_;
    }
    std::string peer;
    if (tls) {
        stream.ssl = SSL_new(tls.get());
        SSL_set_fd(stream.ssl, socket);
        if (SSL_accept(stream.ssl) == 1)
            peer = PeerName(stream.ssl);
        else
            stream.socket = -1;  // refused by the client, or the other way round
    }
    Reply reply(*this, stream);
    HttpRequest request;
    while (stream.socket >= 0 && !stopping_ && !reply.closed() &&
           ReadRequest(stream, buffer, request, reply)) {
        request.connection = number;
        request.clientCertificate = peer;
        Record(request);
        handler_(request, reply);
        request = HttpRequest{};
    }
    {
        std::lock_guard lock(mutex_);
        std::erase(sockets_, socket);
    }
    if (stream.ssl != nullptr)
        SSL_free(stream.ssl);
    ::close(socket);
}

bool LoopbackServer::ReadRequest(Stream& socket, std::string& buffer, HttpRequest& request,
                                 Reply& reply) {
    std::string line;
    if (!ReadLine(socket, buffer, line))
        return false;
    size_t first = line.find(' ');
    size_t second = line.rfind(' ');
    if (first == std::string::npos || second == first)
        return false;
    request.method = line.substr(0, first);
    request.target = line.substr(first + 1, second - first - 1);
    request.version = line.substr(second + 1);
    while (ReadLine(socket, buffer, line) && !line.empty())
        request.headerLines.push_back(line);
    request.bodyHash = kFnvStart;
    if (SameName(request.Header("Expect"), "100-continue")) {
        if (int status = refuseBodies_; status != 0) {
            Record(request);
            reply.Respond(status, "Refused", {"Connection: close"});
            reply.Close();
            return false;
        }
        reply.Write("HTTP/1.1 100 Continue\r\n\r\n");
    }
    if (holdBodies_)
        WaitUntilReleased();
    if (SameName(request.Header("Transfer-Encoding"), "chunked"))
        return ReadChunkedBody(socket, buffer, request);
    std::string length = request.Header("Content-Length");
    return ReadFixedBody(socket, buffer, request, length.empty() ? 0 : std::stoull(length));
}

void LoopbackServer::Record(const HttpRequest& request) {
    std::lock_guard lock(mutex_);
    HttpRequest copy = request;
    requests_.push_back(std::move(copy));
}

}  // namespace testsupport
