#include "http/connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "host_recorder.h"
#include "platform/temp_file.h"
#include "settings/password.h"
#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testing_http::HostRecorder;
using testsupport::U16;
using testsupport::U8;

TEST(ServerAddressTest, SchemeHostPortAndBasePathAreSplit) {
    struct Case {
        const char* address;
        int32_t ssl;
        const char* host;
        int32_t port;
        const char* basePath;
    } cases[] = {
        {"https://Server.example:8443/dav/", 1, "Server.example", 8443, "/dav"},
        {"https://Server.example:8443/dav/", 0, "Server.example", 8443, "/dav"},
        {"HTTP://host", 0, "host", 0, ""},
        {"HtTpS://host/a/b", 1, "host", 443, "/a/b"},
        {"host", 1, "host", 443, ""},
        {"host", 0, "host", 0, ""},
        {"host/", 0, "host", 0, ""},
        {"host/dav/", 0, "host", 0, "/dav"},
        {"host//", 0, "host", 0, "/"},
        {"host:abc", 0, "host", 0, ""},
        {"host:abc", 1, "host", 0, ""},
        {"host:8080x/p", 0, "host", 8080, "/p"},
        {"host\\dav\\sub\\", 0, "host", 0, "/dav/sub"},
        {"ftp://host/x", 0, "ftp", 0, "//host/x"},  // only http and https are schemes
        {"host/p:1", 0, "host", 0, "/p:1"},         // a colon in the path is no port
        {"", 1, "", 443, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + std::string(c.ssl ? " ssl" : ""));
        Connection connection{};
        std::u16string address = U16(c.address);
        address.copy(connection.server, kNameLimit);
        connection.ssl = c.ssl;
        SplitServerAddress(connection);
        EXPECT_EQ(U8(connection.server), c.host);
        EXPECT_EQ(connection.port, c.port);
        EXPECT_EQ(U8(connection.basePath), c.basePath);
    }
}

TEST(ServerAddressTest, ProxyTypeGivesTheAccessType) {
    struct Case {
        int32_t proxytype;
        const char16_t* proxyserver;
        uint32_t accessType;
        bool proxyGiven;
    } cases[] = {
        {0, u"proxy:3128", kNetOpenTypeDirect, false},
        {1, u"proxy:3128", kNetOpenTypePreconfig, false},
        {2, u"proxy:3128", kNetOpenTypeProxy, true},
        {2, u"", kNetOpenTypePreconfig, false},
        {7, u"proxy:3128", kNetOpenTypePreconfig, false},
        {-1, u"", kNetOpenTypePreconfig, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.proxytype);
        Connection connection{};
        CopyBoundedW(connection.proxyserver, c.proxyserver, kNameLimit);
        connection.proxytype = c.proxytype;
        SessionAccess access = AccessOf(connection);
        EXPECT_EQ(access.accessType, c.accessType);
        EXPECT_EQ(access.proxy != nullptr, c.proxyGiven);
        if (c.proxyGiven) {
            EXPECT_EQ(U8(access.proxy), U8(c.proxyserver));
        }
    }
}

class OpenConnectionTest : public ::testing::Test {
  protected:
    void Write(const std::string& text) { testsupport::WriteFile(file, text); }
    ConnectionPtr Open(const char16_t* name) { return OpenConnection(name, path.c_str()); }
    void TearDown() override {
        for (ConnectionPtr* connection : {&first, &second}) {
            if (*connection)
                CloseSession(**connection);
        }
        EXPECT_EQ(SessionCount(), 0);
    }

    HostRecorder host;
    testsupport::TempDir dir;
    std::string file = dir.File("vodarezazuv.ini");
    std::u16string path = U16(file);
    ConnectionPtr first, second;
};

TEST_F(OpenConnectionTest, OpensTheSessionReportsProgressAndLogsConnect) {
    Write("[work]\nserver=https://dav.example:8443/dav/\nssl=1\n");
    first = Open(u"work");
    ASSERT_TRUE(first);
    EXPECT_NE(first->sessionHandle, nullptr);
    EXPECT_NE(first->connectHandle, nullptr);
    EXPECT_EQ(U8(first->server), "dav.example");
    EXPECT_EQ(first->port, 8443);
    EXPECT_EQ(U8(first->basePath), "/dav");
    EXPECT_EQ(first->requestFlags, kSecureRequestFlags);
    ASSERT_EQ(HostRecorder::progress.size(), 1u);
    EXPECT_EQ(HostRecorder::progress[0].source, "work");
    EXPECT_EQ(HostRecorder::progress[0].target, "temp");
    EXPECT_EQ(HostRecorder::progress[0].percent, 0);
    EXPECT_EQ(HostRecorder::Lines(LogTypeConnect), std::vector<std::string>{"CONNECT \\work"});
    EXPECT_EQ(SessionCount(), 1);
}

