#include "platform/http_client.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include "loopback_server.h"
#include "temp_dir.h"
#include "test_certificates.h"

namespace vodarezazuv {
namespace {

using namespace std::chrono_literals;
using testsupport::HttpRequest;
using testsupport::LoopbackServer;
using testsupport::Reply;
using testsupport::U16;
using testsupport::U8;

constexpr uint32_t kNoCompletion = 0xFFFFFFFF;

// Stands in for the transport's request context: the status callback records what arrives
// and wakes the waiting test, as the context's events do.
class Completion {
  public:
    static void Callback(NetHandle, uintptr_t context, uint32_t status, void* info,
                         uint32_t length) {
        auto* self = reinterpret_cast<Completion*>(context);
        std::lock_guard lock(self->mutex_);
        self->statuses_.push_back(status);
        self->threads_.push_back(std::this_thread::get_id());
        if (status == kNetStatusRequestComplete && length == sizeof(NetAsyncResult))
            self->errors_.push_back(static_cast<NetAsyncResult*>(info)->error);
        self->changed_.notify_all();
    }
    uintptr_t context() { return reinterpret_cast<uintptr_t>(this); }

    // The error of a call: 0 when it succeeded at once, its last error when it failed at
    // once, or the error its completion brought when it went pending.
    uint32_t Result(bool ok) {
        if (ok)
            return 0;
        uint32_t error = NetLastError();
        return error == kNetErrorIoPending ? Await() : error;
    }
    uint32_t Await() {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, 20s, [this] { return errors_.size() > used_; }))
            return kNoCompletion;
        return errors_[used_++];
    }
    size_t Notices() {
        std::lock_guard lock(mutex_);
        return statuses_.size();
    }
    std::vector<std::thread::id> Threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint32_t> statuses_;
    std::vector<uint32_t> errors_;
    std::vector<std::thread::id> threads_;
    size_t used_ = 0;
};

class HttpClientTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(NetStartup()); }
    void TearDown() override {
        for (auto it = handles_.rbegin(); it != handles_.rend(); ++it)
            NetCloseHandle(*it);
        NetCleanup();
    }

    NetHandle Keep(NetHandle handle) {
        EXPECT_NE(handle, nullptr) << "error " << NetLastError();
        handles_.push_back(handle);
        return handle;
    }
    NetHandle Session(uint32_t access = kNetOpenTypeDirect, const char16_t* proxy = nullptr) {
        return Keep(NetOpen(u"zuzodudiru", access, proxy, nullptr, kNetFlagAsync));
    }
    NetHandle Connect(uint16_t port, const char16_t* user = u"", const char16_t* password = u"",
                      NetHandle session = nullptr, const char16_t* server = u"127.0.0.1") {
        NetHandle connect = Keep(NetConnect(session != nullptr ? session : Session(), server, port,
                                            user, password, kNetServiceHttp, 0, 0));
        NetSetStatusCallback(connect, Completion::Callback);
        return connect;
    }
    NetHandle Open(NetHandle connect, const char16_t* method, const char16_t* object,
                   const char16_t* version = u"HTTP/1.1") {
        return Keep(NetOpenRequest(connect, method, object, version, nullptr, nullptr,
                                   kNetFlagKeepConnection, completion.context()));
    }
    uint32_t Send(NetHandle request, const char16_t* headers = nullptr, const char* body = nullptr,
                  uint32_t bodyLength = 0) {
        uint32_t length =
            headers != nullptr ? static_cast<uint32_t>(std::u16string(headers).size()) : 0;
        return completion.Result(NetSendRequest(request, headers, length, body, bodyLength));
    }
    // Reads the body in blocks of the given size until a read yields 0 bytes or fails.
    std::string ReadAll(NetHandle request, uint32_t block, uint32_t& error,
                        std::vector<uint32_t>* sizes = nullptr) {
        std::string body;
        std::vector<char> buffer(block);
        for (;;) {
            NetBuffers buffers{sizeof(NetBuffers), nullptr, nullptr, 0, 0,
                               buffer.data(),      block,   0,       0, 0};
            error = completion.Result(
                NetReadFileEx(request, &buffers, kNetReadAsync, completion.context()));
            if (error != 0)
                return body;
            if (sizes != nullptr)
                sizes->push_back(buffers.bufferLength);
            if (buffers.bufferLength == 0)
                return body;
            body.append(buffer.data(), buffers.bufferLength);
        }
    }
    std::string Query(NetHandle request, uint32_t level) {
        char16_t text[4096] = {};
        uint32_t length = sizeof text;
        if (!NetQueryInfo(request, level, text, &length, nullptr))
            return "<error " + std::to_string(NetLastError()) + ">";
        return U8(std::u16string(text, length / 2));
    }
    // Raw headers as lines: each terminated, the list ended by an empty one.
    std::vector<std::string> Lines(NetHandle request, uint32_t level) {
        char16_t text[4096];
        uint32_t length = sizeof text;
        std::vector<std::string> lines;
        if (!NetQueryInfo(request, level, text, &length, nullptr)) {
            ADD_FAILURE() << "error " << NetLastError();
            return lines;
        }
        size_t end = length / 2;
        EXPECT_TRUE(end > 0 && text[end - 1] == 0 && text[end] == 0) << "ends with an empty line";
        for (size_t start = 0; start < end;) {
            std::u16string line(text + start);
            lines.push_back(U8(line));
            start += line.size() + 1;
        }
        return lines;
    }

    Completion completion;

  private:
    std::vector<NetHandle> handles_;
};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// --- Exchanges ---------------------------------------------------------------------------

TEST_F(HttpClientTest, GetReadsTheBodyInTheCallersBlocksAndEndsWithAnEmptyRead) {
    std::string body(20000, 'x');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>('a' + i % 26);
    LoopbackServer server([&](const HttpRequest&, Reply& reply) {
        reply.Respond(200, "OK", {"X-Custom: one"}, body);
    });
    NetHandle request = Open(Connect(server.port()), u"GET", u"/dav/a%20b.txt", u"HTTP/1.0");
    ASSERT_EQ(Send(request), 0u);

    uint32_t error = 0;
    std::vector<uint32_t> sizes;
    EXPECT_EQ(ReadAll(request, 8192, error, &sizes), body);
    EXPECT_EQ(error, 0u);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.back(), 0u);
    for (uint32_t size : sizes)
        EXPECT_LE(size, 8192u);
    EXPECT_EQ(Send(request), 0u) << "a request handle can be sent again";
    EXPECT_EQ(ReadAll(request, 32768, error), body);
}

