// The namespace operations against the servers of the ctest fixture "servers": Apache httpd
// with mod_dav, whose disk and access log show what happened, and the scripted server for
// the answers Apache does not give. The suites' names start with "Apache" so that ctest
// runs them with the fixture; without VODAREZAZUV_SERVERS_ENV they are skipped.
#include "dav/namespace_ops.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "../http/host_recorder.h"
#include "http/auth.h"
#include "http/connection.h"
#include "plugin/plugin_state.h"
#include "servers_env.h"
#include "temp_dir.h"

namespace vodarezazuv {
namespace {

namespace fs = std::filesystem;
using testing_http::HostRecorder;
using testsupport::U16;
using testsupport::U8;

size_t Count(const std::vector<std::string>& lines, const std::string& prefix) {
    size_t count = 0;
    for (const std::string& line : lines)
        count += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ServersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env = testsupport::ServersEnv();
        if (env.empty())
            GTEST_SKIP() << "needs the servers fixture (VODAREZAZUV_SERVERS_ENV)";
        folder = std::string("namespace-") +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                 std::to_string(::getpid());
    }
    void TearDown() override { Close(); }
    void Open(const std::string& url, const std::string& extra = "") {
        Close();
        testsupport::WriteFile(file, "[test]\nserver=" + url + "\nutf8urls=1\n" + extra);
        connection = OpenConnection(u"test", U16(file).c_str());
        ASSERT_TRUE(connection);
        HostRecorder::logs.clear();
    }
    void Close() {
        if (connection)
            CloseSession(*connection);
        connection.reset();
    }
    // A remote path below the test's own folder under prefix, with backslashes as the host
    // gives them.
    std::u16string Remote(const std::string& name, const std::string& prefix = "/dav") const {
        std::string path = prefix + "\\" + folder + (name.empty() ? "" : "\\" + name);
        for (char& c : path) {
            if (c == '/' && &c != &path[0])
                c = '\\';
        }
        return U16(path);
    }

