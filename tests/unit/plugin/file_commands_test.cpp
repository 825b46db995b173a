// The file commands as the host calls them: connections managed at the root, and the
// namespace requests below a connection, sent to a loopback server that answers every
// request with the status a case asks for and records what it was sent.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "../http/host_recorder.h"
#include "http/connection.h"
#include "loopback_server.h"
#include "platform/profile.h"
#include "plugin/plugin_state.h"
#include "plugin/registry.h"
#include "settings/password.h"
#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testing_http::HostRecorder;
using testsupport::HttpRequest;
using testsupport::U16;
using testsupport::U8;

// The host's password store with the modes the root commands use, and every call to it.
struct StoreCall {
    int32_t mode;
    std::string key, second;
    bool operator==(const StoreCall&) const = default;
};
std::vector<StoreCall> storeCalls;

int32_t RecordingCrypt(int32_t, int32_t, int32_t mode, char16_t* key, char16_t* buffer, int32_t) {
    std::string name = U8(key);
    std::string second = buffer != nullptr && mode != StoreLoad ? U8(buffer) : "";
    storeCalls.push_back({mode, name, second});
    auto& store = HostRecorder::store;
    auto found = store.find(name);
    switch (mode) {
        case StoreCopy:
        case StoreMove:
            if (found == store.end())
                return 1;
            store[second] = found->second;
            if (mode == StoreMove)
                store.erase(name);
            return 0;
        case StoreDelete:
            return store.erase(name) == 1 ? 0 : 1;
        default:
            return 1;
    }
}

std::string Reason(int status) {
    switch (status) {
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 207:
            return "Multi-Status";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 412:
            return "Precondition Failed";
        default:
            return "Whatever";
    }
}

class FileCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        address = "127.0.0.1:" + std::to_string(server.port());
        WriteSettings("[a]\nserver=http://" + address + "/dav/\n[b]\nserver=http://" + address +
                      "/other/\n[closed]\nserver=http://" + address + "/closed/\n");
        storeCalls.clear();
        Plugin().hostCrypt = &RecordingCrypt;
    }
    void TearDown() override {
        for (const char16_t* name : {u"a", u"b"}) {
            if (Connection* connection = FindConnection(Registry(), name))
                CloseSession(*connection);
            SetConnection(Registry(), name, nullptr);
        }
    }
    void WriteSettings(const std::string& text) {
        testsupport::WriteFile(file, text);
        CopyBoundedW(Plugin().settingsPath, U16(file).c_str(), kNameLimit);
    }
    // Opens connection a (and b) as a listing would, with extra settings for a.
    Connection& Open(const std::string& extraForA = "") {
        TearDown();
        WriteSettings("[a]\nserver=http://" + address + "/dav/\n" + extraForA +
                      "[b]\nserver=http://" + address + "/dav/\n[closed]\nserver=http://" +
                      address + "/closed/\n");
        RefreshRegistry(Registry(), Plugin().settingsPath, kQuickConnectionName);
        for (const char16_t* name : {u"a", u"b"}) {
            ConnectionPtr connection = OpenConnection(name, Plugin().settingsPath);
            EXPECT_TRUE(connection);
            SetConnection(Registry(), name, std::move(connection));
        }
        HostRecorder::logs.clear();
        return *FindConnection(Registry(), u"a");
    }
    std::vector<HttpRequest> Requests() const { return server.Requests(); }

    HostRecorder host;
    std::atomic<int> status{201};
    testsupport::LoopbackServer server{[this](const HttpRequest&, testsupport::Reply& reply) {
        int answer = status;
        reply.Respond(answer, Reason(answer), {}, answer == 204 ? "" : "body");
    }};
    std::string address;
    testsupport::TempDir dir;
    std::string file = dir.File("vodarezazuv.ini");
};

