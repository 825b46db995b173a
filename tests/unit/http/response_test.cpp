#include "http/response.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_recorder.h"
#include "http/request.h"
#include "loopback_server.h"

namespace vodarezazuv {
namespace {

using testing_http::HostRecorder;
using testsupport::HttpRequest;
using testsupport::LoopbackServer;
using testsupport::Reply;

struct Answer {
    int status;
    std::string reason;
    std::vector<std::string> headers;
};

// Sends one request to a server that gives `answer` and returns the request for the query.
class ResponseStatusTest : public ::testing::Test {
  protected:
    NetHandle Exchange(const Answer& answer, const char16_t* extra = nullptr) {
        current = answer;
        CopyBoundedW(connection.server, u"127.0.0.1", kNameLimit);
        connection.port = server.port();
        EXPECT_EQ(StartSession(connection), 0);
        BeginRequestContext(connection, context);
        NetHandle request = OpenRequest(connection.connectHandle, u"PROPFIND", u"/dav/a%20b/",
                                        u"HTTP/1.1", kReadRequestFlags, context);
        EXPECT_NE(request, nullptr);
        EXPECT_EQ(
            SendRequest(request, extra, extra != nullptr ? UINT32_MAX : 0, nullptr, 0, context),
            RequestDone);
        HostRecorder::logs.clear();
        return request;
    }
    void Finish(NetHandle request) {
        NetCloseHandle(request);
        EndRequestContext(connection, context);
        CloseSession(connection);
    }

    HostRecorder host;
    Answer current;
    LoopbackServer server{[this](const HttpRequest&, Reply& reply) {
        reply.Respond(current.status, current.reason, current.headers, "");
    }};
    Connection connection{};
    RequestContext context;
};

TEST_F(ResponseStatusTest, TheStatusLineTellsSuccessFromFailure) {
    struct Case {
        Answer answer;
        int32_t status;
        std::string line;
    } cases[] = {
        {{207, "Multi-Status", {}}, 207, "207 Multi-Status"},
        {{200, "OK", {"Transfer-Encoding: chunked"}}, 200, "200 OK"},
        {{404, "Not Found", {}}, 404, "Error: 404 Not Found"},
        {{401, "Unauthorized", {}}, 401, "Error: 401 Unauthorized"},
        {{301, "Moved Permanently", {"Location: /x/"}}, 301, "Error: 301 Moved Permanently"},
        {{250, "", {}}, 250, "250 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        NetHandle request = Exchange(c.answer);
        // The chunked check asks the response headers, and this client is not affected.
        EXPECT_EQ(ReadResponseStatus(request, 0, 1), c.status);
        EXPECT_EQ(HostRecorder::Lines(),
                  (std::vector<std::string>{"PROPFIND /dav/a%20b/ HTTP/1.1", c.line}));
        Finish(request);
    }
}

TEST_F(ResponseStatusTest, AReasonPhraseThatDoesNotFitLeavesTheStatusLineOut) {
    NetHandle request = Exchange({404, std::string(300, 'r'), {}});
    EXPECT_EQ(ReadResponseStatus(request, 0, 0), 404);
    EXPECT_EQ(HostRecorder::Lines(), std::vector<std::string>{"PROPFIND /dav/a%20b/ HTTP/1.1"});
    Finish(request);
}

TEST_F(ResponseStatusTest, DetailedLogAddsRequestAndResponseHeaders) {
    NetHandle request = Exchange({404, "Not Found", {"X-One: 1", "X-Two: 2"}}, u"Depth: 1\r\n");
    EXPECT_EQ(ReadResponseStatus(request, 1, 0), 404);
    std::vector<std::string> lines = HostRecorder::Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "PROPFIND /dav/a%20b/ HTTP/1.1");
    EXPECT_NE(lines[1].find("Depth: 1"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("User-Agent: zuzodudiru"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[1].find('\r'), std::string::npos) << "lines are joined by line feeds";
    EXPECT_EQ(lines[2], "******Received headers");
    EXPECT_EQ(lines[3], "HTTP/1.1 404 Not Found");
    EXPECT_EQ(lines[4].rfind("X-One: 1\nX-Two: 2\n", 0), 0u) << lines[4];
    EXPECT_EQ(lines[5], "Error: 404 Not Found");
    Finish(request);
}

TEST(CharsetTest, HeadersDeclareUtf8AfterContentType) {
    struct Case {
        const char* headers;
        int32_t utf8;
    } cases[] = {
        {"HTTP/1.1 207\r\nContent-Type: text/xml; charset=utf-8\r\n", 1},
        {"CONTENT-TYPE: TEXT/XML; CHARSET=UTF-8", 1},
        {"Content-Type: text/xml; charset=\"UTF-8\"\r\nServer: x", 1},
        {"Content-Type: text/xml; charset=iso-8859-1", 0},
        {"X-Charset: utf-8\r\nContent-Type: text/xml", 0},
        {"Content-Type:utf-8", 1},
        {"Content-Typ: utf-8", 0},
        {"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headers);
        std::string text = c.headers;
        EXPECT_EQ(HeadersDeclareUtf8(text.data()), c.utf8);
    }
}

TEST(CharsetTest, XmlDeclaresUtf8InItsDeclaration) {
    struct Case {
        const char* body;
        int32_t utf8;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?>", 1},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 1},
        {"<?xml encoding=\"Utf-8\"?>", 1},
        {"<?xml encoding= \"utf-8\"?>", 1},
        {"<?xml encoding=\"\r\n\tutf-8\"?>", 1},
        {"<?xml encoding = \"utf-8\"?>", 0},
        {"<?xml encoding='utf-8'?>", 0},
        {"<?xml encoding=\"iso-8859-1\"?>", 0},
        {"<?xml encoding=\"utf-", 0},
        {"<?xml version=\"1.0\"?>", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(XmlDeclaresUtf8(c.body), c.utf8);
    }
}

}  // namespace
}  // namespace vodarezazuv