    HostRecorder host;
    std::map<std::string, std::string> env;
    std::string folder;
    testsupport::TempDir dir;
    std::string file = dir.File("vodarezazuv.ini");
    ConnectionPtr connection;
};

// The disk of Apache's DAV tree: each test works in a folder of its own, made here with the
// owner of the tree so that Apache may change it, and removed afterwards.
class ApacheNamespaceTest : public ServersTest {
  protected:
    void SetUp() override {
        ServersTest::SetUp();
        if (IsSkipped())
            return;
        root = env["DAV_ROOT"];
        struct stat info {};
        ASSERT_EQ(::stat(root.c_str(), &info), 0);
        owner = info.st_uid;
        group = info.st_gid;
        MakeDir("");
        Open(env["DAV_URL"]);
    }
    void TearDown() override {
        ServersTest::TearDown();
        if (folder.empty() || root.empty())
            return;
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(Disk(""), ignored)) {
            if (entry.is_directory())
                fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(Disk(""), ignored);
    }
    std::string Disk(const std::string& name) const {
        return root + "/" + folder + (name.empty() ? "" : "/" + name);
    }
    void Own(const std::string& name) { ASSERT_EQ(::chown(Disk(name).c_str(), owner, group), 0); }
    // Every folder on the way is made and owned.
    void MakeDir(const std::string& name) {
        for (size_t slash = name.find('/'); slash != std::string::npos;
             slash = name.find('/', slash + 1))
            MakeDir(name.substr(0, slash));
        fs::create_directory(Disk(name));
        Own(name);
    }
    void Seed(const std::string& name, const std::string& content) {
        testsupport::WriteFile(Disk(name), content);
        Own(name);
    }
    bool Exists(const std::string& name) const { return fs::exists(Disk(name)); }
    std::string Content(const std::string& name) const { return testsupport::ReadFile(Disk(name)); }
    // Apache writes its access line once the answer is out: wait a little for it.
    bool AccessLogHas(const std::string& request) const {
        std::string needle = "request=\"" + request + "\"";
        for (int i = 0; i < 50; ++i) {
            if (testsupport::ReadFile(env.at("APACHE_ACCESS_LOG")).find(needle) !=
                std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    std::string root;
    uid_t owner = 0;
    gid_t group = 0;
};

TEST_F(ApacheNamespaceTest, MakeCollectionCreatesTheFolderOnlyOnce) {
    struct Case {
        const char* name;
        int32_t expected;
        const char* statusLine;
    } cases[] = {
        {"made", NamespaceDone, "201 Created"},
        {"made", NamespaceFailed, "Error: 405 Method Not Allowed"},
        {"missing parent/made", NamespaceFailed, "Error: 409 Conflict"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statusLine);
        HostRecorder::logs.clear();
        EXPECT_EQ(DavMakeCollection(*connection, Remote(c.name).c_str()), c.expected);
        std::vector<std::string> lines = HostRecorder::Lines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0], "=================");
        EXPECT_EQ(lines[1], "Create dir: " + U8(Remote(c.name)));
        EXPECT_EQ(lines[3], c.statusLine);
    }
    EXPECT_TRUE(fs::is_directory(Disk("made")));
    EXPECT_FALSE(Exists("missing parent"));
}

// Each name is made, copied, moved and deleted under its own name on the server's disk.
TEST_F(ApacheNamespaceTest, NamesWithSpacesUmlautsPercentAndHashReachTheDiskAsTyped) {
    for (const char* name : {"name with spaces", "Grüße aus Köln – Übermaß", "100% sure",
                             "#hash and % both", "%41 is not A"}) {
        SCOPED_TRACE(name);
        std::string n = name;
        Seed(n + ".txt", "content of " + n);
        EXPECT_EQ(DavMakeCollection(*connection, Remote(n + " dir").c_str()), NamespaceDone);
        EXPECT_TRUE(fs::is_directory(Disk(n + " dir")));
        EXPECT_EQ(DavMoveOrCopy(*connection, Remote(n + ".txt").c_str(),
                                Remote(n + " dir/" + n + ".txt").c_str(), 0, 0, 0),
                  NamespaceDone);
        EXPECT_EQ(Content(n + " dir/" + n + ".txt"), "content of " + n);
        EXPECT_EQ(DavMoveOrCopy(*connection, Remote(n + " dir/" + n + ".txt").c_str(),
                                Remote(n + " dir/" + n + " moved.txt").c_str(), 1, 0, 0),
                  NamespaceDone);
        EXPECT_FALSE(Exists(n + " dir/" + n + ".txt"));
        EXPECT_EQ(Content(n + " dir/" + n + " moved.txt"), "content of " + n);
        EXPECT_EQ(DavDelete(*connection, Remote(n + ".txt").c_str(), 0), NamespaceDone);
        EXPECT_FALSE(Exists(n + ".txt"));
        EXPECT_EQ(DavDelete(*connection, Remote(n + " dir").c_str(), 1), NamespaceDone);
        EXPECT_FALSE(Exists(n + " dir"));
    }
}

TEST_F(ApacheNamespaceTest, WithoutOverwriteAnExistingTargetIsKept) {
    struct Case {
        const char* name;
        int32_t move, overwrite;
        bool targetExists;
        int32_t expected;
        bool sourceStays;
        const char* targetContent;
    } cases[] = {
        {"move to a new name", 1, 0, false, NamespaceDone, false, "source"},
        {"copy to a new name", 0, 0, false, NamespaceDone, true, "source"},
        {"move onto a file", 1, 0, true, NamespaceTargetExists, true, "target"},
        {"copy onto a file", 0, 0, true, NamespaceTargetExists, true, "target"},
        {"move onto a file, overwriting", 1, 1, true, NamespaceDone, false, "source"},
        {"copy onto a file, overwriting", 0, 1, true, NamespaceDone, true, "source"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string sub = "case" + std::to_string(index++);
        MakeDir(sub);
        Seed(sub + "/s.txt", "source");
        if (c.targetExists)
            Seed(sub + "/t.txt", "target");
        EXPECT_EQ(DavMoveOrCopy(*connection, Remote(sub + "/s.txt").c_str(),
                                Remote(sub + "/t.txt").c_str(), c.move, c.overwrite, 0),
                  c.expected);
        EXPECT_EQ(Exists(sub + "/s.txt"), c.sourceStays);
        EXPECT_EQ(Content(sub + "/t.txt"), c.targetContent);
    }
}

TEST_F(ApacheNamespaceTest, CollectionsAreCopiedMovedAndDeletedWithTheirMembers) {
    Open(env["DAV_URL"], "apacheDirWithSlash=1\n");
    MakeDir("tree/sub");
    Seed("tree/a.txt", "a");
    Seed("tree/sub/b.txt", "b");
    EXPECT_EQ(DavMoveOrCopy(*connection, Remote("tree").c_str(), Remote("copy").c_str(), 0, 0, 1),
              NamespaceDone);
    EXPECT_EQ(Content("copy/sub/b.txt"), "b");
    EXPECT_EQ(DavMoveOrCopy(*connection, Remote("copy").c_str(), Remote("moved").c_str(), 1, 0, 1),
              NamespaceDone);
    EXPECT_FALSE(Exists("copy"));
    EXPECT_EQ(Content("moved/a.txt"), "a");
    EXPECT_EQ(DavDelete(*connection, Remote("tree").c_str(), 1), NamespaceDone);
    EXPECT_FALSE(Exists("tree"));
    EXPECT_TRUE(AccessLogHas("DELETE /dav/" + folder + "/tree/ HTTP/1.1"));

    HostRecorder::logs.clear();
    EXPECT_EQ(DavDelete(*connection, Remote("tree").c_str(), 1), NamespaceFailed);
    EXPECT_EQ(HostRecorder::Lines().back(), "Error: 404 Not Found");
}

TEST_F(ApacheNamespaceTest, TheSlashRuleShowsInTheRequestLine) {
    struct Case {
        int32_t slashRule, isDirectory;
        const char* ending;
    } cases[] = {
        {1, 1, "/"},
        {1, 0, ""},
        {0, 1, ""},
    };
    int index = 0;
    for (const Case& c : cases) {
        std::string name = "dir" + std::to_string(index++);
        SCOPED_TRACE(name);
        MakeDir(name);
        Open(env["DAV_URL"], "apacheDirWithSlash=" + std::to_string(c.slashRule) + "\n");
        EXPECT_EQ(DavDelete(*connection, Remote(name).c_str(), c.isDirectory), NamespaceDone);
        EXPECT_FALSE(Exists(name));
        EXPECT_TRUE(AccessLogHas("DELETE /dav/" + folder + "/" + name + c.ending + " HTTP/1.1"));
    }
}

// A partial delete: Apache removes what it may and lists the rest in a 207.
TEST_F(ApacheNamespaceTest, ADeleteThatLeavesMembersBehindFails) {
    MakeDir("tree/kept");
    Seed("tree/gone.txt", "x");
    Seed("tree/kept/stays.txt", "y");
    fs::permissions(Disk("tree/kept"), fs::perms::owner_write | fs::perms::group_write,
                    fs::perm_options::remove);
    EXPECT_EQ(DavDelete(*connection, Remote("tree").c_str(), 1), NamespaceFailed);
    EXPECT_TRUE(Contains(HostRecorder::Lines(), "207 Multi-Status"));
    EXPECT_FALSE(Exists("tree/gone.txt"));
    EXPECT_TRUE(Exists("tree/kept/stays.txt"));
}

TEST_F(ApacheNamespaceTest, RedirectionsAreFollowedToTheNewPath) {
    struct Case {
        const char* prefix;
        bool move;
    } cases[] = {
        {"/redirect", false},
        {"/redirect302", false},
        {"/redirect", true},
        {"/redirect302", true},
    };
    Open("http://" + env["HOST"] + ":" + env["HTTP_PORT"] + "/");
    int index = 0;
    for (const Case& c : cases) {
        std::string name = "f" + std::to_string(index++) + ".txt";
        SCOPED_TRACE(std::string(c.prefix) + (c.move ? " MOVE" : " DELETE"));
        Seed(name, "x");
        HostRecorder::logs.clear();
        int32_t result = c.move ? DavMoveOrCopy(*connection, Remote(name, c.prefix).c_str(),
                                                Remote("moved " + name).c_str(), 1, 0, 0)
                                : DavDelete(*connection, Remote(name, c.prefix).c_str(), 0);
        EXPECT_EQ(result, NamespaceDone);
        EXPECT_FALSE(Exists(name));
        EXPECT_EQ(Exists("moved " + name), c.move);
        std::vector<std::string> lines = HostRecorder::Lines();
        auto redirecting = std::find(lines.begin(), lines.end(), "Redirecting to new URL:");
        ASSERT_NE(redirecting, lines.end());
        ASSERT_NE(redirecting + 1, lines.end());
        EXPECT_EQ(redirecting[1], "/dav/" + folder + "/" + name);
        EXPECT_EQ(Count(lines, "Redirecting to new URL:"), 1u);
    }
}

TEST_F(ApacheNamespaceTest, OverHttpsTheDestinationNamesTheSecureServer) {
    Open(env["HTTPS_DAV_URL"], "ssl=1\n");
    std::u16string ca = U16(env["CA_CERT"]);
    ASSERT_TRUE(NetSetOption(connection->sessionHandle, kNetOptionTrustedCaFile, ca.c_str(),
                             static_cast<uint32_t>(ca.size() + 1)));
    Seed("s.txt", "secure");
    EXPECT_EQ(DavMoveOrCopy(*connection, Remote("s.txt").c_str(), Remote("t.txt").c_str(), 1, 0, 0),
              NamespaceDone);
    EXPECT_EQ(Content("t.txt"), "secure");
    EXPECT_FALSE(Exists("s.txt"));
}

// A handshake that wants a client certificate: MKCOL and DELETE take the connection's
// certificate and send again; MOVE and COPY take it but fail.
TEST_F(ApacheNamespaceTest, AClientCertificateIsSentAgainOnlyByMakeCollectionAndDelete) {
    fs::create_directory(dir.File("certificates"));
    fs::copy_file(env["CLIENT_CERT_PEM"], dir.File("certificates/mine.pem"));
    CopyBoundedW(Plugin().settingsPath, U16(file).c_str(), kNameLimit);
    std::u16string ca = U16(env["CA_CERT"]);
    std::string resending = "Re-Sending request using client certificate: " + env["CLIENT_CERT_CN"];
    struct Case {
        const char* name;
        int32_t expected;
    } cases[] = {{"made", NamespaceDone}, {"move", NamespaceFailed}, {"delete", NamespaceDone}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CloseCertificateStore();
        Open(env["CLIENT_CERT_HANDSHAKE_URL"],
             "ssl=1\nssl_cert_issuer=" + env["CLIENT_CERT_CN"] + "\nssl_cert_serial=oQUEAwIB\n");
        ASSERT_TRUE(NetSetOption(connection->sessionHandle, kNetOptionTrustedCaFile, ca.c_str(),
                                 static_cast<uint32_t>(ca.size() + 1)));
        int32_t result =
            std::string(c.name) == "made"   ? DavMakeCollection(*connection, Remote("made").c_str())
            : std::string(c.name) == "move" ? DavMoveOrCopy(*connection, Remote("made").c_str(),
                                                            Remote("moved").c_str(), 1, 0, 1)
                                            : DavDelete(*connection, Remote("made").c_str(), 1);
        EXPECT_EQ(result, c.expected);
        EXPECT_TRUE(Contains(HostRecorder::Lines(), resending));
    }
    EXPECT_FALSE(Exists("made"));
    EXPECT_FALSE(Exists("moved"));
    CloseCertificateStore();
}

// The scripted server answers what Apache does not: 412 to anything, a 2xx outside 200-209,
// endless redirections and bodies.
class ApacheScriptedNamespaceTest : public ServersTest {
  protected:
    void SetUp() override {
        ServersTest::SetUp();
        if (IsSkipped())
            return;
        Open(env["SCRIPTED_URL"]);
    }
};

TEST_F(ApacheScriptedNamespaceTest, OnlyA412WithoutOverwriteMeansTheTargetExists) {
    enum Op { MakeCollection, Move, Copy, Delete };
    struct Case {
        const char* exchange;
        Op op;
        int32_t overwrite, expected;
    } cases[] = {
        {"/status-412", Copy, 0, NamespaceTargetExists},
        {"/status-412", Move, 0, NamespaceTargetExists},
        {"/status-412", Copy, 1, NamespaceFailed},
        {"/status-412", Delete, 0, NamespaceFailed},
        {"/status-412", MakeCollection, 0, NamespaceFailed},
        {"/status-250", MakeCollection, 0, NamespaceFailed},
        {"/status-250", Move, 1, NamespaceFailed},
        {"/status-250", Delete, 0, NamespaceFailed},
        {"/hello", MakeCollection, 0, NamespaceDone},
        {"/hello", Copy, 0, NamespaceDone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.exchange) + " " + std::to_string(c.op));
        std::u16string path = Remote("x", c.exchange);
        std::u16string target = Remote("y", c.exchange);
        int32_t result = c.op == MakeCollection ? DavMakeCollection(*connection, path.c_str())
                         : c.op == Delete       ? DavDelete(*connection, path.c_str(), 0)
                                          : DavMoveOrCopy(*connection, path.c_str(), target.c_str(),
                                                          c.op == Move, c.overwrite, 0);
        EXPECT_EQ(result, c.expected);
    }
}

TEST_F(ApacheScriptedNamespaceTest, EndlessRedirectionStopsAfterElevenRequests) {
    for (const char* method : {"DELETE", "MOVE"}) {
        SCOPED_TRACE(method);
        HostRecorder::logs.clear();
        std::u16string path = Remote("x", "/loop");
        int32_t result =
            std::string(method) == "DELETE"
                ? DavDelete(*connection, path.c_str(), 0)
                : DavMoveOrCopy(*connection, path.c_str(), Remote("y", "/loop").c_str(), 1, 0, 0);
        EXPECT_EQ(result, NamespaceFailed);
        std::vector<std::string> lines = HostRecorder::Lines();
        EXPECT_EQ(Count(lines, std::string(method) + " /loop/"), 11u);
        EXPECT_EQ(Count(lines, "Redirecting to new URL:"), 10u);
        EXPECT_EQ(Count(lines, "/loop/"), 10u) << "each new path on a line of its own";
    }
}

// Only a Location on the connection's own server is followed; a path alone is taken whole.
TEST_F(ApacheScriptedNamespaceTest, RedirectionsElsewhereAreNotFollowed) {
    struct Case {
        const char* exchange;
        int32_t expected;
        const char* secondRequest;  // nullptr: none
    } cases[] = {
        {"/redirect-relative", NamespaceDone, "DELETE /hello/after-relative-redirect HTTP/1.1"},
        {"/redirect-elsewhere", NamespaceFailed, nullptr},
        {"/redirect-other-port", NamespaceFailed, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exchange);
        HostRecorder::logs.clear();
        EXPECT_EQ(DavDelete(*connection, Remote("x", c.exchange).c_str(), 0), c.expected);
        std::vector<std::string> lines = HostRecorder::Lines();
        EXPECT_EQ(Count(lines, "DELETE /"), c.secondRequest != nullptr ? 2u : 1u);
        if (c.secondRequest != nullptr)
            EXPECT_TRUE(Contains(lines, c.secondRequest));
        else
            EXPECT_FALSE(Contains(lines, "Redirecting to new URL:"));
    }
}

TEST_F(ApacheScriptedNamespaceTest, AnEndlessBodyIsLeftUnreadAndTheStatusCounts) {
    EXPECT_EQ(DavDelete(*connection, Remote("x", "/endless-body").c_str(), 0), NamespaceDone);
    EXPECT_EQ(DavMakeCollection(*connection, Remote("x", "/endless-body").c_str()), NamespaceDone);
}

}  // namespace
}  // namespace vodarezazuv
