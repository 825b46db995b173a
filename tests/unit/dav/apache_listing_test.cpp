// Listing collections of the real servers: Apache httpd with mod_dav, squid, the TLS ports
// and the scripted server. Run as "servers.Apache*" with the servers fixture.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "../http/host_recorder.h"
#include "dav/listing.h"
#include "http/auth.h"
#include "http/connection.h"
#include "platform/front_end.h"
#include "servers_env.h"
#include "settings/password.h"
#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testing_http::HostRecorder;
using testsupport::U16;
using testsupport::U8;
namespace fs = std::filesystem;

// A front end that answers every question as told and records it.
struct AnsweringFrontEnd : FrontEnd {
    bool answer = false;
    std::vector<std::string> questions;
    int32_t MessageBox(const char16_t*, const char16_t*, MessageIcon) override {
        return kMessageBoxOk;
    }
    bool Confirm(const char16_t* question, const char16_t*) override {
        questions.push_back(U8(question));
        return answer;
    }
};

struct Listed {
    int32_t result = -1;
    std::vector<WIN32_FIND_DATAW> records;
    std::set<std::string> names;  // directories with a trailing "/"
};

class ApacheListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env = testsupport::ServersEnv();
        if (env.empty())
            GTEST_SKIP() << "needs the servers fixture (VODAREZAZUV_SERVERS_ENV)";
        setenv("TMPDIR", dir.path().c_str(), 1);
    }
    void TearDown() override {
        SetFrontEnd(nullptr);
        if (connection)
            CloseSession(*connection);
        unsetenv("TMPDIR");
    }
    void Open(const std::string& section, bool trustTestCa = false) {
        testsupport::WriteFile(file, "[test]\n" + section);
        connection = OpenConnection(u"test", U16(file).c_str());
        ASSERT_TRUE(connection);
        if (trustTestCa) {
            std::u16string ca = U16(env["CA_CERT"]);
            ASSERT_TRUE(NetSetOption(connection->sessionHandle, kNetOptionTrustedCaFile, ca.c_str(),
                                     static_cast<uint32_t>(ca.size() + 1)));
        }
    }
    Listed List(const std::u16string& remotePath) {
        Listed listed;
        ListingCursor* cursor = nullptr;
        listed.result = DavListCollection(*connection, remotePath.c_str(), &cursor);
        if (listed.result != 0) {
            EXPECT_EQ(cursor, nullptr);
            return listed;
        }
        WIN32_FIND_DATAW record;
        while (FillFindData(cursor, &record) == 0) {
            listed.records.push_back(record);
            listed.names.insert(U8(record.name) +
                                ((record.attributes & FileAttributeDirectory) ? "/" : ""));
        }
        FreeListing(cursor);
        return listed;
    }
    std::set<std::string> DiskNames(const std::string& relative) {
        return testsupport::DavDiskNames(env, relative);
    }
    std::set<std::string> Seeded(const std::set<std::string>& names) {
        return testsupport::SeededNames(names, env);
    }
    std::string Logs() {
        std::string all;
        for (const auto& log : HostRecorder::logs)
            all += log.text + "\n";
        return all;
    }
    int ScriptedRequests(const std::string& path) {
        std::string log = testsupport::FileTail(env["SCRIPTED_LOG"], 0);
        int count = 0;
        for (size_t at = log.find("\"path\": \"" + path + "\""); at != std::string::npos;
             at = log.find("\"path\": \"" + path + "\"", at + 1))
            ++count;
        return count;
    }

    HostRecorder host;
    std::map<std::string, std::string> env;
    testsupport::TempDir dir;
    std::string file = dir.File("vodarezazuv.ini");
    ConnectionPtr connection;
};

