// The host copies files through the library: the help text out of the root, and files from
// and to the real Apache after listing them, as the file manager does. The Apache cases run
// as "servers.Apache*" with the servers fixture.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "plugin_host.h"
#include "servers_env.h"

namespace {

using testsupport::PluginHost;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFile;
namespace fs = std::filesystem;

TEST(HelpFile, IsCopiedOutInTheLanguageOfTheProcess) {
    TempDir dir;
    PluginHost host;
    host.Init();
    host.SetDefaultParams(dir.File("morlo.ini"));
    std::u16string help;
    for (const WIN32_FIND_DATAW& record : host.List(u"\\")) {
        if ((record.attributes & FileAttributeDirectory) == 0)
            help = u"\\" + std::u16string(record.name);
    }
    ASSERT_FALSE(help.empty()) << "the root lists the help file";
    const char* locale = std::getenv("LC_ALL");
    bool german = locale != nullptr && std::string(locale).rfind("de", 0) == 0;
    std::string expected =
        german ? "Pluginhilfe:\r\nF7:\tNeue Verbindung anlegen\r\nF8/Entf:\tVerbindung l\xF6schen"
                 "\r\nEnter\tVerbinden\r\nAlt+Enter\tOptionen \xE4ndern"
               : "Plugin help:\r\nF7:\tcreate new connection\r\nF8/Del:\tDelete connection\r\n"
                 "Enter\tConnect\r\nAlt+Enter Change options";
    std::u16string local = U16(dir.File("help.txt"));
    FsRemoteInfo info{};
    auto get = host.Export<decltype(FsGetFileW)>("FsGetFileW");
    EXPECT_EQ(get(help.data(), local.data(), 0, &info), FileOpOk);
    EXPECT_EQ(ReadFile(U8(local)), expected);
    EXPECT_EQ(get(help.data(), local.data(), 0, &info), FileOpExists);
}

class ApacheHostTransfer : public ::testing::Test {
  protected:
    void SetUp() override {
        env = testsupport::ServersEnv();
        if (env.empty())
            GTEST_SKIP() << "needs the servers fixture (VODAREZAZUV_SERVERS_ENV)";
        folder = "host-transfer-" + std::to_string(::getpid());
        serverFolder = env["DAV_ROOT"] + "/" + folder;
        fs::create_directory(serverFolder);
        fs::permissions(serverFolder, fs::perms::all);
        host.Init();
        host.SetDefaultParams(dir.File("morlo.ini"));
        WriteFile(dir.File("vodarezazuv.ini"), "[conn]\nserver=" + env["DAV_URL"] + "\n");
    }
    void TearDown() override {
        std::u16string root = u"\\conn";
        host.Export<decltype(FsDisconnectW)>("FsDisconnectW")(root.data());
        std::error_code ignored;
        if (!serverFolder.empty())
            fs::remove_all(serverFolder, ignored);
    }
    // The record the listing of the test's folder gives for name.
    bool Listed(const std::string& name, WIN32_FIND_DATAW& found) {
        for (const WIN32_FIND_DATAW& record : host.List(Folder())) {
            if (U8(record.name) == name) {
                found = record;
                return true;
            }
        }
        return false;
    }
    std::u16string Folder() const { return U16("\\conn\\" + folder); }
    int32_t Get(const std::string& name, const std::string& local, int32_t flags,
                const WIN32_FIND_DATAW& record) {
        std::u16string remote = Folder() + u"\\" + U16(name);
        std::u16string localName = U16(local);
        FsRemoteInfo info{record.sizeLow, record.sizeHigh, record.lastWriteTime,
                          static_cast<int32_t>(record.attributes)};
        return host.Export<decltype(FsGetFileW)>("FsGetFileW")(remote.data(), localName.data(),
                                                               flags, &info);
    }

    std::map<std::string, std::string> env;
    std::string folder, serverFolder;
    TempDir dir;
    PluginHost host;
};

TEST_F(ApacheHostTransfer, AListedFileIsCopiedOutWithItsTimeAndBackUnderAnotherName) {
    std::string content(300000, 'x');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 % 256);
    WriteFile(serverFolder + "/report 2024.bin", content);
    fs::permissions(serverFolder + "/report 2024.bin", fs::perms::all);
    WIN32_FIND_DATAW record{};
    ASSERT_TRUE(Listed("report 2024.bin", record));

    std::string local = dir.File("report.bin");
    EXPECT_EQ(Get("report 2024.bin", local, 0, record), FileOpOk);
    EXPECT_TRUE(ReadFile(local) == content);
    struct stat local_status {
    }, remote_status{};
    ASSERT_EQ(::stat(local.c_str(), &local_status), 0);
    ASSERT_EQ(::stat((serverFolder + "/report 2024.bin").c_str(), &remote_status), 0);
    EXPECT_EQ(local_status.st_mtime, remote_status.st_mtime) << "the listed time";

    std::u16string localName = U16(local);
    std::u16string target = Folder() + u"\\copy.bin";
    auto put = host.Export<decltype(FsPutFileW)>("FsPutFileW");
    EXPECT_EQ(put(localName.data(), target.data(), 0), FileOpOk);
    EXPECT_TRUE(ReadFile(serverFolder + "/copy.bin") == content);
    EXPECT_EQ(put(localName.data(), target.data(), CopyTargetExistsA), FileOpExists);
}

TEST_F(ApacheHostTransfer, AnOverwriteThatTheServerRefusesKeepsTheLocalFile) {
    WriteFile(serverFolder + "/gone.txt", "soon gone");
    WIN32_FIND_DATAW record{};
    ASSERT_TRUE(Listed("gone.txt", record));
    fs::remove(serverFolder + "/gone.txt");  // deleted on the server after the listing
    std::string local = dir.File("gone.txt");
    WriteFile(local, "my own copy");
    EXPECT_EQ(Get("gone.txt", local, CopyOverwrite, record), FileOpReadError);
    EXPECT_EQ(ReadFile(local), "my own copy");
}

}  // namespace
