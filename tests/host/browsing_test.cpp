// The host browses the real servers through the library: enters connections, lists nested
// collections, authenticates, goes through proxies and TLS, aborts and disconnects. Run as
// "servers.Apache*" with the servers fixture.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "plugin_host.h"
#include "servers_env.h"

namespace {

using testsupport::PluginHost;
using testsupport::TempDir;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFile;
namespace fs = std::filesystem;

class ApacheBrowsing : public ::testing::Test {
  protected:
    void SetUp() override {
        env = testsupport::ServersEnv();
        if (env.empty())
            GTEST_SKIP() << "needs the servers fixture (VODAREZAZUV_SERVERS_ENV)";
        host.Init();
        host.SetDefaultParams(dir.File("morlo.ini"));
    }
    void TearDown() override {
        // Every connection a test opened is closed before the library goes.
        for (const WIN32_FIND_DATAW& record : host.List(u"\\")) {
            std::u16string path = u"\\" + std::u16string(record.name);
            host.Export<decltype(FsDisconnectW)>("FsDisconnectW")(path.data());
        }
    }
    void Settings(const std::string& text) { WriteFile(dir.File("vodarezazuv.ini"), text); }

    // The names of a listing, directories with a trailing "/"; *error is errno after an
    // empty one.
    std::set<std::string> Names(const std::u16string& path, int* error = nullptr) {
        std::set<std::string> names;
        for (const WIN32_FIND_DATAW& record : host.List(path, error))
            names.insert(U8(record.name) +
                         ((record.attributes & FileAttributeDirectory) ? "/" : ""));
        return names;
    }
    std::set<std::string> DiskNames(const std::string& relative) {
        return testsupport::DavDiskNames(env, relative);
    }
    std::set<std::string> Seeded(const std::set<std::string>& names) {
        return testsupport::SeededNames(names, env);
    }
    int Logged(int32_t type, const std::string& text) {
        return static_cast<int>(std::count_if(host.logs.begin(), host.logs.end(), [&](auto& log) {
            return log.type == type && log.text == text;
        }));
    }
    std::string Logs() {
        std::string all;
        for (const auto& log : host.logs)
            all += std::to_string(log.type) + " " + log.text + "\n";
        return all;
    }
    bool LoggedContaining(const std::string& part) {
        return Logs().find(part) != std::string::npos;
    }
    int32_t Disconnect(std::u16string path) {
        return host.Export<decltype(FsDisconnectW)>("FsDisconnectW")(path.data());
    }
    std::map<std::string, std::string> env;
    TempDir dir;
    PluginHost host;
};

TEST_F(ApacheBrowsing, EnterAConnectionGoDeeperAndDisconnect) {
    Settings("[dav]\nserver=" + env["DAV_URL"] + "\nutf8urls=1\n");
    std::vector<WIN32_FIND_DATAW> root = host.List(u"\\");
    ASSERT_GE(root.size(), 3u);
    EXPECT_EQ(U8(root.back().name), "dav");

    EXPECT_EQ(Seeded(Names(u"\\dav")), Seeded(DiskNames("")));
    EXPECT_EQ(Logged(LogTypeConnect, "CONNECT \\dav"), 1) << Logs();
    EXPECT_NE(std::find(host.progress.begin(), host.progress.end(), "\\dav>temp:0"),
              host.progress.end());
    EXPECT_EQ(Names(u"\\dav\\nested"), DiskNames("nested"));
    EXPECT_EQ(Names(u"\\dav\\nested\\deeper"), DiskNames("nested/deeper"));
    EXPECT_EQ(Names(u"\\dav\\Ordner mit Ä"), DiskNames("Ordner mit Ä"));
    EXPECT_EQ(Names(u"/dav/nested"), DiskNames("nested")) << "slashes work as well";
    EXPECT_EQ(Logged(LogTypeConnect, "CONNECT \\dav"), 1) << "the connection stays open";

    EXPECT_EQ(Disconnect(u"\\dav\\nested"), 1);
    EXPECT_EQ(Logged(LogTypeDisconnect, "DISCONNECT \\dav"), 1) << Logs();
    EXPECT_EQ(Disconnect(u"\\dav"), 1) << "a closed connection";
    EXPECT_EQ(Logged(LogTypeDisconnect, "DISCONNECT \\dav"), 1) << "logs nothing";
    EXPECT_EQ(Names(u"\\dav\\nested"), DiskNames("nested"));
    EXPECT_EQ(Logged(LogTypeConnect, "CONNECT \\dav"), 2) << "opened anew";
}

TEST_F(ApacheBrowsing, EmptyAndMissingCollections) {
    Settings("[dav]\nserver=" + env["DAV_URL"] + "\n");
    int error = 0;
    EXPECT_TRUE(Names(u"\\dav\\empty-collection", &error).empty());
    EXPECT_EQ(error, FsErrorNoMoreFiles);
    EXPECT_TRUE(Names(u"\\dav\\missing", &error).empty());
    EXPECT_EQ(error, FsErrorPathNotFound);
    EXPECT_TRUE(LoggedContaining("Error: 404 Not Found")) << Logs();
    EXPECT_FALSE(Names(u"\\dav").empty());
    EXPECT_EQ(Logged(LogTypeConnect, "CONNECT \\dav"), 1)
        << "failed listings of an open connection leave it open";
}

TEST_F(ApacheBrowsing, AFirstListingThatFailsDropsTheConnection) {
    // Nothing listens on port 1.
    Settings("[dead]\nserver=http://127.0.0.1:1/dav/\n");
    for (int attempt = 0; attempt < 2; ++attempt) {
        int error = 0;
        EXPECT_TRUE(Names(u"\\dead", &error).empty());
        EXPECT_EQ(error, FsErrorPathNotFound);
    }
    EXPECT_EQ(Logged(LogTypeConnect, "CONNECT \\dead"), 2) << "each listing opens it anew";
    EXPECT_TRUE(LoggedContaining("HttpSendRequest failed: ")) << Logs();
    EXPECT_EQ(Disconnect(u"\\dead"), 1);
    EXPECT_EQ(Logged(LogTypeDisconnect, "DISCONNECT \\dead"), 0) << "nothing was left open";
}

TEST_F(ApacheBrowsing, WhileTheHostDeletesAtTheRootNothingBelowIsListed) {
    Settings("[dav]\nserver=" + env["DAV_URL"] + "\n");
    auto status = host.Export<decltype(FsStatusInfoW)>("FsStatusInfoW");
    char16_t root[] = u"\\";
    status(root, StatusStart, StatusOpDelete);
    int error = 0;
    EXPECT_TRUE(Names(u"\\dav", &error).empty());
    EXPECT_EQ(error, FsErrorNoMoreFiles);
    EXPECT_EQ(Logged(LogTypeConnect, "CONNECT \\dav"), 0) << "nothing is opened";
    status(root, StatusEnd, StatusOpDelete);
    EXPECT_FALSE(Names(u"\\dav").empty());
}

TEST_F(ApacheBrowsing, PasswordsAreAskedForAndAWrongOneFails) {
    for (const std::string& kind : {std::string("BASIC"), std::string("DIGEST")}) {
        SCOPED_TRACE(kind);
        Settings("[auth]\nserver=" + env[kind + "_URL"] + "\nuser=" + env[kind + "_USER"] + "\n");
        std::string answer = env[kind + "_PASSWORD"];
        host.requests.clear();
        host.onRequest = [&](const testsupport::RequestEntry& request, char16_t* buffer) {
            EXPECT_EQ(request.type, AskServerPassword);
            std::u16string text = U16(answer);
            std::copy(text.begin(), text.end(), buffer);
            buffer[text.size()] = 0;
            return 1;
        };
        EXPECT_FALSE(Names(u"\\auth").empty()) << Logs();
        EXPECT_EQ(host.requests.size(), 1u);
        Disconnect(u"\\auth");

        answer = "wrong";
        int error = 0;
        EXPECT_TRUE(Names(u"\\auth", &error).empty());
        EXPECT_EQ(error, FsErrorPathNotFound);
        EXPECT_TRUE(LoggedContaining("Error: 401 Unauthorized")) << Logs();
        EXPECT_EQ(host.requests.size(), 2u);

        host.onRequest = [](const testsupport::RequestEntry&, char16_t*) { return 0; };
        EXPECT_TRUE(Names(u"\\auth", &error).empty()) << "a cancelled password opens nothing";
        EXPECT_EQ(error, FsErrorPathNotFound);
        host.onRequest = nullptr;
    }
}

TEST_F(ApacheBrowsing, ANamedProxyWithAndWithoutCredentials) {
    struct Case {
        const char* what;
        std::string proxy;
        bool listed;
    } cases[] = {
        {"with credentials",
         "proxyserver=" + env["PROXY_AUTH"] + "\nproxyuser=" + env["PROXY_USER"] +
             "\nproxypassword=!\n",
         true},
        {"without credentials", "proxyserver=" + env["PROXY_AUTH"] + "\n", false},
        {"an open proxy", "proxyserver=" + env["PROXY"] + "\n", true},
    };
    // The proxy password is kept in the host's password store, under the proxy's key.
    host.SetCrypt();
    host.onCrypt = [&](const testsupport::CryptEntry& call, char16_t* buffer) {
        EXPECT_EQ(call.mode, StoreLoad);
        EXPECT_EQ(call.key, "proxy$$pass");
        std::u16string password = U16(env["PROXY_PASSWORD"]);
        std::copy(password.begin(), password.end(), buffer);
        buffer[password.size()] = 0;
        return 0;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.logs.clear();
        std::streamoff start = testsupport::FileSize(env["APACHE_ACCESS_LOG"]);
        Settings("[viaproxy]\nserver=" + env["DAV_URL"] + "\nproxynr=1\n[proxy]\nproxytype=2\n" +
                 c.proxy);
        int error = 0;
        std::set<std::string> names = Names(u"\\viaproxy", &error);
        if (c.listed) {
            EXPECT_EQ(Seeded(names), Seeded(DiskNames(""))) << Logs();
            std::string access = testsupport::LogTailWith(env["APACHE_ACCESS_LOG"], start,
                                                          "via=\"1.1 vodarezazuv-proxy");
            EXPECT_NE(access.find("via=\"1.1 vodarezazuv-proxy"), std::string::npos) << access;
        } else {
            EXPECT_TRUE(names.empty());
            EXPECT_EQ(error, FsErrorPathNotFound);
            EXPECT_TRUE(LoggedContaining("Error: 407")) << Logs();
        }
        Disconnect(u"\\viaproxy");
    }
}

TEST_F(ApacheBrowsing, AnUntrustedCertificateIsRefusedWhenNobodyCanBeAsked) {
    // The test authority is not among the system's, and no front end is attached to ask.
    Settings("[tls]\nserver=" + env["HTTPS_DAV_URL"] + "\nssl=1\n");
    int error = 0;
    EXPECT_TRUE(Names(u"\\tls", &error).empty());
    EXPECT_EQ(error, FsErrorPathNotFound);
    EXPECT_TRUE(LoggedContaining("Security warning: The server's certificate is not trusted: "))
        << Logs();
}

TEST_F(ApacheBrowsing, TheHostAbortsASlowListingAfterTwoSeconds) {
    Settings("[slow]\nserver=" + env["SCRIPTED_URL"] + "listing-slow/host-abort\n");
    // The opening and the listing's own first question are answered "go on"; the questions
    // of the wait, which start two seconds in, are answered "abort".
    int calls = 0;
    host.onProgress = [&calls](const std::string&) { return ++calls > 2 ? 1 : 0; };
    auto start = std::chrono::steady_clock::now();
    int error = 0;
    EXPECT_TRUE(Names(u"\\slow", &error).empty());
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(error, FsErrorPathNotFound);
    EXPECT_GE(seconds, 1.9);
    EXPECT_LT(seconds, 4.0) << "the answer would have come after six";
    EXPECT_EQ(Disconnect(u"\\slow"), 1);
    EXPECT_EQ(Logged(LogTypeDisconnect, "DISCONNECT \\slow"), 0) << "the failed first listing "
                                                                    "closed it";
}

}  // namespace

namespace {

// The host may unload the library while connections are still open: their sessions and the
// client's threads must be gone before the code they run is.
TEST(ApacheUnload, UnloadingWithOpenConnectionsClosesThemFirst) {
    std::map<std::string, std::string> env = testsupport::ServersEnv();
    if (env.empty())
        GTEST_SKIP() << "needs the servers fixture (VODAREZAZUV_SERVERS_ENV)";
    TempDir dir;
    for (int round = 0; round < 3; ++round) {
        {
            PluginHost host;
            host.Init();
            host.SetDefaultParams(dir.File("morlo.ini"));
            WriteFile(
                dir.File("vodarezazuv.ini"),
                "[a]\nserver=" + env["DAV_URL"] + "\n[b]\nserver=" + env["DAV_URL"] + "nested/\n");
            EXPECT_FALSE(host.List(u"\\a").empty());
            EXPECT_FALSE(host.List(u"\\b").empty());
            // The host object unloads the library here, with both connections open.
        }
        // A thread left behind would wake up within this time in code that is gone.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
}

}  // namespace