TEST_F(HttpClientTest, QueriesGiveStatusReasonHeadersAndTheRequestAsSent) {
    LoopbackServer server([](const HttpRequest&, Reply& reply) {
        reply.Respond(301, "Moved Permanently",
                      {"Location: http://127.0.0.1/new/", "Set-Cookie: a=1", "Set-Cookie: b=2"});
    });
    uint16_t port = server.port();
    NetHandle request = Open(Connect(port), u"PROPFIND", u"/dav/dir/");
    ASSERT_TRUE(NetAddRequestHeaders(request, u"Depth: 1\r\nContent-type: text/xml\r\n", UINT32_MAX,
                                     kNetAddHeaderAdd | kNetAddHeaderReplace));
    EXPECT_EQ(Query(request, kNetQueryStatusCode), "<error 12150>") << "nothing received yet";
    ASSERT_EQ(Send(request), 0u);

    EXPECT_EQ(Query(request, kNetQueryStatusCode), "301");
    EXPECT_EQ(Query(request, kNetQueryStatusText), "Moved Permanently");
    EXPECT_EQ(Query(request, kNetQueryLocation), "http://127.0.0.1/new/")
        << "redirects are not followed";
    uint32_t number = 0, length = sizeof number;
    ASSERT_TRUE(NetQueryInfo(request, kNetQueryStatusCode | kNetQueryFlagNumber, &number, &length,
                             nullptr));
    EXPECT_EQ(number, 301u);

    std::vector<std::string> response = Lines(request, kNetQueryRawHeaders);
    ASSERT_GE(response.size(), 3u);
    EXPECT_EQ(response[0], "HTTP/1.1 301 Moved Permanently");
    EXPECT_TRUE(Contains(response, "Set-Cookie: b=2"));

    std::vector<std::string> sent =
        Lines(request, kNetQueryRawHeaders | kNetQueryFlagRequestHeaders);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], "PROPFIND /dav/dir/ HTTP/1.1");
    EXPECT_TRUE(Contains(sent, "Host: 127.0.0.1:" + std::to_string(port)));
    EXPECT_TRUE(Contains(sent, "User-Agent: zuzodudiru"));
    EXPECT_TRUE(Contains(sent, "Depth: 1"));
    for (const std::string& line : sent)
        EXPECT_NE(line.rfind("Accept:", 0), 0u) << "no Accept line unless asked for";

    uint32_t index = 0;
    char16_t text[64];
    length = sizeof text;
    std::u16string name = u"Set-Cookie";
    std::copy(name.begin(), name.end(), text);
    length = static_cast<uint32_t>(name.size() * 2);
    text[name.size()] = 0;
    length = sizeof text;
    ASSERT_TRUE(NetQueryInfo(request, kNetQueryCustom, text, &length, &index));
    EXPECT_EQ(U8(text), "a=1");

    uint32_t tooSmall = 4;
    EXPECT_FALSE(NetQueryInfo(request, kNetQueryRawHeaders, text, &tooSmall, nullptr));
    EXPECT_EQ(NetLastError(), kNetErrorInsufficientBuffer);
    EXPECT_EQ(tooSmall, (Query(request, kNetQueryRawHeaders).size() + 1) * 2) << "the bytes needed";
}

TEST_F(HttpClientTest, CallsGoPendingAndCompleteFromTheClientsThreadWithTheContext) {
    LoopbackServer server(
        [](const HttpRequest&, Reply& reply) { reply.Respond(200, "OK", {}, "hello"); });
    NetHandle request = Open(Connect(server.port()), u"GET", u"/");
    EXPECT_FALSE(NetSendRequest(request, nullptr, 0, nullptr, 0));
    EXPECT_EQ(NetLastError(), kNetErrorIoPending);
    EXPECT_EQ(completion.Await(), 0u);
    uint32_t error = 0;
    EXPECT_EQ(ReadAll(request, 64, error), "hello");
    ASSERT_GE(completion.Notices(), 1u);
    for (std::thread::id id : completion.Threads())
        EXPECT_NE(id, std::this_thread::get_id()) << "notifications never come from the caller";
}

TEST_F(HttpClientTest, SendingAgainReusesTheKeptAliveConnection) {
    LoopbackServer server([](const HttpRequest& request, Reply& reply) {
        reply.Respond(200, "OK", {}, request.target);
    });
    NetHandle connect = Connect(server.port());
    NetHandle first = Open(connect, u"GET", u"/one");
    uint32_t error = 0;
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(Send(first), 0u);
        EXPECT_EQ(ReadAll(first, 8192, error), "/one");
    }
    NetHandle second = Open(connect, u"DELETE", u"/two");
    ASSERT_EQ(Send(second), 0u);
    EXPECT_EQ(ReadAll(second, 8192, error), "/two");
    EXPECT_EQ(server.Requests().size(), 4u);
    EXPECT_EQ(server.Connections(), 1) << "requests of one connect share its connections";
}

TEST_F(HttpClientTest, ChunkedBodiesArriveDecoded) {
    LoopbackServer server([](const HttpRequest&, Reply& reply) {
        reply.Head(200, "OK", {"Transfer-Encoding: chunked"});
        reply.Chunk("<?xml ");
        reply.Chunk(std::string(10000, 'c'));
        reply.Chunk("");
    });
    NetHandle request = Open(Connect(server.port()), u"GET", u"/");
    ASSERT_EQ(Send(request), 0u);
    uint32_t error = 0;
    EXPECT_EQ(ReadAll(request, 8192, error), "<?xml " + std::string(10000, 'c'));
    EXPECT_EQ(error, 0u);
}

