// The transport against the real servers of the ctest fixture "servers": Apache httpd with
// mod_dav and squid. These tests run as "servers.Apache*" with VODAREZAZUV_SERVERS_ENV set and
// are skipped without it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "host_recorder.h"
#include "http/auth.h"
#include "http/connection.h"
#include "http/request.h"
#include "http/response.h"
#include "servers_env.h"
#include "settings/password.h"
#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testing_http::HostRecorder;
using testsupport::U16;
using testsupport::U8;

std::string Scrambled(const std::string& password) {
    char16_t out[kNameLimit + 1];
    EXPECT_EQ(ScramblePassword(U16(password).c_str(), out, kNameLimit + 1), ScrambleDone);
    return U8(out);
}

struct Exchange {
    int32_t sent = -1;
    int32_t status = 0;
    std::string body;
};

class ApacheTransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env = testsupport::ServersEnv();
        if (env.empty())
            GTEST_SKIP() << "needs the servers fixture (VODAREZAZUV_SERVERS_ENV)";
    }
    void TearDown() override {
        if (connection)
            CloseSession(*connection);
    }
    // Writes a settings file with one section "test" and opens it.
    void Open(const std::string& section) {
        testsupport::WriteFile(file, "[test]\n" + section);
        connection = OpenConnection(u"test", U16(file).c_str());
        ASSERT_TRUE(connection);
    }
    // One PROPFIND through the request sequence of the operations.
    Exchange Propfind(const char16_t* depth = u"1") {
        Exchange exchange;
        Connection& c = *connection;
        RequestContext context;
        BeginRequestContext(c, context);
        SetProxyCredentials(c.connectHandle, c.proxyuser, c.proxypassword);
        char16_t object[kLongPathLimit + 1];
        CopyBoundedW(object, c.basePath, kLongPathLimit);
        AppendBoundedW(object, u"/", kLongPathLimit);
        NetHandle request = OpenRequest(c.connectHandle, u"PROPFIND", object, u"HTTP/1.1",
                                        c.requestFlags | kReadRequestFlags, context);
        EXPECT_NE(request, nullptr);
        char16_t headers[kHeaderLimit + 1] = u"Depth: ";
        AppendBoundedW(headers, depth, kHeaderLimit);
        AppendBoundedW(headers, u"\r\n", kHeaderLimit);
        AddProxyBasicHeader(headers, c.proxyuser, c.proxypassword, kHeaderLimit);
        exchange.sent = SendRequest(request, headers, static_cast<uint32_t>(WideLength(headers)),
                                    nullptr, 0, context);
        if (exchange.sent == RequestDone) {
            exchange.status = ReadResponseStatus(request, c.detailedlog, 0);
            char block[8192];
            uint32_t read = 0;
            while (ReadResponse(request, block, sizeof block, &read, context) == RequestDone &&
                   read != 0)
                exchange.body.append(block, read);
        }
        if (exchange.sent != RequestAborted)
            NetCloseHandle(request);
        EndRequestContext(c, context);
        return exchange;
    }

    HostRecorder host;
    std::map<std::string, std::string> env;
    testsupport::TempDir dir;
    std::string file = dir.File("vodarezazuv.ini");
    ConnectionPtr connection;
};

TEST_F(ApacheTransportTest, ADepthOnePropfindOfTheDavFolderIsAMultistatus) {
    Open("server=" + env["DAV_URL"] + "\n");
    EXPECT_EQ(U8(connection->basePath), "/dav");
    EXPECT_EQ(connection->port, std::stoi(env["HTTP_PORT"]));
    Exchange exchange = Propfind();
    ASSERT_EQ(exchange.sent, RequestDone);
    EXPECT_EQ(exchange.status, 207);
    EXPECT_NE(exchange.body.find("multistatus"), std::string::npos);
    EXPECT_NE(exchange.body.find("/dav/"), std::string::npos);
    EXPECT_EQ(HostRecorder::Lines(),
              (std::vector<std::string>{"PROPFIND /dav/ HTTP/1.1", "207 Multi-Status"}));
    EXPECT_EQ(HostRecorder::Lines(LogTypeConnect), std::vector<std::string>{"CONNECT \\test"});
}