TEST_F(ApacheListingTest, TheDavFolderListsAsOnTheServersDisk) {
    Open("server=" + env["DAV_URL"] + "\nutf8urls=1\n");
    std::streamoff logStart = testsupport::FileSize(env["APACHE_ACCESS_LOG"]);
    Listed listed = List(connection->basePath);
    ASSERT_EQ(listed.result, 0) << Logs();
    EXPECT_EQ(Seeded(listed.names), Seeded(DiskNames(""))) << "names with spaces, umlauts, % and #";
    EXPECT_GE(Seeded(listed.names).size(), 10u);
    for (const WIN32_FIND_DATAW& record : listed.records) {
        if (Seeded({U8(record.name)}).empty())
            continue;  // a folder of a test running beside this one
        struct stat status {};
        std::string path = env["DAV_ROOT"] + "/" + U8(record.name);
        ASSERT_EQ(stat(path.c_str(), &status), 0) << path;
        uint64_t written = (uint64_t{record.lastWriteTime.high} << 32) | record.lastWriteTime.low;
        EXPECT_EQ(written, (static_cast<uint64_t>(status.st_mtime) + 11644473600ull) * 10000000ull)
            << path;
        if (!S_ISDIR(status.st_mode)) {
            EXPECT_EQ((uint64_t{record.sizeHigh} << 32) | record.sizeLow,
                      static_cast<uint64_t>(status.st_size))
                << path;
        }
    }
    std::string access =
        testsupport::LogTailWith(env["APACHE_ACCESS_LOG"], logStart, "PROPFIND \"/dav/\" 207");
    EXPECT_NE(access.find("PROPFIND \"/dav/\" 207"), std::string::npos) << access;
    std::string logs = Logs();
    EXPECT_NE(logs.find("=================\nGet dir: /dav\n"), std::string::npos) << logs;
    EXPECT_NE(logs.find("207 Multi-Status"), std::string::npos) << logs;
}

TEST_F(ApacheListingTest, NestedCollectionsAndTheFiveGibFile) {
    Open("server=" + env["DAV_URL"] + "\nutf8urls=1\n");
    struct Case {
        std::u16string path;
        std::string relative;
    } cases[] = {
        {u"/dav\\nested", "nested"},
        {u"/dav\\nested\\deeper\\", "nested/deeper"},
        {u"/dav\\Ordner mit Ä", "Ordner mit Ä"},
        {u"/dav\\large", "large"},
    };
    for (const Case& c : cases) {
        Listed listed = List(c.path);
        ASSERT_EQ(listed.result, 0) << c.relative << "\n" << Logs();
        EXPECT_EQ(listed.names, DiskNames(c.relative)) << c.relative;
    }
    Listed large = List(u"/dav\\large");
    ASSERT_EQ(large.records.size(), 1u);
    EXPECT_EQ(large.records[0].sizeHigh, 1u);
    EXPECT_EQ(large.records[0].sizeLow, 1073741824u);

    Listed empty = List(u"/dav\\empty-collection");
    EXPECT_EQ(empty.result, 0) << "an empty collection lists without entries";
    EXPECT_TRUE(empty.records.empty());

    HostRecorder::logs.clear();
    EXPECT_EQ(List(u"/dav\\no such folder").result, 1);
    EXPECT_NE(Logs().find("Error: 404 Not Found"), std::string::npos) << Logs();
}