TEST_F(HttpClientTest, HeadersAreAddedReplacedAndRemovedAsAsked) {
    LoopbackServer server(
        [](const HttpRequest&, Reply& reply) { reply.Respond(204, "No Content"); });
    NetHandle request = Open(Connect(server.port()), u"MKCOL", u"/new/");
    const uint32_t addOrReplace = kNetAddHeaderAdd | kNetAddHeaderReplace;
    ASSERT_TRUE(NetAddRequestHeaders(request, u"X-A: 1\r\nX-B: 2\r\n", UINT32_MAX, addOrReplace));
    ASSERT_TRUE(NetAddRequestHeaders(request, u"x-a: 3", UINT32_MAX, addOrReplace));
    ASSERT_TRUE(NetAddRequestHeaders(request, u"X-B:", UINT32_MAX, kNetAddHeaderReplace));
    EXPECT_FALSE(NetAddRequestHeaders(request, u"X-A: 4", UINT32_MAX, kNetAddHeaderAddIfNew));
    EXPECT_EQ(NetLastError(), kNetErrorHeaderAlreadyExists);
    EXPECT_FALSE(NetAddRequestHeaders(request, u"no colon", UINT32_MAX, addOrReplace));
    ASSERT_EQ(Send(request, u"X-C: 5\r\n"), 0u);
    ASSERT_EQ(server.Requests().size(), 1u);
    HttpRequest seen = server.Requests()[0];
    EXPECT_EQ(seen.Header("X-A"), "3");
    EXPECT_FALSE(seen.HasHeader("X-B"));
    EXPECT_EQ(seen.Header("X-C"), "5");
}

// --- Bounded bodies ------------------------------------------------------------------------

size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

constexpr uint64_t kHugeBody = 50ull << 20;
constexpr size_t kAllowedGrowth = 24u << 20;  // well below the body: nothing collects it

TEST_F(HttpClientTest, AHugeDownloadStreamsThroughBoundedMemory) {
    std::promise<void> allWritten;
    LoopbackServer server([&](const HttpRequest&, Reply& reply) {
        reply.Head(200, "OK", {"Content-Length: " + std::to_string(kHugeBody)});
        std::string block(1 << 16, 'd');
        for (uint64_t sent = 0; sent < kHugeBody && reply.Write(block); sent += block.size()) {
        }
        allWritten.set_value();
    });
    NetHandle request = Open(Connect(server.port()), u"GET", u"/huge");
    size_t before = ResidentBytes();
    ASSERT_EQ(Send(request), 0u);
    // Nobody reads yet: a client that takes no more than it can hand over stops the server
    // long before the end of the body. The wait is for something that must not happen.
    EXPECT_EQ(allWritten.get_future().wait_for(1s), std::future_status::timeout)
        << "the client took the whole body";
    size_t peak = ResidentBytes();
    uint64_t total = 0;
    std::vector<char> buffer(32768);
    for (int reads = 0;; ++reads) {
        NetBuffers buffers{sizeof(NetBuffers), nullptr, nullptr, 0, 0,
                           buffer.data(),      32768,   0,       0, 0};
        ASSERT_EQ(completion.Result(
                      NetReadFileEx(request, &buffers, kNetReadAsync, completion.context())),
                  0u);
        if (buffers.bufferLength == 0)
            break;
        total += buffers.bufferLength;
        if (reads % 64 == 0)
            peak = std::max(peak, ResidentBytes());
    }
    EXPECT_EQ(total, kHugeBody);
    EXPECT_LT(peak - before, kAllowedGrowth);
}

TEST_F(HttpClientTest, AStreamedPutSendsAHugeBodyThroughBoundedMemory) {
    LoopbackServer server([](const HttpRequest&, Reply& reply) { reply.Respond(201, "Created"); });
    server.HoldBodies();
    NetHandle request = Open(Connect(server.port()), u"PUT", u"/upload.bin");
    ASSERT_TRUE(NetAddRequestHeaders(request,
                                     (u"Content-Length: " + U16(std::to_string(kHugeBody))).c_str(),
                                     UINT32_MAX, kNetAddHeaderAdd | kNetAddHeaderReplace));
    ASSERT_EQ(
        completion.Result(NetSendRequestEx(request, nullptr, nullptr, 8, completion.context())),
        0u);
    std::vector<char> block(8192);
    uint64_t hash = testsupport::kFnvStart;
    size_t before = ResidentBytes(), peak = before;
    bool held = true;
    for (uint64_t sent = 0; sent < kHugeBody; sent += block.size()) {
        for (size_t i = 0; i < block.size(); i += 512)
            block[i] = static_cast<char>(sent / 8192 + i);
        hash = testsupport::Fnv1a(hash, block.data(), block.size());
        uint32_t written = 0;
        bool done = NetWriteFile(request, block.data(), 8192, &written);
        if (held && !done) {
            // The server takes nothing yet: the client must stop taking bytes early.
            held = false;
            EXPECT_LT(sent, kAllowedGrowth) << "the client kept taking while nothing was sent";
            server.ReleaseStalls();
        }
        ASSERT_EQ(completion.Result(done), 0u);
        if (sent % (4 << 20) == 0)
            peak = std::max(peak, ResidentBytes());
    }
    EXPECT_FALSE(held) << "some write had to wait";
    ASSERT_EQ(completion.Result(NetEndRequest(request, nullptr, 0, completion.context())), 0u);
    EXPECT_EQ(Query(request, kNetQueryStatusCode), "201");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].bodyBytes, kHugeBody);
    EXPECT_EQ(server.Requests()[0].bodyHash, hash) << "every byte in order";
    EXPECT_LT(peak - before, kAllowedGrowth);
}