TEST_F(ApacheTransportTest, DetailedLogShowsTheHeadersOfBothSides) {
    Open("server=" + env["DAV_URL"] + "\ndetailedlog=1\n");
    Exchange exchange = Propfind(u"0");
    EXPECT_EQ(exchange.status, 207);
    std::vector<std::string> lines = HostRecorder::Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_NE(lines[1].find("Depth: 0"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], "******Received headers");
    EXPECT_EQ(lines[3], "HTTP/1.1 207 Multi-Status");
    EXPECT_NE(lines[4].find("Content-Type: text/xml"), std::string::npos) << lines[4];
    EXPECT_EQ(lines[5], "207 Multi-Status");
}

TEST_F(ApacheTransportTest, ServerAuthenticationIsAnsweredWithTheConnectionsCredentials) {
    struct Case {
        const char* name;
        std::string url, user, password;
        int32_t status;
        const char* statusLine;
    } cases[] = {
        {"basic", env["BASIC_URL"], env["BASIC_USER"], env["BASIC_PASSWORD"], 207,
         "207 Multi-Status"},
        {"basic, wrong password", env["BASIC_URL"], env["BASIC_USER"], "wrong", 401,
         "Error: 401 Unauthorized"},
        {"digest", env["DIGEST_URL"], env["DIGEST_USER"], env["DIGEST_PASSWORD"], 207,
         "207 Multi-Status"},
        {"digest, wrong password", env["DIGEST_URL"], env["DIGEST_USER"], "wrong", 401,
         "Error: 401 Unauthorized"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostRecorder::logs.clear();
        Open("server=" + c.url + "\nuser=" + c.user + "\npassword=" + Scrambled(c.password) + "\n");
        Exchange exchange = Propfind();
        EXPECT_EQ(exchange.sent, RequestDone);
        EXPECT_EQ(exchange.status, c.status);
        std::vector<std::string> lines = HostRecorder::Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), c.statusLine);
        CloseSession(*connection);
        connection.reset();
    }
}

TEST_F(ApacheTransportTest, ANamedProxyWithBasicCredentialsPassesTheRequest) {
    struct Case {
        const char* name;
        std::string proxy, user, password;
        int32_t status;
    } cases[] = {
        {"with credentials", env["PROXY_AUTH"], env["PROXY_USER"], env["PROXY_PASSWORD"], 207},
        {"wrong password", env["PROXY_AUTH"], env["PROXY_USER"], "wrong", 407},
        {"no credentials", env["PROXY_AUTH"], "", "", 407},
        {"open proxy", env["PROXY"], "", "", 207},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string proxy = "[proxy]\nproxytype=2\nproxyserver=" + c.proxy + "\n";
        if (!c.user.empty())
            proxy += "proxyuser=" + c.user + "\nproxypassword=" + Scrambled(c.password) + "\n";
        Open("server=" + env["DAV_URL"] + "\nproxynr=1\n" + proxy);
        EXPECT_EQ(connection->proxytype, 2);
        Exchange exchange = Propfind();
        EXPECT_EQ(exchange.sent, RequestDone);
        EXPECT_EQ(exchange.status, c.status);
        if (c.status == 207) {
            EXPECT_NE(exchange.body.find("multistatus"), std::string::npos);
        }
        CloseSession(*connection);
        connection.reset();
    }
}