TEST_F(ApacheListingTest, OneResourcesPropertiesAreAskedForByItsOwnUrl) {
    Open("server=" + env["DAV_URL"] + "\nutf8urls=1\n");
    struct Case {
        std::u16string path;
        const char* target;  // the request target
        std::string name;
        bool directory;
        uint64_t size;
    } cases[] = {
        {u"/dav\\name with spaces.txt", "/dav/name%20with%20spaces.txt", "name with spaces.txt",
         false, fs::file_size(env["DAV_ROOT"] + "/name with spaces.txt")},
        {u"/dav\\nested", "/dav/nested", "nested", true, 0},
        {u"/dav\\large\\five-gib.bin", "/dav/large/five-gib.bin", "five-gib.bin", false,
         uint64_t{5} << 30},
    };
    for (const Case& c : cases) {
        HostRecorder::logs.clear();
        std::streamoff start = testsupport::FileSize(env["APACHE_ACCESS_LOG"]);
        ListingCursor* cursor = nullptr;
        ASSERT_EQ(DavQueryResource(*connection, c.path.c_str(), &cursor), 0) << Logs();
        WIN32_FIND_DATAW record;
        ListingCursor* handed = nullptr;
        ASSERT_EQ(FillFindData(cursor, &record, &handed), 0) << c.name;
        EXPECT_EQ(handed, cursor);
        EXPECT_EQ(U8(record.name), c.name);
        EXPECT_EQ((record.attributes & FileAttributeDirectory) != 0, c.directory) << c.name;
        if (!c.directory) {
            EXPECT_EQ((uint64_t{record.sizeHigh} << 32) | record.sizeLow, c.size) << c.name;
        }
        EXPECT_NE(handed->props, nullptr);
        EXPECT_EQ(FillFindData(cursor, &record), 1) << "one resource, one entry";
        FreeListing(cursor);
        std::string line = std::string("request=\"PROPFIND ") + c.target + " HTTP/1.1\"";
        std::string access = testsupport::LogTailWith(env["APACHE_ACCESS_LOG"], start, line);
        EXPECT_NE(access.find(line), std::string::npos) << access;
        EXPECT_NE(Logs().find("=================\nFile info: " + U8(c.path) + "\n"),
                  std::string::npos)
            << Logs();
    }
    ListingCursor* cursor = reinterpret_cast<ListingCursor*>(1);
    EXPECT_EQ(DavQueryResource(*connection, u"/dav\\missing.txt", &cursor), 1);
    EXPECT_EQ(cursor, nullptr);
}

TEST_F(ApacheListingTest, AWindows1252ConnectionListsLatin1NamesOnDisk) {
    // A folder whose name is Windows-1252 bytes on the server's disk, as servers of such
    // systems have them.
    std::string folder = "cp1252-" + std::to_string(getpid()) + " \xC4rger";
    fs::path onDisk = fs::path(env["DAV_ROOT"]) / folder;
    fs::create_directory(onDisk);
    testsupport::WriteFile((onDisk / "Gr\xFC\xDF"
                                     "e.txt")
                               .string(),
                           "hi");
    struct Remover {
        fs::path path;
        ~Remover() { fs::remove_all(path); }
    } remover{onDisk};
    // Apache may run as www-data: let it read the folder.
    chmod(onDisk.c_str(), 0755);

    Open("server=" + env["DAV_URL"] + "\nutf8urls=0\n");
    Listed root = List(connection->basePath);
    ASSERT_EQ(root.result, 0) << Logs();
    std::string shown = "cp1252-" + std::to_string(getpid()) + " Ärger/";
    EXPECT_EQ(root.names.count(shown), 1u) << "decoded through the code page";
    EXPECT_EQ(root.names.count("Grüße aus Köln – Übermaß.txt"), 1u)
        << "UTF-8 escapes of a UTF-8 answer still decode as UTF-8";

    Listed inside = List(u"/dav\\" + U16(shown.substr(0, shown.size() - 1)));
    ASSERT_EQ(inside.result, 0) << Logs();
    EXPECT_EQ(inside.names, std::set<std::string>{"Grüße.txt"});
}

