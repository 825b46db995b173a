// The host changes a real server's namespace through the library: after entering a
// connection it makes a folder, moves, copies and deletes files and removes the folder, and
// the server's disk follows. Run as "servers.Apache*" with the servers fixture.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "plugin_host.h"
#include "servers_env.h"

namespace {

using testsupport::PluginHost;
using testsupport::TempDir;
using testsupport::U16;
using testsupport::WriteFile;
namespace fs = std::filesystem;

class ApacheNamespaceCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        env = testsupport::ServersEnv();
        if (env.empty())
            GTEST_SKIP() << "needs the servers fixture (VODAREZAZUV_SERVERS_ENV)";
        folder = std::string("host-namespace-") +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                 std::to_string(::getpid());
        struct stat info {};
        ASSERT_EQ(::stat(env["DAV_ROOT"].c_str(), &info), 0);
        owner = info.st_uid;
        group = info.st_gid;
        fs::create_directory(Disk(""));
        Own("");
        host.Init();
        host.SetDefaultParams(dir.File("morlo.ini"));
        WriteFile(dir.File("vodarezazuv.ini"), "[dav]\nserver=" + env["DAV_URL"] +
                                                   "\nutf8urls=1\napacheDirWithSlash=1\n" +
                                                   "[other]\nserver=" + env["DAV_URL"] + "\n");
        ASSERT_FALSE(host.List(u"\\dav").empty()) << "entering the connection opens it";
    }
    void TearDown() override {
        if (env.empty())
            return;
        for (const char16_t* name : {u"\\dav", u"\\other"}) {
            std::u16string path = name;
            host.Export<decltype(FsDisconnectW)>("FsDisconnectW")(path.data());
        }
        std::error_code ignored;
        fs::remove_all(Disk(""), ignored);
    }
    std::string Disk(const std::string& name) const {
        return env.at("DAV_ROOT") + "/" + folder + (name.empty() ? "" : "/" + name);
    }
    void Own(const std::string& name) { ASSERT_EQ(::chown(Disk(name).c_str(), owner, group), 0); }
    void Seed(const std::string& name, const std::string& content) {
        WriteFile(Disk(name), content);
        Own(name);
    }
    // The host path of name in the test's folder of connection.
    std::u16string Path(const std::string& name, const std::string& connection = "dav") const {
        std::string path = "\\" + connection + "\\" + folder + "\\" + name;
        std::replace(path.begin(), path.end(), '/', '\\');
        return U16(path);
    }
    int32_t RenMov(const std::string& from, const std::string& to, int32_t move, int32_t overwrite,
                   int32_t attributes = 0, const std::string& toConnection = "dav") {
        std::u16string a = Path(from), b = Path(to, toConnection);
        FsRemoteInfo info{0, 0, {0, 0}, attributes};
        return host.Export<decltype(FsRenMovFileW)>("FsRenMovFileW")(a.data(), b.data(), move,
                                                                     overwrite, &info);
    }
    template <typename Function>
    int32_t Call(const char* name, const std::string& path) {
        std::u16string p = Path(path);
        return host.Export<Function>(name)(p.data());
    }

    std::map<std::string, std::string> env;
    std::string folder;
    uid_t owner = 0;
    gid_t group = 0;
    TempDir dir;
    PluginHost host;
};

