#include "http/request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "host_recorder.h"
#include "http/response.h"
#include "loopback_server.h"
#include "platform/clock.h"
#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testing_http::HostRecorder;
using testsupport::HttpRequest;
using testsupport::LoopbackServer;
using testsupport::Reply;
using testsupport::U16;

// A tick count that moves by `step` on every reading, so that the waits pass their 2000 ms
// in a few real slices; with a ceiling it stops there. A hook runs at a chosen reading.
struct SteppedClock {
    static inline std::atomic<uint32_t> readings{0};
    static inline uint32_t step = 0;
    static inline uint32_t ceiling = UINT32_MAX;
    static inline uint32_t hookAt = 0;
    static inline void (*hook)() = nullptr;

    static uint32_t Now() {
        uint32_t n = ++readings;
        if (hook != nullptr && n == hookAt)
            hook();
        uint64_t value = static_cast<uint64_t>(n) * step;
        return static_cast<uint32_t>(value < ceiling ? value : ceiling);
    }
    SteppedClock(uint32_t stepMs, uint32_t ceilingMs = UINT32_MAX) {
        readings = 0;
        step = stepMs;
        ceiling = ceilingMs;
        hook = nullptr;
        hookAt = 0;
        SetTickSource(&Now);
    }
    ~SteppedClock() { SetTickSource(nullptr); }
};

// A connection to the loopback server, with the transport's handles.
class RequestTest : public ::testing::Test {
  protected:
    void Connect(uint16_t port, const char16_t* host = u"127.0.0.1") {
        CopyBoundedW(connection.server, host, kNameLimit);
        connection.port = port;
        ASSERT_EQ(StartSession(connection), 0);
        BeginRequestContext(connection, context);
    }
    NetHandle Open(const char16_t* method, const char16_t* object,
                   const char16_t* version = u"HTTP/1.1") {
        return OpenRequest(connection.connectHandle, method, object, version, kReadRequestFlags,
                           context);
    }
    std::string ReadAll(NetHandle request, uint32_t block, int32_t* last = nullptr) {
        std::string body;
        std::vector<char> buffer(block);
        for (;;) {
            uint32_t read = 99;
            int32_t result = ReadResponse(request, buffer.data(), block, &read, context);
            if (last != nullptr)
                *last = result;
            if (result != RequestDone || read == 0) {
                EXPECT_EQ(read, 0u);
                return body;
            }
            body.append(buffer.data(), read);
        }
    }
    void TearDown() override {
        if (connection.connectHandle != nullptr)
            EndRequestContext(connection, context);
        CloseSession(connection);
    }

    HostRecorder host;
    Connection connection{};
    RequestContext context;
};

TEST_F(RequestTest, APropfindRunsThroughThePrimitivesAndLogsItsLines) {
    std::string body(20000, 'x');
    LoopbackServer server([&](const HttpRequest&, Reply& reply) {
        reply.Respond(207, "Multi-Status", {"Content-Type: text/xml"}, body);
    });
    Connect(server.port());
    NetHandle request = Open(u"PROPFIND", u"/dav/");
    ASSERT_NE(request, nullptr);
    std::u16string headers = u"Depth: 1\r\n";
    ASSERT_EQ(SendRequest(request, headers.c_str(), static_cast<uint32_t>(headers.size()), nullptr,
                          0, context),
              RequestDone);
    EXPECT_EQ(ReadResponseStatus(request, 0, 0), 207);
    for (uint32_t block : {8192u, 64u}) {
        SCOPED_TRACE(block);
        if (block == 64u) {
            ASSERT_EQ(SendRequest(request, nullptr, 0, nullptr, 0, context), RequestDone);
            ReadResponseStatus(request, 0, 0);
        }
        int32_t last = -1;
        EXPECT_EQ(ReadAll(request, block, &last), body);
        EXPECT_EQ(last, RequestDone);
    }
    NetCloseHandle(request);
    EXPECT_EQ(HostRecorder::Lines(),
              (std::vector<std::string>{"PROPFIND /dav/ HTTP/1.1", "207 Multi-Status",
                                        "PROPFIND /dav/ HTTP/1.1", "207 Multi-Status"}));
    EXPECT_TRUE(HostRecorder::progress.empty()) << "a quick request asks the host nothing";
    std::vector<HttpRequest> seen = server.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].Header("Depth"), "1");
    EXPECT_EQ(seen[0].Header("User-Agent"), "zuzodudiru");
}