TEST_F(ApacheListingTest, AFailedListingIsRepeatedOnlyForSslAndProxyConnections) {
    char16_t scrambled[kNameLimit + 1];
    ASSERT_EQ(ScramblePassword(U16(env["PROXY_PASSWORD"]).c_str(), scrambled, kNameLimit + 1),
              ScrambleDone);
    struct Case {
        const char* name;  // also the scripted path below /listing-500/
        std::string proxy;
        int requests;
    } cases[] = {
        {"plain", "", 1},
        {"proxy-with-user",
         "proxynr=1\n[proxy]\nproxytype=2\nproxyserver=" + env["PROXY_AUTH"] +
             "\nproxyuser=" + env["PROXY_USER"] + "\nproxypassword=" + U8(scrambled) + "\n",
         2},
        {"proxy-without-user",
         "proxynr=1\n[proxy]\nproxytype=2\nproxyserver=" + env["PROXY"] + "\n", 1},
    };
    for (const Case& c : cases) {
        std::string path = "/listing-500/" + std::string(c.name) + "/";
        int before = ScriptedRequests(path);
        Open("server=" + env["SCRIPTED_URL"] + path.substr(1) + "\n" + c.proxy);
        EXPECT_EQ(List(connection->basePath).result, 1) << c.name;
        EXPECT_EQ(ScriptedRequests(path) - before, c.requests) << c.name << "\n" << Logs();
        CloseSession(*connection);
        connection.reset();
    }
}

TEST_F(ApacheListingTest, DetailedLogKeepsOneDebugFileWithTheLastBody) {
    Open("server=" + env["DAV_URL"] + "\ndetailedlog=1\nutf8urls=1\n");
    auto debugFiles = [&] {
        std::vector<fs::path> files;
        for (const auto& item : fs::directory_iterator(dir.path()))
            if (item.path().filename().string().rfind("DAV", 0) == 0)
                files.push_back(item.path());
        return files;
    };
    ASSERT_EQ(List(connection->basePath).result, 0);
    ASSERT_EQ(List(u"/dav\\nested").result, 0);
    std::vector<fs::path> files = debugFiles();
    ASSERT_EQ(files.size(), 1u);
    std::string body = testsupport::ReadFile(files[0].string());
    EXPECT_NE(body.find("inner%20file.txt"), std::string::npos) << "the second body";
    EXPECT_EQ(body.find("small.txt"), std::string::npos) << "not the first";
    struct stat status {};
    ASSERT_EQ(stat(files[0].c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "listings are private";
    CloseSession(*connection);
    EXPECT_TRUE(debugFiles().empty()) << "closing the connection deletes it";
}

TEST_F(ApacheListingTest, CertificateProblemsAreAskedAboutAndAcceptedOnlyWhenTheUserSaysSo) {
    struct Case {
        const char* what;
        std::string url;
        bool attachFrontEnd, answer;
        int32_t result;
    } cases[] = {
        {"no front end: refused", env["EXPIRED_CERT_URL"], false, false, 1},
        {"the user refuses", env["WRONG_NAME_CERT_URL"], true, false, 1},
        {"the user accepts an expired certificate", env["EXPIRED_CERT_URL"], true, true, 0},
        {"the user accepts another name", env["WRONG_NAME_CERT_URL"], true, true, 0},
    };
    for (const Case& c : cases) {
        AnsweringFrontEnd frontEnd;
        frontEnd.answer = c.answer;
        SetFrontEnd(c.attachFrontEnd ? &frontEnd : nullptr);
        HostRecorder::logs.clear();
        Open("server=" + c.url + "\nssl=1\nutf8urls=1\n", true);
        Listed listed = List(connection->basePath);
        EXPECT_EQ(listed.result, c.result) << c.what << "\n" << Logs();
        if (c.result == 0) {
            EXPECT_EQ(Seeded(listed.names), Seeded(DiskNames(""))) << c.what;
        }
        if (c.attachFrontEnd) {
            ASSERT_FALSE(frontEnd.questions.empty()) << c.what;
            EXPECT_NE(frontEnd.questions[0].find("The server's certificate is not trusted: "),
                      std::string::npos)
                << frontEnd.questions[0];
            // A refused listing of an ssl connection is tried twice, each asking once.
            EXPECT_EQ(frontEnd.questions.size(), c.answer ? 1u : 2u) << c.what;
        } else {
            EXPECT_NE(Logs().find("Security warning: The server's certificate is not trusted"),
                      std::string::npos)
                << Logs();
        }
        SetFrontEnd(nullptr);
        CloseSession(*connection);
        connection.reset();
    }
}

TEST_F(ApacheListingTest, TheClientCertificateIsOfferedWhenTheServerAsksForIt) {
    fs::create_directory(dir.path() + "/certificates");
    fs::copy_file(env["CLIENT_CERT_PEM"], dir.path() + "/certificates/client.pem");
    std::u16string settings = U16(file);
    CopyBoundedW(Plugin().settingsPath, settings.c_str(), kNameLimit);
    struct Case {
        const char* what;
        std::string serial;
        int32_t result;
        size_t sends;  // each send but a successful last one logs the certificate request
    } cases[] = {
        {"the store's certificate", "oQUEAwIB", 0, 1},
        // Five sends per attempt, and an ssl connection makes two attempts.
        {"no certificate matches", "AQIDBA==", 1, 10},
    };
    for (const Case& c : cases) {
        CloseCertificateStore();
        HostRecorder::logs.clear();
        Open("server=" + env["CLIENT_CERT_HANDSHAKE_URL"] +
                 "\nssl=1\nutf8urls=1\nssl_cert_issuer=" + env["CLIENT_CERT_CN"] +
                 "\nssl_cert_serial=" + c.serial + "\n",
             true);
        Listed listed = List(connection->basePath);
        ASSERT_EQ(listed.result, c.result) << c.what << "\n" << Logs();
        std::vector<std::string> lines = HostRecorder::Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "HTTP error: A client certificate is needed for authentication"),
                  static_cast<std::ptrdiff_t>(c.sends))
            << c.what << "\n"
            << Logs();
        if (c.result == 0) {
            EXPECT_EQ(Seeded(listed.names), Seeded(DiskNames("")));
            EXPECT_NE(Logs().find("Re-Sending request using client certificate: " +
                                  env["CLIENT_CERT_CN"]),
                      std::string::npos)
                << Logs();
        }
        CloseSession(*connection);
        connection.reset();
    }
    CloseCertificateStore();
}