TEST_F(FileCommandsTest, RemoteCommandsSendTheirRequestAndLogIt) {
    Open();
    std::u16string path = u"\\a\\new dir";
    EXPECT_EQ(FsMkDirW(path.data()), 1);
    EXPECT_EQ(HostRecorder::Lines(),
              (std::vector<std::string>{"=================", "Create dir: /dav\\new dir",
                                        "MKCOL /dav/new%20dir HTTP/1.1", "201 Created"}));

    HostRecorder::logs.clear();
    std::u16string from = u"\\a\\x.txt", to = u"\\a\\y.txt";
    EXPECT_EQ(FsRenMovFileW(from.data(), to.data(), 1, 0, nullptr), FileOpOk);
    EXPECT_EQ(HostRecorder::Lines(),
              (std::vector<std::string>{"=================", "MOVE: /dav\\x.txt->/dav\\y.txt",
                                        "MOVE /dav/x.txt HTTP/1.1", "201 Created"}));

    status = 204;
    HostRecorder::logs.clear();
    std::u16string file = u"\\a\\old file.txt";
    EXPECT_EQ(FsDeleteFileW(file.data()), 1);
    EXPECT_EQ(HostRecorder::Lines(),
              (std::vector<std::string>{"=================", "File delete: /dav\\old file.txt",
                                        "DELETE /dav/old%20file.txt HTTP/1.1", "204 No Content"}));

    std::vector<HttpRequest> requests = Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].method, "MOVE");
    EXPECT_EQ(requests[1].Header("Destination"), "http://" + address + "/dav/y.txt");
    EXPECT_EQ(requests[1].Header("Overwrite"), "F");
    for (const HttpRequest& request : requests)
        EXPECT_EQ(request.version, "HTTP/1.1") << request.method;
}

TEST_F(FileCommandsTest, AnswersMapToTheHostsResults) {
    Open();
    struct Case {
        int status;
        int32_t mkdir, remove, removeDir, move, copyOverwriting;
    } cases[] = {
        {201, 1, 1, 1, FileOpOk, FileOpOk},
        {204, 1, 1, 1, FileOpOk, FileOpOk},
        // 412 means "the target exists" only when overwriting was not allowed.
        {412, 0, 0, 0, FileOpExists, FileOpNotFound},
        {405, 0, 0, 0, FileOpNotFound, FileOpNotFound},
        {404, 0, 0, 0, FileOpNotFound, FileOpNotFound},
        // A multistatus lists members that could not be deleted, moved or copied.
        {207, 1, 0, 0, FileOpNotFound, FileOpNotFound},
        // Outside 200-209 even when it is a 2xx.
        {250, 0, 0, 0, FileOpNotFound, FileOpNotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        status = c.status;
        std::u16string dirPath = u"\\a\\d", filePath = u"\\a\\f", target = u"\\a\\g";
        EXPECT_EQ(FsMkDirW(dirPath.data()), c.mkdir);
        EXPECT_EQ(FsDeleteFileW(filePath.data()), c.remove);
        EXPECT_EQ(FsRemoveDirW(dirPath.data()), c.removeDir);
        EXPECT_EQ(FsRenMovFileW(filePath.data(), target.data(), 1, 0, nullptr), c.move);
        EXPECT_EQ(FsRenMovFileW(filePath.data(), target.data(), 0, 1, nullptr), c.copyOverwriting);
    }
}

// The Destination is built from the connection's scheme, server name and port and the
// escaped target path, with the directory slash rule applied to both paths.
TEST_F(FileCommandsTest, DestinationAndSlashRuleFollowTheConnection) {
    struct Case {
        const char* name;
        int32_t ssl, port, slashRule, attributes, move, overwrite;
        const char16_t* target;
        const char* requestTarget;
        const char* destination;
        const char* overwriteHeader;  // "" when absent
    } cases[] = {
        {"https on 8443", 1, 8443, 0, 0, 1, 0, u"\\a\\b.txt", "/dav/x",
         "https://srv:8443/dav/b.txt", "F"},
        {"default port", 0, 0, 0, 0, 1, 0, u"\\a\\b.txt", "/dav/x", "http://srv/dav/b.txt", "F"},
        {"copy, overwriting", 0, 81, 0, 0, 0, 1, u"\\a\\b.txt", "/dav/x", "http://srv:81/dav/b.txt",
         ""},
        {"escaped target", 0, 0, 0, 0, 1, 0, u"\\a\\sub dir\\100% #1 Ä.txt", "/dav/x",
         "http://srv/dav/sub%20dir/100%25%20%231%20%c3%84.txt", "F"},
        {"directory, rule on", 0, 0, 1, FileAttributeDirectory, 1, 0, u"\\a\\e", "/dav/x/",
         "http://srv/dav/e/", "F"},
        {"directory, rule off", 0, 0, 0, FileAttributeDirectory, 1, 0, u"\\a\\e", "/dav/x",
         "http://srv/dav/e", "F"},
        {"file, rule on", 0, 0, 1, 0, 1, 0, u"\\a\\e", "/dav/x", "http://srv/dav/e", "F"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connection& connection =
            Open("utf8urls=1\napacheDirWithSlash=" + std::to_string(c.slashRule) + "\n");
        // The requests still go to the loopback server: only the header takes these.
        connection.ssl = c.ssl;
        connection.port = c.port;
        CopyBoundedW(connection.server, u"srv", kNameLimit);
        size_t before = Requests().size();
        FsRemoteInfo info{0, 0, {0, 0}, c.attributes};
        std::u16string from = u"\\a\\x", to = c.target;
        EXPECT_EQ(FsRenMovFileW(from.data(), to.data(), c.move, c.overwrite, &info), FileOpOk);
        std::vector<HttpRequest> requests = Requests();
        ASSERT_EQ(requests.size(), before + 1);
        EXPECT_EQ(requests.back().method, c.move != 0 ? "MOVE" : "COPY");
        EXPECT_EQ(requests.back().target, c.requestTarget);
        EXPECT_EQ(requests.back().Header("Destination"), c.destination);
        EXPECT_EQ(requests.back().HasHeader("Overwrite"), c.overwriteHeader[0] != 0);
        EXPECT_EQ(requests.back().Header("Overwrite"), c.overwriteHeader);
    }
}

TEST_F(FileCommandsTest, DeletingADirectoryAddsTheSlashOnlyWithTheRule) {
    struct Case {
        int32_t slashRule;
        bool directory;
        const char* target;
    } cases[] = {
        {1, true, "/dav/dir/"},
        {1, false, "/dav/dir"},
        {0, true, "/dav/dir"},
        {0, false, "/dav/dir"},
    };
    status = 204;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.slashRule) + (c.directory ? " directory" : " file"));
        Open("apacheDirWithSlash=" + std::to_string(c.slashRule) + "\n");
        std::u16string path = u"\\a\\dir";
        EXPECT_EQ(c.directory ? FsRemoveDirW(path.data()) : FsDeleteFileW(path.data()), 1);
        ASSERT_FALSE(Requests().empty());
        EXPECT_EQ(Requests().back().target, c.target);
    }
}