TEST_F(OpenConnectionTest, AnAbortAtTheProgressQuestionOpensNothing) {
    Write("[work]\nserver=host\n");
    HostRecorder::abortFromCall = 1;
    EXPECT_FALSE(Open(u"work"));
    EXPECT_TRUE(HostRecorder::Lines(LogTypeConnect).empty());
    EXPECT_EQ(SessionCount(), 0);
}

TEST_F(OpenConnectionTest, StoredPasswordsComeFromTheHostStore) {
    Write(
        "[work]\nserver=host\nuser=u\npassword=!\nproxynr=3\n"
        "[proxy3]\nproxytype=2\nproxyserver=p:3128\nproxyuser=pu\nproxypassword=!\n");
    Plugin().hostCrypt = &HostRecorder::Crypt;
    HostRecorder::store = {{"work", "server secret"}, {"proxy3$$pass", "proxy secret"}};
    first = Open(u"work");
    ASSERT_TRUE(first);
    EXPECT_EQ(U8(first->password), "server secret");
    EXPECT_EQ(U8(first->proxypassword), "proxy secret");
    EXPECT_EQ(U8(first->proxyuser), "pu");
}

TEST_F(OpenConnectionTest, APasswordTheStoreCannotGiveStopsWithAMessage) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> store;
        const char* message;
    } cases[] = {
        {"server", {{"proxy$$pass", "p"}}, "Error: Failed to load password!"},
        {"proxy", {{"work", "s"}}, "Error: Failed to load proxy password!"},
    };
    Write(
        "[work]\nserver=host\nuser=u\npassword=!\nproxynr=1\n"
        "[proxy]\nproxytype=2\nproxyserver=p\nproxyuser=pu\nproxypassword=!\n");
    Plugin().hostCrypt = &HostRecorder::Crypt;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostRecorder::logs.clear();
        HostRecorder::store = c.store;
        EXPECT_FALSE(Open(u"work"));
        EXPECT_EQ(HostRecorder::Lines(), std::vector<std::string>{c.message});
        EXPECT_EQ(SessionCount(), 0);
    }
}

TEST_F(OpenConnectionTest, ADirectConnectionDropsTheProxyCredentials) {
    Write(
        "[work]\nserver=host\nproxynr=2\n"
        "[proxy2]\nproxytype=0\nproxyserver=p\nproxyuser=pu\nproxypassword=065\n");
    first = Open(u"work");
    ASSERT_TRUE(first);
    EXPECT_EQ(U8(first->proxyuser), "");
    EXPECT_EQ(U8(first->proxypassword), "");
    char16_t user[64];
    uint32_t length = 64;
    ASSERT_TRUE(NetQueryOption(first->sessionHandle, kNetOptionProxyUsername, user, &length));
    EXPECT_EQ(U8(user), "");
}

TEST_F(OpenConnectionTest, TheLibraryStaysStartedUntilTheLastSessionCloses) {
    Write("[a]\nserver=a.example\n[b]\nserver=b.example\n");
    for (bool firstClosesFirst : {true, false}) {
        SCOPED_TRACE(firstClosesFirst);
        first = Open(u"a");
        second = Open(u"b");
        ASSERT_TRUE(first && second);
        EXPECT_EQ(SessionCount(), 2);
        CloseSession(firstClosesFirst ? *first : *second);
        EXPECT_EQ(SessionCount(), 1);
        CloseSession(firstClosesFirst ? *second : *first);
        EXPECT_EQ(SessionCount(), 0);
    }
}

TEST_F(OpenConnectionTest, CloseDeletesTheListingFileLogsOnceAndIsIdempotent) {
    Write("[work]\nserver=host\n");
    first = Open(u"work");
    ASSERT_TRUE(first);
    char16_t name[kLongPathLimit + 1];
    first->tempFileNumber = 0xBEEF;
    ASSERT_NE(TempFileName(kListingTempPrefix, first->tempFileNumber, name, kLongPathLimit + 1),
              0u);
    std::string native = U8(name);
    EXPECT_NE(native.find("/DAVBEEF.tmp"), std::string::npos) << native;
    testsupport::WriteFile(native, "body");
    HostRecorder::logs.clear();

    EXPECT_EQ(CloseSession(*first), 0);
    EXPECT_FALSE(std::filesystem::exists(native));
    EXPECT_EQ(first->tempFileNumber, 0u);
    EXPECT_EQ(first->sessionHandle, nullptr);
    EXPECT_EQ(first->connectHandle, nullptr);
    EXPECT_EQ(SessionCount(), 0);
    EXPECT_EQ(CloseSession(*first), 0);
    EXPECT_EQ(SessionCount(), 0);
    EXPECT_EQ(HostRecorder::Lines(), std::vector<std::string>{"Disconnected"});
}

}  // namespace
}  // namespace vodarezazuv
