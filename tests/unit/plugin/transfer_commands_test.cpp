// FsGetFileW and FsPutFileW up to the point where a request would be made: the help text,
// the local name, the checks of flags and paths and their host codes. The transfers
// themselves are tested against the servers (tests/unit/dav/transfer_apache_test.cpp).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../http/host_recorder.h"
#include "http/connection.h"
#include "platform/string_resources.h"
#include "plugin/registry.h"
#include "plugin/strings.h"
#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testing_http::HostRecorder;
using testsupport::ReadFile;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFile;

class TransferCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(settings, "[conn]\nserver=x\n[closed]\nserver=y\n");
        RefreshRegistry(Registry(), U16(settings).c_str(), kQuickConnectionName);
        // A record that was never connected: whatever reaches the network fails at once.
        ConnectionPtr connection(new Connection{});
        CopyBoundedW(connection->basePath, u"/dav", kNameLimit);
        ASSERT_EQ(SetConnection(Registry(), u"conn", std::move(connection)), 1);
        LoadStringW(kStringHelpFileName, Plugin().helpFileName, std::size(Plugin().helpFileName));
        ASSERT_NE(Plugin().helpFileName[0], 0);
    }
    void TearDown() override {
        SetConnection(Registry(), u"conn", nullptr);
        SetProcessLanguage(Language::English);
    }
    int32_t Get(std::u16string remote, std::u16string& local, int32_t flags) {
        FsRemoteInfo info{100, 0, {0, 0}, 0};
        return FsGetFileW(remote.data(), local.data(), flags, &info);
    }
    std::u16string HelpPath() const { return u"\\" + std::u16string(Plugin().helpFileName); }

    HostRecorder host;
    testsupport::TempDir dir;
    std::string settings = dir.File("vodarezazuv.ini");
};

TEST_F(TransferCommandsTest, TheHelpFileIsTheHelpTextInTheAnsiCodePageWithoutTerminator) {
    struct Case {
        Language language;
        std::string expected;
    } cases[] = {
        {Language::English,
         "Plugin help:\r\nF7:\tcreate new connection\r\nF8/Del:\tDelete connection\r\n"
         "Enter\tConnect\r\nAlt+Enter Change options"},
        // Windows-1252: one byte each for the umlauts, no byte order mark.
        {Language::German,
         "Pluginhilfe:\r\nF7:\tNeue Verbindung anlegen\r\nF8/Entf:\tVerbindung l\xF6schen\r\n"
         "Enter\tVerbinden\r\nAlt+Enter\tOptionen \xE4ndern"},
    };
    for (const Case& c : cases) {
        SetProcessLanguage(c.language);
        std::u16string local = U16(dir.File("help.txt"));
        std::filesystem::remove(U8(local));
        EXPECT_EQ(Get(HelpPath(), local, 0), FileOpOk);
        EXPECT_EQ(ReadFile(U8(local)), c.expected);
    }
    EXPECT_TRUE(HostRecorder::progress.empty()) << "the help text is no transfer";
}