// Nothing may act on a resource other than the one the host named: paths that cannot be
// sent as they are, cut paths, other connections and the connection itself send nothing.
TEST_F(FileCommandsTest, PathsThatCannotBeSentFaithfullySendNothing) {
    std::u16string longName(800, u'x');
    std::u16string nearlyFull = u"\\a\\" + std::u16string(770, u'x');  // cut below the limit
    std::u16string manySpaces = u"\\a\\" + std::u16string(200, u' ');  // 600 escaped
    enum Command { Delete, RemoveDir, Move };
    struct Case {
        const char* name;
        Command command;
        std::u16string path, target;  // target: of a move
        int32_t expected;
        const char* line;  // the last log line, or nullptr for none at all
    } cases[] = {
        {"delete, too long", Delete, u"\\a\\" + longName, u"", 0, "Invalid Unicode name!"},
        {"remove, too long", RemoveDir, u"\\a\\" + longName, u"", 0, "Invalid Unicode name!"},
        {"delete, base path and name beyond the limit", Delete, nearlyFull + u"yyyyyyyyyy", u"", 0,
         "Invalid Unicode name!"},
        {"delete, question mark", Delete, u"\\a\\what?.txt", u"", 0, "Invalid Unicode name!"},
        {"delete, the connection itself", Delete, u"\\a\\", u"", 0, nullptr},
        {"remove, the connection itself", RemoveDir, u"\\a\\", u"", 0, nullptr},
        {"delete, a root-level name", Delete, u"\\a", u"", 0, nullptr},
        {"delete, a closed connection", Delete, u"\\closed\\f", u"", 0, nullptr},
        {"remove, a closed connection", RemoveDir, u"\\closed\\f", u"", 0, nullptr},
        {"move, source too long", Move, u"\\a\\" + longName, u"\\a\\t", FileOpNotFound,
         "Invalid source Unicode name!"},
        {"move, target too long", Move, u"\\a\\s", u"\\a\\" + longName, FileOpNotFound,
         "Invalid target Unicode name!"},
        {"move, target beyond the header", Move, u"\\a\\s", manySpaces, FileOpNotFound,
         "Invalid target Unicode name!"},
        {"move, target outside the code page", Move, u"\\b\\s", u"\\b\\\u65e5\u672c.txt",
         FileOpNotFound, "Invalid target Unicode name!"},
        {"move to another connection", Move, u"\\a\\s", u"\\b\\s", FileOpNotFound, nullptr},
        {"move onto the connection itself", Move, u"\\a\\s", u"\\a", FileOpNotFound, nullptr},
        {"move onto the connection's base", Move, u"\\a\\s", u"\\a\\", FileOpNotFound, nullptr},
        {"move from a closed connection", Move, u"\\closed\\s", u"\\closed\\t", FileOpNotFound,
         nullptr},
    };
    Open("utf8urls=1\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostRecorder::logs.clear();
        std::u16string path = c.path, target = c.target;
        int32_t result = c.command == Delete ? FsDeleteFileW(path.data())
                         : c.command == RemoveDir
                             ? FsRemoveDirW(path.data())
                             : FsRenMovFileW(path.data(), target.data(), 1, 1, nullptr);
        EXPECT_EQ(result, c.expected);
        std::vector<std::string> lines = HostRecorder::Lines();
        if (c.line == nullptr) {
            EXPECT_TRUE(lines.empty()) << lines.front();
        } else {
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.back(), c.line);
        }
    }
    EXPECT_TRUE(Requests().empty())
        << Requests().front().method << " " << Requests().front().target;
}