TEST_F(HttpClientTest, OneRequestHandleCarriesTheStepsOfAnUpload) {
    LoopbackServer server([](const HttpRequest& request, Reply& reply) {
        reply.Respond(request.bodyBytes == 1 ? 401 : 201, "Done", {}, "ignored body");
    });
    NetHandle request = Open(Connect(server.port()), u"PUT", u"/file.txt");
    ASSERT_TRUE(NetAddRequestHeaders(request, u"Content-type: application/octet-stream\r\n",
                                     UINT32_MAX, kNetAddHeaderAdd | kNetAddHeaderReplace));
    ASSERT_EQ(Send(request, nullptr, "1", 1), 0u);
    EXPECT_EQ(Query(request, kNetQueryStatusCode), "401");
    uint32_t error = 0;
    ReadAll(request, 64, error);

    ASSERT_TRUE(NetAddRequestHeaders(request, u"Content-Length: 5\r\n", UINT32_MAX,
                                     kNetAddHeaderAdd | kNetAddHeaderReplace));
    NetBuffers in{sizeof(NetBuffers), nullptr, nullptr, 0, 0, nullptr, 0, 5, 0, 0};
    ASSERT_EQ(completion.Result(NetSendRequestEx(request, &in, nullptr, 8, completion.context())),
              0u);
    uint32_t written = 0;
    ASSERT_EQ(completion.Result(NetWriteFile(request, "hello", 5, &written)), 0u);
    EXPECT_EQ(written, 5u);
    EXPECT_FALSE(NetWriteFile(request, "!", 1, &written)) << "more than the declared length";
    ASSERT_EQ(completion.Result(NetEndRequest(request, nullptr, 0, completion.context())), 0u);
    EXPECT_EQ(Query(request, kNetQueryStatusCode), "201");

    std::vector<HttpRequest> seen = server.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].body, "1");
    EXPECT_EQ(seen[0].Header("Content-Length"), "1");
    EXPECT_EQ(seen[1].body, "hello");
    EXPECT_EQ(seen[1].Header("Content-Length"), "5");
    EXPECT_EQ(seen[1].Header("Content-type"), "application/octet-stream");
}

TEST_F(HttpClientTest, AnUploadRefusedBeforeItsBodyEndsWithTheServersAnswer) {
    LoopbackServer server([](const HttpRequest&, Reply& reply) { reply.Respond(201, "Created"); });
    server.RefuseBodies(413);
    NetHandle request = Open(Connect(server.port()), u"PUT", u"/big.bin");
    constexpr uint32_t kSize = 4 << 20;  // large enough for libcurl to ask for 100 Continue
    NetBuffers in{sizeof(NetBuffers), nullptr, nullptr, 0, 0, nullptr, 0, kSize, 0, 0};
    ASSERT_EQ(completion.Result(NetSendRequestEx(request, &in, nullptr, 8, completion.context())),
              0u);
    std::vector<char> block(8192, 'b');
    for (uint32_t sent = 0; sent < kSize; sent += 8192) {
        uint32_t written = 0;
        ASSERT_EQ(completion.Result(NetWriteFile(request, block.data(), 8192, &written)), 0u)
            << "the rest of the body is dropped, not waited for";
    }
    ASSERT_EQ(completion.Result(NetEndRequest(request, nullptr, 0, completion.context())), 0u);
    EXPECT_EQ(Query(request, kNetQueryStatusCode), "413");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].bodyBytes, 0u);
}

// --- Closing and cancelling ----------------------------------------------------------------

// A close from another thread ends the wait of a pending call at once with a cancel error;
// the handle is unusable afterwards.
void ExpectCloseCancels(Completion& completion, NetHandle request, LoopbackServer& server,
                        bool pending) {
    ASSERT_TRUE(pending);
    ASSERT_TRUE(server.WaitForStall());
    auto start = std::chrono::steady_clock::now();
    std::thread closer([request] { NetCloseHandle(request); });
    uint32_t error = completion.Await();
    auto waited = std::chrono::steady_clock::now() - start;
    closer.join();
    EXPECT_EQ(error, kNetErrorOperationCancelled);
    EXPECT_LT(waited, 1s) << "promptly, not after a time-out";
    char byte;
    uint32_t read = 0;
    EXPECT_FALSE(NetReadFile(request, &byte, 1, &read));
    EXPECT_EQ(NetLastError(), kNetErrorInvalidHandle);
}

TEST_F(HttpClientTest, ClosingFromAnotherThreadCancelsAStalledSend) {
    LoopbackServer server([](const HttpRequest&, Reply& reply) { reply.Stall(); });
    NetHandle request = NetOpenRequest(Connect(server.port()), u"PROPFIND", u"/", u"HTTP/1.1",
                                       nullptr, nullptr, 0, completion.context());
    bool pending =
        !NetSendRequest(request, nullptr, 0, nullptr, 0) && NetLastError() == kNetErrorIoPending;
    ExpectCloseCancels(completion, request, server, pending);
}

TEST_F(HttpClientTest, ClosingFromAnotherThreadCancelsAStalledRead) {
    LoopbackServer server([](const HttpRequest&, Reply& reply) {
        reply.Head(200, "OK", {"Content-Length: 100000"});
        reply.Write("first bytes");
        reply.Stall();
    });
    NetHandle request = NetOpenRequest(Connect(server.port()), u"GET", u"/", u"HTTP/1.1", nullptr,
                                       nullptr, 0, completion.context());
    ASSERT_EQ(Send(request), 0u);
    std::vector<char> buffer(8192);
    NetBuffers buffers{sizeof(NetBuffers), nullptr, nullptr, 0, 0, buffer.data(), 8192, 0, 0, 0};
    uint32_t error =
        completion.Result(NetReadFileEx(request, &buffers, kNetReadAsync, completion.context()));
    ASSERT_EQ(error, 0u);
    EXPECT_EQ(std::string(buffer.data(), buffers.bufferLength), "first bytes");
    buffers.bufferLength = 8192;
    bool pending = !NetReadFileEx(request, &buffers, kNetReadAsync, completion.context()) &&
                   NetLastError() == kNetErrorIoPending;
    ExpectCloseCancels(completion, request, server, pending);
}

TEST_F(HttpClientTest, ClosingAConnectClosesItsRequests) {
    LoopbackServer server([](const HttpRequest&, Reply& reply) { reply.Stall(); });
    NetHandle connect =
        NetConnect(Session(), u"127.0.0.1", server.port(), u"", u"", kNetServiceHttp, 0, 0);
    NetSetStatusCallback(connect, Completion::Callback);
    NetHandle request =
        NetOpenRequest(connect, u"GET", u"/", nullptr, nullptr, nullptr, 0, completion.context());
    EXPECT_FALSE(NetSendRequest(request, nullptr, 0, nullptr, 0));
    ASSERT_TRUE(server.WaitForStall());
    EXPECT_TRUE(NetCloseHandle(connect));
    EXPECT_EQ(completion.Await(), kNetErrorOperationCancelled);
    EXPECT_FALSE(NetCloseHandle(request)) << "closed with its connect";
    EXPECT_EQ(NetLastError(), kNetErrorInvalidHandle);
}