TEST_F(ApacheTransportTest, HttpsTrustsTheTestAuthorityAndRefusesBadCertificates) {
    struct Case {
        const char* name;
        std::string url;
        bool trusted;
        uint32_t error;  // 0: the listing arrives
        const char* line;
    } cases[] = {
        {"trusted", env["HTTPS_DAV_URL"], true, 0, nullptr},
        {"unknown authority", env["HTTPS_DAV_URL"], false, kNetErrorInvalidCa,
         "HTTP error: Invalid Certification Agency"},
        {"expired", env["EXPIRED_CERT_URL"], true, kNetErrorCertDateInvalid,
         "HTTP error: Certificate date is invalid"},
        {"another name", env["WRONG_NAME_CERT_URL"], true, kNetErrorCertCnInvalid,
         "HTTP error: Certificate CN is invalid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Open("server=" + c.url + "\nssl=1\n");
        if (c.trusted) {
            std::u16string ca = U16(env["CA_CERT"]);
            ASSERT_TRUE(NetSetOption(connection->sessionHandle, kNetOptionTrustedCaFile, ca.c_str(),
                                     static_cast<uint32_t>(ca.size() + 1)));
        }
        HostRecorder::logs.clear();
        Exchange exchange = Propfind();
        if (c.error == 0) {
            EXPECT_EQ(exchange.sent, RequestDone);
            EXPECT_EQ(exchange.status, 207);
            EXPECT_NE(exchange.body.find("multistatus"), std::string::npos);
        } else {
            EXPECT_EQ(exchange.sent, RequestFailed);
            EXPECT_EQ(HostRecorder::Lines(), std::vector<std::string>{c.line});
        }
        CloseSession(*connection);
        connection.reset();
    }
}

// A server whose handshake wants a client certificate: the send fails with 12044, the
// connection's certificate is taken from the store beside the settings file and the same
// request is sent again, as the operations do.
TEST_F(ApacheTransportTest, AClientCertificateFromTheStoreAnswersTheHandshake) {
    struct Case {
        const char* name;
        std::string file;    // copied into the store
        std::string serial;  // the ssl_cert_serial setting
        bool attached;
    } cases[] = {
        {"PEM", env["CLIENT_CERT_PEM"], "oQUEAwIB", true},
        {"PKCS#12", env["CLIENT_CERT_P12"], "OQUEAWIBmore", true},
        {"another serial", env["CLIENT_CERT_PEM"], "AQIDBA==", false},
    };
    std::filesystem::create_directory(dir.File("certificates"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CloseCertificateStore();
        std::filesystem::remove_all(dir.File("certificates"));
        std::filesystem::create_directory(dir.File("certificates"));
        std::filesystem::copy_file(c.file, dir.File("certificates/mine") +
                                               std::filesystem::path(c.file).extension().string());
        std::u16string settings = U16(file);
        CopyBoundedW(Plugin().settingsPath, settings.c_str(), kNameLimit);
        Open("server=" + env["CLIENT_CERT_HANDSHAKE_URL"] + "\nssl=1\nssl_cert_issuer=" +
             env["CLIENT_CERT_CN"] + "\nssl_cert_serial=" + c.serial + "\n");
        std::u16string ca = U16(env["CA_CERT"]);
        ASSERT_TRUE(NetSetOption(connection->sessionHandle, kNetOptionTrustedCaFile, ca.c_str(),
                                 static_cast<uint32_t>(ca.size() + 1)));
        RequestContext context;
        BeginRequestContext(*connection, context);
        NetHandle request =
            OpenRequest(connection->connectHandle, u"PROPFIND", u"/dav/", u"HTTP/1.1",
                        connection->requestFlags | kReadRequestFlags, context);
        ASSERT_NE(request, nullptr);
        HostRecorder::logs.clear();
        EXPECT_EQ(SendRequest(request, u"Depth: 0\r\n", UINT32_MAX, nullptr, 0, context),
                  RequestFailed);
        EXPECT_EQ(context.lastError, kNetErrorClientAuthCertNeeded);
        SelectClientCertificate(*connection, request);
        int32_t resent = SendRequest(request, u"Depth: 0\r\n", UINT32_MAX, nullptr, 0, context);
        std::vector<std::string> lines = HostRecorder::Lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], "HTTP error: A client certificate is needed for authentication");
        if (c.attached) {
            EXPECT_EQ(lines[1],
                      "Re-Sending request using client certificate: " + env["CLIENT_CERT_CN"]);
            EXPECT_EQ(resent, RequestDone);
            EXPECT_EQ(ReadResponseStatus(request, 0, 0), 207);
        } else {
            EXPECT_EQ(resent, RequestFailed);
            EXPECT_EQ(lines[1], lines[0]) << "sent again as it was";
        }
        NetCloseHandle(request);
        EndRequestContext(*connection, context);
        CloseSession(*connection);
        connection.reset();
    }
    CloseCertificateStore();
}

}  // namespace
}  // namespace vodarezazuv