TEST_F(FileCommandsTest, SetAttributesAndTimesLogTheirLineAndFail) {
    Open();
    std::u16string open = u"\\a\\f.txt", closed = u"\\closed\\f.txt";
    FILETIME time{1, 2};
    EXPECT_EQ(FsSetAttrW(open.data(), 0x20), 0);
    EXPECT_EQ(FsSetTimeW(open.data(), &time, nullptr, &time), 0);
    EXPECT_EQ(FsSetTimeW(open.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(FsSetAttrW(closed.data(), 0x20), 0);
    EXPECT_EQ(FsSetTimeW(closed.data(), &time, &time, &time), 0);
    EXPECT_EQ(HostRecorder::Lines(), (std::vector<std::string>{
                                         "Set file attributes not implemented, sorry",
                                         "Set Date/Time not implemented, sorry",
                                         "Set Date/Time not implemented, sorry",
                                     }));
    EXPECT_EQ(HostRecorder::logs.size(), 3u) << "all of them detail lines";
    EXPECT_TRUE(Requests().empty());
}

TEST_F(FileCommandsTest, MakingADirectoryAtTheRootMakesNoConnection) {
    std::string before = testsupport::ReadFile(file);
    for (const char16_t* name : {u"\\Quick connection", u"\\new one", u"\\a", u"\\"}) {
        std::u16string path = name;
        EXPECT_EQ(FsMkDirW(path.data()), 0) << U8(name);
    }
    EXPECT_EQ(testsupport::ReadFile(file), before);
    EXPECT_TRUE(Requests().empty());
}

class RootCommandsTest : public FileCommandsTest {
  protected:
    void SetUp() override {
        FileCommandsTest::SetUp();
        WriteSettings("[a]\nserver=http://one/\nuser=ua\n[b]\nserver=http://two/\n");
        HostRecorder::store = {{"a", "secret-a"}, {"b", "secret-b"}};
    }
    std::string Section(const char* name) {
        char16_t keys[1024];
        ProfileGetString(U16(name).c_str(), nullptr, nullptr, keys, 1024, Plugin().settingsPath);
        return testsupport::NameList(keys);
    }
};

TEST_F(RootCommandsTest, RenameAndCopyTakeTheSectionAndTheStoredPassword) {
    struct Case {
        const char* name;
        const char16_t *from, *to;
        int32_t move, overwrite, expected;
        std::vector<StoreCall> calls;
        std::map<std::string, std::string> store;
        const char *sectionA, *sectionC;
    } cases[] = {
        {"rename",
         u"\\a",
         u"\\c",
         1,
         0,
         FileOpOk,
         {{StoreMove, "a", "c"}},
         {{"b", "secret-b"}, {"c", "secret-a"}},
         "",
         "server|user"},
        {"copy",
         u"\\a",
         u"\\c",
         0,
         0,
         FileOpOk,
         {{StoreCopy, "a", "c"}},
         {{"a", "secret-a"}, {"b", "secret-b"}, {"c", "secret-a"}},
         "server|user",
         "server|user"},
        {"onto an existing name",
         u"\\a",
         u"\\b",
         1,
         0,
         FileOpExists,
         {},
         {{"a", "secret-a"}, {"b", "secret-b"}},
         "server|user",
         ""},
        {"onto an existing name, overwriting",
         u"\\b",
         u"\\a",
         0,
         1,
         FileOpOk,
         {{StoreCopy, "b", "a"}},
         {{"a", "secret-b"}, {"b", "secret-b"}},
         "server",
         ""},
        {"a missing section",
         u"\\x",
         u"\\c",
         1,
         0,
         FileOpNotFound,
         {},
         {{"a", "secret-a"}, {"b", "secret-b"}},
         "server|user",
         ""},
        // The section keeps its name, so its password keeps its key.
        {"only the case changes",
         u"\\a",
         u"\\A",
         1,
         0,
         FileOpOk,
         {},
         {{"a", "secret-a"}, {"b", "secret-b"}},
         "server|user",
         ""},
    };
    std::string original = testsupport::ReadFile(file);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::WriteFile(file, original);
        HostRecorder::store = {{"a", "secret-a"}, {"b", "secret-b"}};
        storeCalls.clear();
        std::u16string from = c.from, to = c.to;
        EXPECT_EQ(FsRenMovFileW(from.data(), to.data(), c.move, c.overwrite, nullptr), c.expected);
        EXPECT_EQ(storeCalls, c.calls);
        EXPECT_EQ(HostRecorder::store, c.store);
        EXPECT_EQ(Section("a"), c.sectionA);
        EXPECT_EQ(Section("c"), c.sectionC);
    }
    EXPECT_TRUE(Requests().empty());
}

TEST_F(RootCommandsTest, RenamingWithoutAPasswordStoreTakesTheSectionOnly) {
    Plugin().hostCrypt = nullptr;
    std::u16string from = u"\\a", to = u"\\c";
    EXPECT_EQ(FsRenMovFileW(from.data(), to.data(), 1, 0, nullptr), FileOpOk);
    EXPECT_EQ(Section("c"), "server|user");
    EXPECT_EQ(Section("a"), "");
}

TEST_F(RootCommandsTest, RemovingAConnectionDropsItsSectionAndItsStoredPassword) {
    std::u16string a = u"\\a", empty = u"";
    EXPECT_EQ(FsRemoveDirW(a.data()), 1);
    EXPECT_EQ(Section("a"), "");
    EXPECT_EQ(Section("b"), "server");
    EXPECT_EQ(storeCalls, (std::vector<StoreCall>{{StoreDelete, "a", ""}}));
    EXPECT_EQ(HostRecorder::store, (std::map<std::string, std::string>{{"b", "secret-b"}}));

    storeCalls.clear();
    EXPECT_EQ(FsRemoveDirW(empty.data()), 0);
    EXPECT_TRUE(storeCalls.empty());

    Plugin().hostCrypt = nullptr;
    std::u16string b = u"\\b";
    EXPECT_EQ(FsRemoveDirW(b.data()), 1);
    EXPECT_EQ(Section("b"), "");
}

TEST_F(RootCommandsTest, APasswordStaysWhenItsSectionCannotBeRemoved) {
    // A folder where the settings file should be: it cannot be read, so it is not rewritten.
    std::filesystem::create_directory(dir.File("folder.ini"));
    CopyBoundedW(Plugin().settingsPath, U16(dir.File("folder.ini")).c_str(), kNameLimit);
    std::u16string a = u"\\a";
    EXPECT_EQ(FsRemoveDirW(a.data()), 0);
    EXPECT_TRUE(storeCalls.empty());
    EXPECT_EQ(HostRecorder::store.count("a"), 1u);
}

}  // namespace
}  // namespace vodarezazuv