// --- Failures as WinINet numbers -----------------------------------------------------------

uint16_t RefusingPort() {
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);  // nothing listens there now
    return ntohs(address.sin_port);
}

struct FailureCase {
    const char* name;
    testsupport::Handler handler;  // nullptr: no server at all
    const char16_t* server;
    bool duringBody;  // the failure comes while reading, after the headers
    uint32_t expected;
};

TEST_F(HttpClientTest, FailuresBecomeTheWinInetNumbersTheTransportInterprets) {
    const FailureCase cases[] = {
        // nothing listens on the port
        {"refused", nullptr, u"127.0.0.1", false, kNetErrorCannotConnect},
        // a name no resolver can give (empty label): fails without asking the network
        {"unresolvable", nullptr, u"a..b", false, kNetErrorNameNotResolved},
        // the server takes the request and never answers: the shortened receive time-out
        {"stalled", [](const HttpRequest&, Reply& reply) { reply.Stall(); }, u"127.0.0.1", false,
         kNetErrorTimeout},
        // the body stops coming: the same time-out, while reading
        {"stalled body",
         [](const HttpRequest&, Reply& reply) {
             reply.Head(200, "OK", {"Content-Length: 5000"});
             reply.Write("partial");
             reply.Stall();
         },
         u"127.0.0.1", true, kNetErrorTimeout},
        // the server closes in the middle of the body
        {"dropped",
         [](const HttpRequest&, Reply& reply) {
             reply.Head(200, "OK", {"Content-Length: 5000"});
             reply.Write("partial");
             reply.Close();
         },
         u"127.0.0.1", true, kNetErrorConnectionAborted},
        // the server resets the connection in the middle of the body
        {"reset",
         [](const HttpRequest&, Reply& reply) {
             reply.Head(200, "OK", {"Content-Length: 5000"});
             reply.Write("partial");
             reply.Reset();
         },
         u"127.0.0.1", true, kNetErrorConnectionReset},
        // the server closes without any answer
        {"no answer", [](const HttpRequest&, Reply& reply) { reply.Close(); }, u"127.0.0.1", false,
         kNetErrorConnectionAborted},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<LoopbackServer> server;
        uint16_t port = RefusingPort();
        if (c.handler) {
            server = std::make_unique<LoopbackServer>(c.handler);
            port = server->port();
        }
        NetHandle session = Session();
        uint32_t shortWait = 300;
        ASSERT_TRUE(NetSetOption(session, kNetOptionReceiveTimeout, &shortWait, sizeof shortWait));
        NetHandle request = Open(Connect(port, u"", u"", session, c.server), u"GET", u"/");
        auto start = std::chrono::steady_clock::now();
        uint32_t error = Send(request);
        if (c.duringBody) {
            ASSERT_EQ(error, 0u);
            ReadAll(request, 8192, error);
        }
        EXPECT_EQ(error, c.expected);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        if (server)
            server->ReleaseStalls();
    }
}

TEST_F(HttpClientTest, AFailureWithoutABetterNumberIsExtendedWithLibcurlsWords) {
    NetHandle request = Open(Connect(80, u"", u"", nullptr, u"bad host"), u"GET", u"/");
    EXPECT_EQ(Send(request), kNetErrorExtended);
    uint32_t error = 0;
    char16_t text[512];
    uint32_t length = 512;
    ASSERT_TRUE(NetGetLastResponseInfo(&error, text, &length));
    EXPECT_EQ(error, kNetErrorExtended);
    EXPECT_GT(length, 0u);
    EXPECT_EQ(std::u16string(text).size(), length);
}

// A callback still running when the request's callback is replaced: the replacement waits
// for it, so the caller may free the old context afterwards. The callback holds on until the
// replacement has returned or 300 ms have passed; it must find it not yet returned.
struct SlowCallback {
    static inline std::promise<void> entered;
    static inline std::promise<void> left;
    static inline std::atomic<bool> replaced{false};
    static inline std::mutex mutex;
    static inline std::condition_variable changed;
    static inline bool sawReplacedEarly = false;
    static void Callback(NetHandle, uintptr_t, uint32_t status, void*, uint32_t) {
        if (status != kNetStatusRequestComplete)
            return;
        entered.set_value();
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(300), [] { return replaced.load(); });
        sawReplacedEarly = replaced.load();
        lock.unlock();
        left.set_value();
    }
    static void Quiet(NetHandle, uintptr_t, uint32_t, void*, uint32_t) {}
};

TEST_F(HttpClientTest, ReplacingACallbackWaitsForANotificationInProgress) {
    testsupport::LoopbackServer server(
        [](const testsupport::HttpRequest&, testsupport::Reply& reply) {
            reply.Respond(200, "OK", {}, "x");
        });
    NetHandle request = Open(Connect(server.port()), u"GET", u"/");
    NetSetStatusCallback(request, SlowCallback::Callback);
    SlowCallback::entered = std::promise<void>();
    SlowCallback::left = std::promise<void>();
    SlowCallback::replaced = false;
    std::future<void> entered = SlowCallback::entered.get_future();
    std::future<void> left = SlowCallback::left.get_future();
    bool sent = NetSendRequest(request, nullptr, 0, nullptr, 0);
    ASSERT_TRUE(!sent && NetLastError() == kNetErrorIoPending) << "the send completes later";
    entered.wait();
    NetSetStatusCallback(request, SlowCallback::Quiet);
    {
        std::lock_guard lock(SlowCallback::mutex);
        SlowCallback::replaced = true;
    }
    SlowCallback::changed.notify_all();
    left.wait();
    EXPECT_FALSE(SlowCallback::sawReplacedEarly);
}