TEST_F(ApacheNamespaceCommands, MakeMoveCopyDeleteAndRemoveReachTheDisk) {
    Seed("a file.txt", "first");
    EXPECT_EQ(Call<decltype(FsMkDirW)>("FsMkDirW", "Neuer Ordner ä"), 1);
    EXPECT_TRUE(fs::is_directory(Disk("Neuer Ordner ä")));
    EXPECT_EQ(Call<decltype(FsMkDirW)>("FsMkDirW", "Neuer Ordner ä"), 0) << "it exists";

    EXPECT_EQ(RenMov("a file.txt", "Neuer Ordner ä/moved #1.txt", 1, 0), FileOpOk);
    EXPECT_FALSE(fs::exists(Disk("a file.txt")));
    EXPECT_EQ(RenMov("Neuer Ordner ä/moved #1.txt", "copy 100%.txt", 0, 0), FileOpOk);
    EXPECT_EQ(testsupport::ReadFile(Disk("copy 100%.txt")), "first");

    Seed("other.txt", "second");
    EXPECT_EQ(RenMov("other.txt", "copy 100%.txt", 0, 0), FileOpExists);
    EXPECT_EQ(testsupport::ReadFile(Disk("copy 100%.txt")), "first") << "kept without overwrite";
    EXPECT_EQ(RenMov("other.txt", "copy 100%.txt", 1, 1), FileOpOk);
    EXPECT_EQ(testsupport::ReadFile(Disk("copy 100%.txt")), "second");

    EXPECT_EQ(RenMov("Neuer Ordner ä", "renamed folder", 1, 0, FileAttributeDirectory), FileOpOk);
    EXPECT_TRUE(fs::exists(Disk("renamed folder/moved #1.txt")));

    EXPECT_EQ(Call<decltype(FsDeleteFileW)>("FsDeleteFileW", "copy 100%.txt"), 1);
    EXPECT_FALSE(fs::exists(Disk("copy 100%.txt")));
    EXPECT_EQ(Call<decltype(FsDeleteFileW)>("FsDeleteFileW", "copy 100%.txt"), 0) << "it is gone";
    EXPECT_EQ(Call<decltype(FsRemoveDirW)>("FsRemoveDirW", "renamed folder"), 1);
    EXPECT_FALSE(fs::exists(Disk("renamed folder")));
    EXPECT_TRUE(fs::is_empty(Disk("")));
}

TEST_F(ApacheNamespaceCommands, MovingToAnotherConnectionSendsNothing) {
    Seed("stays.txt", "x");
    ASSERT_FALSE(host.List(u"\\other").empty());
    std::streamoff before = testsupport::FileSize(env["APACHE_ACCESS_LOG"]);
    host.logs.clear();
    EXPECT_EQ(RenMov("stays.txt", "moved.txt", 1, 1, 0, "other"), FileOpNotFound);
    EXPECT_EQ(RenMov("stays.txt", "copied.txt", 0, 0, 0, "other"), FileOpNotFound);
    EXPECT_TRUE(fs::exists(Disk("stays.txt")));
    EXPECT_TRUE(host.logs.empty());
    // A listing of the folder afterwards: once Apache has logged it, a MOVE or COPY sent
    // before it would have been logged too.
    EXPECT_FALSE(host.List(U16("\\dav\\" + folder)).empty());
    std::string marker = "PROPFIND \"/dav/" + folder + "/\"", tail;
    for (int i = 0; i < 50 && tail.find(marker) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        tail = testsupport::FileTail(env["APACHE_ACCESS_LOG"], before);
    }
    ASSERT_NE(tail.find(marker), std::string::npos);
    for (const char* method : {"MOVE", "COPY"})
        EXPECT_EQ(tail.find(std::string(method) + " \"/dav/" + folder), std::string::npos);
}

TEST_F(ApacheNamespaceCommands, AttributesAndTimesAreNotChanged) {
    Seed("f.txt", "x");
    host.logs.clear();
    std::u16string path = Path("f.txt");
    FILETIME time{0x12345678, 0x01D00000};
    EXPECT_EQ(host.Export<decltype(FsSetAttrW)>("FsSetAttrW")(path.data(), 0x01), 0);
    EXPECT_EQ(host.Export<decltype(FsSetTimeW)>("FsSetTimeW")(path.data(), nullptr, nullptr, &time),
              0);
    ASSERT_EQ(host.logs.size(), 2u);
    EXPECT_EQ(host.logs[0].type, LogTypeDetail);
    EXPECT_EQ(host.logs[0].text, "Set file attributes not implemented, sorry");
    EXPECT_EQ(host.logs[1].type, LogTypeDetail);
    EXPECT_EQ(host.logs[1].text, "Set Date/Time not implemented, sorry");
}

}  // namespace
