// Commands the host may send before connections below the root exist: each answers with
// the result for a connection that is not open, and nothing claims to work.
#include "plugin_host.h"

namespace {

using testsupport::PluginHost;
using testsupport::TempDir;
using testsupport::WriteFile;

class FileCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        host.Init();
        host.SetDefaultParams(dir.File("morlo.ini"));
        WriteFile(dir.File("vodarezazuv.ini"), "[a]\nserver=x\n");
        ASSERT_FALSE(host.List(u"\\").empty());
    }
    TempDir dir;
    PluginHost host;
};

TEST_F(FileCommands, AnswerWithTheirFailureValues) {
    char16_t remote[] = u"\\a\\file.txt";
    char16_t local[] = u"/tmp/file.txt";
    char16_t other[] = u"\\a\\other.txt";
    FsRemoteInfo info{};
    EXPECT_EQ(host.Export<decltype(FsMkDirW)>("FsMkDirW")(remote), 0);
    EXPECT_EQ(host.Export<decltype(FsDeleteFileW)>("FsDeleteFileW")(remote), 0);
    EXPECT_EQ(host.Export<decltype(FsRemoveDirW)>("FsRemoveDirW")(remote), 0);
    EXPECT_EQ(host.Export<decltype(FsSetAttrW)>("FsSetAttrW")(remote, 0), 0);
    EXPECT_EQ(host.Export<decltype(FsSetTimeW)>("FsSetTimeW")(remote, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(host.Export<decltype(FsGetFileW)>("FsGetFileW")(remote, local, 0, &info),
              FileOpReadError);
    EXPECT_EQ(host.Export<decltype(FsPutFileW)>("FsPutFileW")(local, remote, 0), FileOpReadError);
    EXPECT_EQ(host.Export<decltype(FsRenMovFileW)>("FsRenMovFileW")(remote, other, 1, 0, &info),
              FileOpNotFound);
    EXPECT_FALSE(testsupport::ReadFile(dir.File("vodarezazuv.ini")).empty());
}

TEST_F(FileCommands, OpenIsLeftToTheHostInAnyLetterCase) {
    auto execute = host.Export<decltype(FsExecuteFileW)>("FsExecuteFileW");
    char16_t path[] = u"\\a\\file.txt";
    struct Case {
        std::u16string verb;
        int32_t expected;
    } cases[] = {
        {u"open", ExecByHost}, {u"OPEN", ExecByHost},      {u"Open", ExecByHost},
        {u"quote", ExecError}, {u"properties", ExecError}, {u"", ExecError},
    };
    for (Case& c : cases)
        EXPECT_EQ(execute(nullptr, path, c.verb.data()), c.expected);
}

TEST_F(FileCommands, DisconnectingWhatIsNotOpenSucceedsQuietly) {
    auto disconnect = host.Export<decltype(FsDisconnectW)>("FsDisconnectW");
    for (std::u16string path : {u"\\a", u"\\a\\dir", u"\\", u"\\unknown"}) {
        EXPECT_EQ(disconnect(path.data()), 1);
    }
    EXPECT_TRUE(host.logs.empty());
}

}  // namespace