TEST_F(HttpClientTest, ClosedAndUnknownHandlesFailWithoutTouchingMemory) {
    NetHandle session = NetOpen(u"a", kNetOpenTypeDirect, nullptr, nullptr, 0);
    ASSERT_TRUE(NetCloseHandle(session));
    EXPECT_FALSE(NetCloseHandle(session));
    EXPECT_EQ(NetLastError(), kNetErrorInvalidHandle);
    EXPECT_EQ(NetConnect(session, u"h", 80, u"", u"", kNetServiceHttp, 0, 0), nullptr);
    EXPECT_EQ(NetLastError(), kNetErrorInvalidHandle);
    EXPECT_EQ(NetSetStatusCallback(reinterpret_cast<NetHandle>(0x12345), nullptr),
              kNetInvalidStatusCallback);
    NetHandle live = Session();
    EXPECT_EQ(NetOpenRequest(live, u"GET", u"/", nullptr, nullptr, nullptr, 0, 1), nullptr)
        << "a session is no connect";
    EXPECT_EQ(NetLastError(), kNetErrorIncorrectHandleType);
}

// --- Authentication and proxies ------------------------------------------------------------

testsupport::Handler BasicRealm(std::string expected) {
    return [expected](const HttpRequest& request, Reply& reply) {
        if (request.Header("Authorization") == expected)
            reply.Respond(200, "OK", {}, "secret");
        else
            reply.Respond(401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"dav\""}, "denied");
    };
}

TEST_F(HttpClientTest, BasicChallengesAreAnsweredWithTheConnectCredentials) {
    LoopbackServer server(BasicRealm("Basic dXNlcjpwYXNz"));  // user:pass
    struct Case {
        const char16_t* user;
        const char16_t* password;
        const char* status;
        const char* body;
    } cases[] = {
        {u"", u"", "401", "denied"},           // no user: the challenge reaches the caller
        {u"user", u"pass", "200", "secret"},   // answered by the client itself
        {u"user", u"wrong", "401", "denied"},  // wrong credentials: the caller sees 401
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(U8(c.user) + ":" + U8(c.password));
        NetHandle request = Open(Connect(server.port(), c.user, c.password), u"GET", u"/private");
        ASSERT_EQ(Send(request), 0u);
        EXPECT_EQ(Query(request, kNetQueryStatusCode), c.status);
        uint32_t error = 0;
        EXPECT_EQ(ReadAll(request, 8192, error), c.body);
    }
}

TEST_F(HttpClientTest, ARequestsOwnCredentialsReplaceTheConnects) {
    LoopbackServer server(BasicRealm("Basic dXNlcjpwYXNz"));  // user:pass
    NetHandle request = Open(Connect(server.port(), u"user", u"wrong"), u"GET", u"/private");
    ASSERT_EQ(Send(request), 0u);
    EXPECT_EQ(Query(request, kNetQueryStatusCode), "401");
    uint32_t error = 0;
    ReadAll(request, 8192, error);
    ASSERT_TRUE(NetSetOption(request, kNetOptionPassword, u"pass", 5));
    ASSERT_EQ(Send(request), 0u);
    EXPECT_EQ(Query(request, kNetQueryStatusCode), "200") << "the user stays the connect's";
    EXPECT_EQ(ReadAll(request, 8192, error), "secret");
}

TEST_F(HttpClientTest, TheAnsweredAuthenticationStaysForTheNextSend) {
    LoopbackServer server(BasicRealm("Basic dXNlcjpwYXNz"));
    NetHandle request = Open(Connect(server.port(), u"user", u"pass"), u"GET", u"/private");
    uint32_t error = 0;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(Send(request), 0u);
        EXPECT_EQ(ReadAll(request, 8192, error), "secret");
    }
    std::vector<HttpRequest> seen = server.Requests();
    ASSERT_EQ(seen.size(), 3u) << "one challenge, then credentials at once";
    EXPECT_FALSE(seen[0].HasHeader("Authorization"));
    EXPECT_TRUE(seen[2].HasHeader("Authorization"));
}

std::string Md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        static const char kHex[] = "0123456789abcdef";
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

// The value of one parameter of a Digest authorization line.
std::string DigestParameter(const std::string& line, const std::string& name) {
    size_t at = line.find(" " + name + "=");
    if (at == std::string::npos)
        at = line.find("," + name + "=");
    if (at == std::string::npos)
        return std::string();
    size_t start = at + name.size() + 2;
    if (start < line.size() && line[start] == '"')
        return line.substr(start + 1, line.find('"', start + 1) - start - 1);
    return line.substr(start, line.find(',', start) - start);
}

// A Digest realm (RFC 7616, MD5 with qop "auth") for user:pass.
void DigestRealm(const HttpRequest& request, Reply& reply) {
    std::string line = request.Header("Authorization");
    std::string ha1 = Md5Hex("user:dav:pass");
    std::string ha2 = Md5Hex(request.method + ":" + DigestParameter(line, "uri"));
    std::string expected =
        Md5Hex(ha1 + ":" + DigestParameter(line, "nonce") + ":" + DigestParameter(line, "nc") +
               ":" + DigestParameter(line, "cnonce") + ":auth:" + ha2);
    if (line.rfind("Digest ", 0) == 0 && DigestParameter(line, "response") == expected)
        reply.Respond(200, "OK", {}, "secret");
    else
        reply.Respond(401, "Unauthorized",
                      {"WWW-Authenticate: Digest realm=\"dav\", nonce=\"5f3c9a\", qop=\"auth\", "
                       "algorithm=MD5"},
                      "denied");
}

TEST_F(HttpClientTest, DigestChallengesAreAnsweredAndTheStateServesTheNextSend) {
    LoopbackServer server(DigestRealm);
    NetHandle request = Open(Connect(server.port(), u"user", u"pass"), u"PROPFIND", u"/dav/");
    uint32_t error = 0;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(Send(request), 0u);
        EXPECT_EQ(Query(request, kNetQueryStatusCode), "200");
        EXPECT_EQ(ReadAll(request, 8192, error), "secret");
    }
    std::vector<HttpRequest> seen = server.Requests();
    ASSERT_EQ(seen.size(), 3u) << "one challenge for both sends";
    EXPECT_EQ(DigestParameter(seen[2].Header("Authorization"), "nc"), "00000002");

    NetHandle wrong = Open(Connect(server.port(), u"user", u"wrong"), u"PROPFIND", u"/dav/");
    ASSERT_EQ(Send(wrong), 0u);
    EXPECT_EQ(Query(wrong, kNetQueryStatusCode), "401");
}