TEST_F(TransferCommandsTest, TheHelpFileReplacesAnExistingFileOnlyWithOverwrite) {
    struct Case {
        const char* name;
        int32_t flags;
        int32_t expected;
        bool replaced;
    } cases[] = {
        {"without overwrite", 0, FileOpExists, false},
        {"with resume only", CopyResume, FileOpExists, false},
        {"with overwrite", CopyOverwrite, FileOpOk, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::u16string local = U16(dir.File("existing.txt"));
        WriteFile(U8(local),
                  "mine, and longer than the help text ........................"
                  "............................................................");
        EXPECT_EQ(Get(HelpPath(), local, c.flags), c.expected);
        EXPECT_EQ(ReadFile(U8(local)).rfind("Plugin help:", 0) == 0, c.replaced);
    }
    std::u16string nowhere = U16(dir.File("no/such/folder/help.txt"));
    EXPECT_EQ(Get(HelpPath(), nowhere, CopyOverwrite), FileOpWriteError);
}

TEST_F(TransferCommandsTest, TheLocalFileNameIsMadeSafeInPlace) {
    struct Case {
        std::u16string local, expected;
    } cases[] = {
        // Only the part after the last "/" changes.
        {u"/tmp/a:b/c:d?e*f", u"/tmp/a:b/c_d_e_f"},
        {u"/x/pipe|quote\"back\\slash", u"/x/pipe_quote_back_slash"},
        // Control characters become blanks; < and > stay.
        {u"/x/tab\there\x01<ok>", u"/x/tab here <ok>"},
        // Without a "/" nothing changes.
        {u"plain:name", u"plain:name"},
    };
    for (Case& c : cases) {
        std::u16string local = c.local;
        EXPECT_EQ(Get(u"\\closed\\file", local, 0), FileOpReadError);
        EXPECT_EQ(U8(local.c_str()), U8(c.expected));
    }
}

TEST_F(TransferCommandsTest, GetFileAnswersBeforeAnyTransfer) {
    std::string existing = dir.File("there.txt");
    WriteFile(existing, "kept");
    struct Case {
        const char* name;
        std::u16string remote;
        std::string local;
        int32_t flags;
        int abortFromCall;
        int32_t expected;
    } cases[] = {
        {"remote path too short", u"\\a", dir.File("n1"), 0, 0, FileOpNotFound},
        {"empty local name", u"\\conn\\f", "", 0, 0, FileOpNotFound},
        {"host aborts at the start", u"\\conn\\f", dir.File("n2"), 0, 1, FileOpAborted},
        {"local file exists", u"\\conn\\f", existing, 0, 0, FileOpExistsResumable},
        {"connection not open", u"\\closed\\f", dir.File("n3"), 0, 0, FileOpReadError},
        {"unknown connection", u"\\nobody\\f", dir.File("n4"), CopyOverwrite, 0, FileOpReadError},
        // A "?" cannot travel in a request target.
        {"remote name not escapable", u"\\conn\\what?", dir.File("n5"), 0, 0, FileOpNotFound},
        // The connection itself is its base folder, no file.
        {"the connection", u"\\conn", dir.File("n7"), CopyOverwrite, 0, FileOpNotFound},
        {"the connection with a separator", u"\\conn\\", dir.File("n8"), 0, 0, FileOpNotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostRecorder::progress.clear();
        HostRecorder::abortFromCall = c.abortFromCall;
        std::u16string local = U16(c.local);
        EXPECT_EQ(Get(c.remote, local, c.flags), c.expected);
    }
    EXPECT_EQ(ReadFile(existing), "kept");
    std::u16string remote = u"\\conn\\f";
    std::u16string local = U16(dir.File("n6"));
    EXPECT_EQ(FsGetFileW(remote.data(), local.data(), 0, nullptr), FileOpNotFound);
    EXPECT_EQ(FsGetFileW(nullptr, local.data(), 0, nullptr), FileOpNotFound);
}

TEST_F(TransferCommandsTest, PutFileAnswersBeforeAnyTransfer) {
    std::string local = dir.File("upload.txt");
    WriteFile(local, "data");
    struct Case {
        const char* name;
        std::string local;
        std::u16string remote;
        int32_t flags;
        int abortFromCall;
        int32_t expected;
        bool asksHost;
    } cases[] = {
        {"target exists, no overwrite", local, u"\\conn\\f", CopyTargetExistsA, 0, FileOpExists,
         false},
        {"other target-exists bit", local, u"\\conn\\f", CopyTargetExistsB, 0, FileOpExists, false},
        {"remote path too short", local, u"\\c", 0, 0, FileOpWriteError, false},
        {"no local name", "", u"\\conn\\f", 0, 0, FileOpReadError, false},
        {"host aborts at the start", local, u"\\conn\\f", 0, 1, FileOpAborted, true},
        {"connection not open", local, u"\\closed\\f", 0, 0, FileOpReadError, true},
        {"resume", local, u"\\conn\\f", CopyResume | CopyTargetExistsA, 0, FileOpNotSupported,
         true},
        {"remote name not escapable", local, u"\\conn\\what?", 0, 0, FileOpWriteError, true},
        {"local file missing", dir.File("missing"), u"\\conn\\f", 0, 0, FileOpReadError, true},
        // A file copied to the root under a connection's name would replace its base folder.
        {"onto the connection", local, u"\\conn", CopyOverwrite, 0, FileOpWriteError, false},
        {"onto the connection with a separator", local, u"\\conn\\/", CopyOverwrite, 0,
         FileOpWriteError, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostRecorder::progress.clear();
        HostRecorder::abortFromCall = c.abortFromCall;
        std::u16string localName = U16(c.local);
        std::u16string remote = c.remote;
        EXPECT_EQ(FsPutFileW(localName.data(), remote.data(), c.flags), c.expected);
        ASSERT_EQ(HostRecorder::progress.size(), c.asksHost ? 1u : 0u);
        if (c.asksHost) {
            EXPECT_EQ(HostRecorder::progress[0].source, c.local);
            EXPECT_EQ(HostRecorder::progress[0].target, U8(c.remote));
            EXPECT_EQ(HostRecorder::progress[0].percent, 0);
        }
    }
}

}  // namespace
}  // namespace vodarezazuv
