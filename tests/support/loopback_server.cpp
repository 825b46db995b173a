#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

namespace testsupport {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Reads more bytes into buffer; false at the end of the connection.
bool Fill(int socket, std::string& buffer) {
    char chunk[65536];
    ssize_t got = ::recv(socket, chunk, sizeof chunk, 0);
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

bool ReadFixedBody(int socket, std::string& buffer, HttpRequest& request, uint64_t length) {
    while (length > 0) {
        if (buffer.empty() && !Fill(socket, buffer))
            return false;
        size_t take = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
        Consume(request, buffer, take);
        length -= take;
    }
    return true;
}

bool ReadLine(int socket, std::string& buffer, std::string& line) {
    size_t end;
    while ((end = buffer.find("\r\n")) == std::string::npos) {
        if (!Fill(socket, buffer))
            return false;
    }
    line = buffer.substr(0, end);
    buffer.erase(0, end + 2);
    return true;
}

bool ReadChunkedBody(int socket, std::string& buffer, HttpRequest& request) {
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
        ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
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
        ::shutdown(socket_, SHUT_RDWR);
    closed_ = true;
}

void Reply::Reset() {
    if (closed_)
        return;
    linger abortive{1, 0};
    ::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::shutdown(socket_, SHUT_RD);  // with linger 0, the close below sends a reset
    closed_ = true;
    // The socket is closed by Serve; a reset needs close() rather than shutdown(SHUT_WR).
}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
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
    Reply reply(*this, socket);
    HttpRequest request;
    while (!stopping_ && !reply.closed() && ReadRequest(socket, buffer, request, reply)) {
        request.connection = number;
        Record(request);
        handler_(request, reply);
        request = HttpRequest{};
    }
    {
        std::lock_guard lock(mutex_);
        std::erase(sockets_, socket);
    }
    ::close(socket);
}

bool LoopbackServer::ReadRequest(int socket, std::string& buffer, HttpRequest& request,
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
    if (SameName(request.Header("Expect"), "100-continue"))
        reply.Write("HTTP/1.1 100 Continue\r\n\r\n");
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