TEST_F(HttpClientTest, ANamedProxyGetsTheRequestAndTheProxyHeader) {
    LoopbackServer proxy(
        [](const HttpRequest&, Reply& reply) { reply.Respond(200, "OK", {}, "via proxy"); });
    std::u16string address = u"127.0.0.1:" + U16(std::to_string(proxy.port()));
    NetHandle session = Session(kNetOpenTypeProxy, address.c_str());
    NetHandle request = Open(Connect(80, u"", u"", session, u"dav.example"), u"GET", u"/dir/");
    ASSERT_EQ(Send(request, u"Proxy-Authorization: Basic cHJveHk6c2VjcmV0\r\n"), 0u);
    uint32_t error = 0;
    EXPECT_EQ(ReadAll(request, 8192, error), "via proxy");
    ASSERT_EQ(proxy.Requests().size(), 1u);
    HttpRequest seen = proxy.Requests()[0];
    EXPECT_EQ(seen.target, "http://dav.example/dir/");
    EXPECT_EQ(seen.Header("Proxy-Authorization"), "Basic cHJveHk6c2VjcmV0");
}

// Sets the proxy environment of this test process (each test runs in a process of its own)
// and restores it afterwards.
class ProxyEnvironment {
  public:
    explicit ProxyEnvironment(const std::string& proxy) {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            saved_.emplace_back(
                name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
            ::unsetenv(name);
        }
        ::setenv("http_proxy", proxy.c_str(), 1);
    }
    ~ProxyEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