TEST_F(ApacheListingTest, AnAbortDuringTheListingFailsWithoutARepeat) {
    // From two seconds into a wait the host is asked whether to abort, and it says so. The
    // connections go through a proxy with a user, whose failed listings are otherwise tried
    // twice.
    char16_t scrambled[kNameLimit + 1];
    ASSERT_EQ(ScramblePassword(U16(env["PROXY_PASSWORD"]).c_str(), scrambled, kNameLimit + 1),
              ScrambleDone);
    std::string proxy = "proxynr=1\n[proxy]\nproxytype=2\nproxyserver=" + env["PROXY_AUTH"] +
                        "\nproxyuser=" + env["PROXY_USER"] + "\nproxypassword=" + U8(scrambled) +
                        "\n";
    struct Case {
        const char* what;
        std::string path;  // of the scripted server
    } cases[] = {
        {"while waiting for the answer (six seconds)",
         "/listing-slow/abort-" + env["HTTP_PORT"] + "/"},
        {"while the body stalls (five seconds)", "/listing-stall/abort-" + env["HTTP_PORT"] + "/"},
    };
    for (const Case& c : cases) {
        Open("server=" + env["SCRIPTED_URL"] + c.path.substr(1) + "\n" + proxy);
        HostRecorder::progress.clear();
        HostRecorder::abortFromCall = 1;
        int before = ScriptedRequests(c.path);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(List(connection->basePath).result, 1) << c.what;
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(seconds, 1.9) << c.what;
        EXPECT_LT(seconds, 4.5) << c.what << ": the answer or the rest would have come later";
        EXPECT_EQ(ScriptedRequests(c.path) - before, 1) << c.what << ": no second attempt";
        HostRecorder::abortFromCall = 0;
        CloseSession(*connection);
        connection.reset();
    }
}

}  // namespace
}  // namespace vodarezazuv