TEST_F(RequestTest, CompletionErrorsAreLoggedAndOnly12168CountsAsDone) {
    struct Case {
        uint32_t error;
        int32_t result;
        std::vector<std::string> lines;
    } cases[] = {
        {0, RequestDone, {}},
        {kNetErrorRedirectNeedsConfirmation,
         RequestDone,
         {"HTTP error: The redirection requires user confirmation."}},
        {kNetErrorCannotConnect, RequestFailed, {"HTTP error: Cannot connect"}},
        {kNetErrorOperationCancelled, RequestFailed, {"HTTP error: Operation cancelled"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        HostRecorder::logs.clear();
        RequestContext waiting;
        NetAsyncResult result{c.error == 0 ? 1u : 0u, c.error};
        RequestStatusCallback(nullptr, waiting.value(), kNetStatusRequestComplete, &result,
                              sizeof result);
        EXPECT_EQ(WaitForCompletion(nullptr, waiting), c.result);
        EXPECT_EQ(waiting.lastError, c.error);
        EXPECT_EQ(HostRecorder::Lines(), c.lines);
    }
}

TEST_F(RequestTest, TheCallbackKeepsTheCreatedHandleAndIgnoresOtherNotifications) {
    RequestContext waiting;
    NetAsyncResult created{0x1234, 0};
    RequestStatusCallback(nullptr, waiting.value(), 30, &created, sizeof created);
    EXPECT_FALSE(waiting.handleEvent.Wait(0));
    EXPECT_EQ(waiting.createdHandle, nullptr);
    RequestStatusCallback(nullptr, waiting.value(), kNetStatusHandleCreated, &created,
                          sizeof created);
    EXPECT_TRUE(waiting.handleEvent.Wait(0));
    EXPECT_FALSE(waiting.completeEvent.Wait(0));
    EXPECT_EQ(waiting.createdHandle, reinterpret_cast<NetHandle>(0x1234));
}

TEST_F(RequestTest, ASendThatFailsOnTheWireIsLoggedWithTheClientsReason) {
    struct Case {
        const char16_t* host;
        uint16_t port;
        uint32_t error;
        const char* line;  // the start of the log line
    } cases[] = {
        {u"127.0.0.1", 1, kNetErrorCannotConnect, "HTTP error: Cannot connect"},
        {u"bad host", 80, kNetErrorExtended, "HTTP error: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testsupport::U8(c.host));
        HostRecorder::logs.clear();
        Connect(c.port, c.host);
        NetHandle request = Open(u"GET", u"/", u"HTTP/1.0");
        ASSERT_NE(request, nullptr);
        EXPECT_EQ(SendRequest(request, nullptr, 0, nullptr, 0, context), RequestFailed);
        EXPECT_EQ(context.lastError, c.error);
        std::vector<std::string> lines = HostRecorder::Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind(c.line, 0), 0u) << lines[0];
        if (c.error == kNetErrorExtended) {
            EXPECT_GT(lines[0].size(), std::string(c.line).size()) << "libcurl's words follow";
        }
        NetCloseHandle(request);
        EndRequestContext(connection, context);
        CloseSession(connection);
    }
}

// A server that stalls every answer until the test releases it.
class StalledRequestTest : public RequestTest {
  protected:
    void SetUp() override {
        Connect(server.port());
        request = Open(u"GET", u"/slow", u"HTTP/1.0");
        ASSERT_NE(request, nullptr);
    }
    void TearDown() override {
        server.ReleaseStalls();
        RequestTest::TearDown();
    }
    static inline LoopbackServer* stalled = nullptr;
    LoopbackServer server{[](const HttpRequest&, Reply& reply) {
        reply.Stall();
        reply.Respond(200, "OK", {}, "late");
    }};
    NetHandle request = nullptr;
};

TEST_F(StalledRequestTest, AWaitThatEndsWithinTheQuietPeriodAsksTheHostNothing) {
    // 399 ms a reading, held below 2000 ms; the fifth reading lets the server answer.
    SteppedClock clock(399, 1999);
    stalled = &server;
    SteppedClock::hookAt = 5;
    SteppedClock::hook = [] { stalled->ReleaseStalls(); };
    EXPECT_EQ(SendRequest(request, nullptr, 0, nullptr, 0, context), RequestDone);
    EXPECT_GE(SteppedClock::readings.load(), 5u);
    EXPECT_TRUE(HostRecorder::progress.empty());
    EXPECT_EQ(ReadAll(request, 64), "late");
    NetCloseHandle(request);
}

TEST_F(StalledRequestTest, AfterTheQuietPeriodTheHostSeesThePulseOrThePercentAndCanAbort) {
    struct Case {
        int32_t percentDone;
        bool pulse;
    } cases[] = {{0, true}, {40, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percentDone);
        HostRecorder::progress.clear();
        Plugin().lastProgressTick = 0;
        HostRecorder::abortFromCall = 4;
        if (c.percentDone != 0) {
            request = Open(u"GET", u"/slow", u"HTTP/1.0");
            ASSERT_NE(request, nullptr);
        }
        context.percentDone = c.percentDone;
        SteppedClock clock(260);
        EXPECT_EQ(SendRequest(request, nullptr, 0, nullptr, 0, context), RequestAborted);
        ASSERT_EQ(HostRecorder::progress.size(), 4u);
        for (size_t i = 0; i < HostRecorder::progress.size(); ++i) {
            const auto& call = HostRecorder::progress[i];
            EXPECT_EQ(call.source, "<none>");
            EXPECT_EQ(call.target, "<none>");
            if (c.pulse && i > 0) {
                EXPECT_EQ(call.percent, HostRecorder::progress[i - 1].percent + 1);
            }
            if (!c.pulse) {
                EXPECT_EQ(call.percent, 40);
            }
        }
        // The wait closed the request: it is no handle any more, so closing it again fails.
        EXPECT_FALSE(NetCloseHandle(request));
        EXPECT_EQ(NetLastError(), kNetErrorInvalidHandle);
    }
}

// The upload's closer: the server takes no body, so writes go pending; the closer thread
// closes the request from outside, the pending write fails and the owner joins the thread.
TEST_F(RequestTest, TheCloserThreadEndsAStalledUploadAndIsJoinedByItsOwner) {
    LoopbackServer server([](const HttpRequest&, Reply& reply) { reply.Respond(201, "Created"); });
    server.HoldBodies();
    Connect(server.port());
    NetHandle request = OpenRequest(connection.connectHandle, u"PUT", u"/up", u"HTTP/1.1",
                                    kWriteRequestFlags, context);
    ASSERT_NE(request, nullptr);
    ASSERT_TRUE(NetAddRequestHeaders(request, u"Content-Length: 104857600", UINT32_MAX,
                                     kNetAddHeaderAdd | kNetAddHeaderReplace));
    ASSERT_EQ(SendRequestEx(request, nullptr, 8, context), RequestDone);
    int32_t result = RequestDone;
    {
        AbortTarget target;
        target.handle = request;
        AbortCloser closer(target);
        std::vector<char> block(8192, 'b');
        uint64_t total = 0;
        uint32_t written = 0;
        while (result == RequestDone && total < 104857600u) {
            result = WriteRequestBody(request, block.data(), 8192, &written, context);
            total += written;
        }
        closer.Join();
        EXPECT_EQ(target.handle.load(), nullptr);
        EXPECT_LT(total, 104857600u);
        EXPECT_EQ(written, 0u);
    }
    EXPECT_EQ(result, RequestFailed);
    EXPECT_TRUE(context.lastError == kNetErrorOperationCancelled ||
                context.lastError == kNetErrorInvalidHandle)
        << context.lastError;
    EXPECT_FALSE(NetCloseHandle(request)) << "the closer closed it";
    server.ReleaseStalls();
}

}  // namespace
}  // namespace vodarezazuv