  private:
    static constexpr const char* kNames[] = {"http_proxy", "HTTP_PROXY", "all_proxy",
                                             "ALL_PROXY",  "no_proxy",   "NO_PROXY"};
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(HttpClientTest, PreconfiguredAccessUsesTheProxyEnvironmentAndDirectAccessDoesNot) {
    LoopbackServer proxy(
        [](const HttpRequest&, Reply& reply) { reply.Respond(200, "OK", {}, "proxy"); });
    LoopbackServer server(
        [](const HttpRequest&, Reply& reply) { reply.Respond(200, "OK", {}, "server"); });
    ProxyEnvironment environment("http://127.0.0.1:" + std::to_string(proxy.port()));
    uint32_t error = 0;

    NetHandle preconfigured =
        Open(Connect(80, u"", u"", Session(kNetOpenTypePreconfig), u"dav.example"), u"GET", u"/");
    ASSERT_EQ(Send(preconfigured), 0u);
    EXPECT_EQ(ReadAll(preconfigured, 8192, error), "proxy");

    NetHandle direct =
        Open(Connect(server.port(), u"", u"", Session(kNetOpenTypeDirect)), u"GET", u"/");
    ASSERT_EQ(Send(direct), 0u);
    EXPECT_EQ(ReadAll(direct, 8192, error), "server");
    EXPECT_EQ(proxy.Requests().size(), 1u);
}

TEST_F(HttpClientTest, ProxyHeadersNeverReachAServerDirectly) {
    LoopbackServer server([](const HttpRequest&, Reply& reply) { reply.Respond(200, "OK"); });
    NetHandle request = Open(Connect(server.port()), u"GET", u"/");
    ASSERT_EQ(Send(request, u"Proxy-Authorization: Basic cHJveHk6c2VjcmV0\r\n"), 0u);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_FALSE(server.Requests()[0].HasHeader("Proxy-Authorization"));
}

TEST_F(HttpClientTest, ProxyCredentialOptionsAnswerA407) {
    LoopbackServer proxy([](const HttpRequest& request, Reply& reply) {
        if (request.Header("Proxy-Authorization") == "Basic cHJveHk6c2VjcmV0")  // proxy:secret
            reply.Respond(200, "OK", {}, "through");
        else
            reply.Respond(407, "Proxy Authentication Required",
                          {"Proxy-Authenticate: Basic realm=\"proxy\""});
    });
    std::u16string address = u"127.0.0.1:" + U16(std::to_string(proxy.port()));
    NetHandle session = Session(kNetOpenTypeProxy, address.c_str());
    NetHandle connect = Connect(80, u"", u"", session, u"dav.example");
    NetHandle without = Open(connect, u"GET", u"/");
    ASSERT_EQ(Send(without), 0u);
    EXPECT_EQ(Query(without, kNetQueryStatusCode), "407") << "no credentials: the caller sees 407";

    ASSERT_TRUE(NetSetOption(connect, kNetOptionProxyUsername, u"proxy", 6));
    ASSERT_TRUE(NetSetOption(connect, kNetOptionProxyPassword, u"secret", 7));
    NetHandle with = Open(connect, u"GET", u"/");
    ASSERT_EQ(Send(with), 0u);
    EXPECT_EQ(Query(with, kNetQueryStatusCode), "200");
    char16_t user[16];
    uint32_t length = 16;
    ASSERT_TRUE(NetQueryOption(connect, kNetOptionProxyUsername, user, &length));
    EXPECT_EQ(U8(user), "proxy");
}

// --- TLS ---------------------------------------------------------------------------------

class HttpsTest : public HttpClientTest {
  protected:
    NetHandle SecureRequest(uint16_t port) {
        NetHandle connect = Keep(NetConnect(Session(), u"127.0.0.1", port, u"", u"",
                                            kNetServiceHttp, kNetFlagSecure, 0));
        NetSetStatusCallback(connect, Completion::Callback);
        return Keep(NetOpenRequest(connect, u"PROPFIND", u"/dav/", u"HTTP/1.1", nullptr, nullptr,
                                   kNetFlagReload | kNetFlagSecure | kNetFlagKeepConnection,
                                   completion.context()));
    }
    // Accepts the problem the request was last refused for, as the error prompt does.
    void Accept(NetHandle request, uint32_t ignoreFlag) {
        uint32_t flags = 0, length = sizeof flags;
        ASSERT_TRUE(NetQueryOption(request, kNetOptionSecurityFlags, &flags, &length));
        EXPECT_TRUE(flags & kNetSecurityFlagSecure);
        flags |= ignoreFlag;
        ASSERT_TRUE(NetSetOption(request, kNetOptionSecurityFlags, &flags, sizeof flags));
    }
    std::string ServerCertificate(NetHandle request) {
        char16_t text[2048];
        uint32_t length = 2048;
        return NetQueryOption(request, kNetOptionSecurityCertificate, text, &length) ? U8(text)
                                                                                     : "";
    }
};

testsupport::Handler Answer(std::string body, std::vector<std::string> headers = {}) {
    return [body, headers](const HttpRequest&, Reply& reply) {
        reply.Respond(207, "Multi-Status", headers, body);
        if (!headers.empty())
            reply.Close();
    };
}

TEST_F(HttpsTest, RefusedCertificatesGiveTheirReasonUntilEachProblemIsAccepted) {
    struct Step {
        uint32_t error;
        uint32_t accept;  // the ignore flag the prompt sets afterwards
    };
    struct Case {
        const char* name;
        std::string certificateName;
        int validFrom, validUntil;
        std::vector<Step> steps;
    } cases[] = {
        {"self-signed", "127.0.0.1", -1, 30, {{kNetErrorInvalidCa, kNetSecurityIgnoreUnknownCa}}},
        {"another name",
         "other.example",
         -1,
         30,
         {{kNetErrorInvalidCa, kNetSecurityIgnoreUnknownCa},
          {kNetErrorCertCnInvalid, kNetSecurityIgnoreCertCnInvalid}}},
        {"expired",
         "127.0.0.1",
         -30,
         -1,
         {{kNetErrorInvalidCa, kNetSecurityIgnoreUnknownCa},
          {kNetErrorCertDateInvalid, kNetSecurityIgnoreCertDateInvalid}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TlsIdentity identity{
            testsupport::MakeCertificate(c.certificateName, c.validFrom, c.validUntil)};
        LoopbackServer server(Answer("<multistatus/>"), &identity);
        NetHandle request = SecureRequest(server.port());
        for (const Step& step : c.steps) {
            EXPECT_EQ(Send(request), step.error);
            EXPECT_NE(ServerCertificate(request).find("CN = " + c.certificateName),
                      std::string::npos);
            Accept(request, step.accept);
        }
        ASSERT_EQ(Send(request), 0u);
        EXPECT_EQ(Query(request, kNetQueryStatusCode), "207");
        uint32_t error = 0;
        EXPECT_EQ(ReadAll(request, 8192, error), "<multistatus/>");
    }
}

TEST_F(HttpsTest, AcceptingACertificateDoesNotAcceptAnother) {
    testsupport::TlsIdentity first{testsupport::MakeCertificate("127.0.0.1")};
    testsupport::TlsIdentity second{testsupport::MakeCertificate("127.0.0.1")};
    // Each answer closes its connection, so that every send shakes hands anew.
    LoopbackServer server(Answer("ok", {"Connection: close"}), &first);
    NetHandle request = SecureRequest(server.port());
    ASSERT_EQ(Send(request), kNetErrorInvalidCa);
    Accept(request, kNetSecurityIgnoreUnknownCa);
    ASSERT_EQ(Send(request), 0u);
    server.UseTls(second);
    EXPECT_EQ(Send(request), kNetErrorInvalidCa) << "same name, another certificate";
    Accept(request, kNetSecurityIgnoreUnknownCa);
    EXPECT_EQ(Send(request), 0u);
}

std::string Pkcs12Of(const testsupport::TestCertificate& made) {
    BIO* certBio = BIO_new_mem_buf(made.certificatePem.data(), -1);
    BIO* keyBio = BIO_new_mem_buf(made.keyPem.data(), -1);
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    PKCS12* bundle = PKCS12_create("", "client", key, cert, nullptr, 0, 0, 0, 0, 0);
    BIO* out = BIO_new(BIO_s_mem());
    i2d_PKCS12_bio(out, bundle);
    char* data = nullptr;
    long size = BIO_get_mem_data(out, &data);
    std::string bytes(data, static_cast<size_t>(size));
    BIO_free(out);
    PKCS12_free(bundle);
    EVP_PKEY_free(key);
    X509_free(cert);
    BIO_free(keyBio);
    BIO_free(certBio);
    return bytes;
}

TEST_F(HttpsTest, AServerAskingForAClientCertificateGetsTheOneOfTheRequest) {
    testsupport::TlsIdentity identity{testsupport::MakeCertificate("127.0.0.1"), true};
    LoopbackServer server(Answer("<multistatus/>"), &identity);
    testsupport::TestCertificate client = testsupport::MakeCertificate("vodarezazuv-client");
    testsupport::TempDir dir;
    struct Case {
        const char* file;
        std::string content;
    } cases[] = {
        {"client.pem", client.certificatePem + client.keyPem},  // certificate and key in one file
        {"client.p12", Pkcs12Of(client)},                       // PKCS#12 without password
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        NetHandle request = SecureRequest(server.port());
        ASSERT_EQ(Send(request), kNetErrorInvalidCa);
        Accept(request, kNetSecurityIgnoreUnknownCa);
        EXPECT_EQ(Send(request), kNetErrorClientAuthCertNeeded);

        testsupport::WriteFile(dir.File(c.file), c.content);
        std::u16string path = U16(dir.File(c.file));
        ASSERT_TRUE(NetSetOption(request, kNetOptionClientCertContext, path.c_str(),
                                 static_cast<uint32_t>(path.size() + 1)));
        ASSERT_EQ(Send(request), 0u);
        EXPECT_EQ(Query(request, kNetQueryStatusCode), "207");
        ASSERT_FALSE(server.Requests().empty());
        EXPECT_EQ(server.Requests().back().clientCertificate, "vodarezazuv-client");
    }
}

}  // namespace
}  // namespace vodarezazuv
