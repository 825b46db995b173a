// The host's view of the root: the help file, "Quick connection", then every connection
// section of the settings file.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "plugin_host.h"

namespace {

using testsupport::PluginHost;
using testsupport::TempDir;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFile;

bool GermanLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != 0)
            return std::strncmp(value, "de", 2) == 0;
    }
    return false;
}

std::string HelpFileName() {
    return GermanLocale() ? "F7=neue Verbindung.txt" : "F7=new connection.txt";
}

// The help text's length in characters, in the library's language.
uint32_t HelpTextLength() {
    return GermanLocale()
               ? U16("Pluginhilfe:\r\nF7:\tNeue Verbindung anlegen\r\nF8/Entf:\tVerbindung "
                     "l\xC3\xB6schen\r\nEnter\tVerbinden\r\nAlt+Enter\tOptionen \xC3\xA4ndern")
                     .size()
               : U16("Plugin help:\r\nF7:\tcreate new connection\r\nF8/Del:\tDelete "
                     "connection\r\nEnter\tConnect\r\nAlt+Enter Change options")
                     .size();
}

class RootListing : public ::testing::Test {
  protected:
    void SetUp() override {
        host.Init();
        host.SetDefaultParams(dir.File("morlo.ini"));
    }
    void Settings(const std::string& content) { WriteFile(dir.File("vodarezazuv.ini"), content); }

    TempDir dir;
    PluginHost host;
};

TEST_F(RootListing, ListsTheHelpFileQuickConnectionAndConnectionSectionsInFileOrder) {
    Settings(
        "[proxy]\nproxytype=2\nproxyserver=proxy:3128\n"
        "[a]\nserver=a.example/dav\n"
        "[b]\nserver=\nuser=nobody\n"
        "[c]\nuser=x\nserver=https://c.example\n"
        "[proxy2]\nproxytype=1\n");
    EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection|a|c");
}

TEST_F(RootListing, RecordsCarryTheValuesTheHostExpects) {
    Settings("[a]\nserver=x\n[c]\nserver=y\n");
    auto records = host.List(u"\\");
    ASSERT_EQ(records.size(), 4u);

    WIN32_FIND_DATAW help{};
    help.lastWriteTime = {0xFFFFFFFEu, 0xFFFFFFFFu};
    help.sizeLow = HelpTextLength();
    auto name = U16(HelpFileName());
    std::copy(name.begin(), name.end(), help.name);
    EXPECT_EQ(std::memcmp(&records[0], &help, sizeof help), 0)
        << "help file: attributes 0, no date, size " << help.sizeLow << ", all else zero";

    // Every connection entry, not only the first: a directory, size 0, no date.
    const char16_t* names[] = {u"Quick connection", u"a", u"c"};
    for (size_t i = 1; i < records.size(); ++i) {
        WIN32_FIND_DATAW expected{};
        expected.attributes = 0x10;
        expected.lastWriteTime = {0xFFFFFFFEu, 0xFFFFFFFFu};
        std::u16string entry = names[i - 1];
        std::copy(entry.begin(), entry.end(), expected.name);
        EXPECT_EQ(std::memcmp(&records[i], &expected, sizeof expected), 0) << U8(entry);
    }
}

TEST_F(RootListing, EmptyOrMissingSettingsFileListsOnlyQuickConnection) {
    EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection");
    Settings("");
    EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection");
    EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection") << "every rebuild";
}

TEST_F(RootListing, FollowsTheFileAcrossRebuilds) {
    Settings("[a]\nserver=x\n[b]\nserver=y\n");
    ASSERT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection|a|b");
    // A section added at the front of the file still comes after the known entries.
    Settings("[new]\nserver=z\n[a]\nserver=x\n[b]\nserver=y\n");
    EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection|a|b|new");
    // A removed section leaves; its connection was never open.
    Settings("[new]\nserver=z\n[b]\nserver=y\n");
    EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection|b|new");
    // The same section in other letter case is the same entry, which keeps its name.
    Settings("[NEW]\nserver=z\n[B]\nserver=y\n");
    EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection|b|new");
    // A section whose server was emptied is no connection any more.
    Settings("[new]\nserver=\n[b]\nserver=y\n");
    EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection|b");
}

TEST_F(RootListing, LongConnectionNamesAreCutTo259Characters) {
    std::string longName(300, 'n');
    Settings("[" + longName + "]\nserver=x\n");
    auto records = host.List(u"\\");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(U8(records[2].name), longName.substr(0, 259));
}

TEST_F(RootListing, NonAsciiNamesArriveAsUtf16) {
    Settings("[J\xC3\xBCrgen \xE2\x82\xAC]\nserver=x\n[\xE6\x97\xA5\xE6\x9C\xAC]\nserver=y\n");
    EXPECT_EQ(
        host.ListNames(u"\\"),
        HelpFileName() + "|Quick connection|J\xC3\xBCrgen \xE2\x82\xAC|\xE6\x97\xA5\xE6\x9C\xAC");
}

TEST_F(RootListing, InvalidHandlesAndPathsBelowTheRoot) {
    auto next = host.Export<decltype(FsFindNextW)>("FsFindNextW");
    auto close = host.Export<decltype(FsFindClose)>("FsFindClose");
    WIN32_FIND_DATAW record;
    EXPECT_EQ(next(FS_INVALID_HANDLE, &record), 0);
    EXPECT_EQ(close(FS_INVALID_HANDLE), 0);

    // Nothing listens on port 1: the connection cannot list anything.
    Settings("[a]\nserver=127.0.0.1:1\n");
    for (const char16_t* path : {u"\\a", u"\\a\\dir", u"/a", u"", u"\\\\", u"\\unknown"}) {
        int error = 0;
        EXPECT_TRUE(host.List(path, &error).empty()) << U8(path);
        EXPECT_EQ(error, FsErrorPathNotFound) << U8(path);
    }
    for (const auto& log : host.logs)
        EXPECT_NE(log.text, "CONNECT \\unknown") << "a name without a section opens nothing";
}

TEST_F(RootListing, TwoRootListingsAtOnceSurviveARebuild) {
    Settings("[a]\nserver=x\n[b]\nserver=y\n[c]\nserver=z\n");
    auto first = host.Export<decltype(FsFindFirstW)>("FsFindFirstW");
    auto next = host.Export<decltype(FsFindNextW)>("FsFindNextW");
    auto close = host.Export<decltype(FsFindClose)>("FsFindClose");
    char16_t root[] = u"\\";
    WIN32_FIND_DATAW record;
    void* handle = first(root, &record);
    ASSERT_NE(handle, FS_INVALID_HANDLE);
    ASSERT_EQ(next(handle, &record), 1);  // Quick connection
    ASSERT_EQ(next(handle, &record), 1);  // a
    ASSERT_EQ(next(handle, &record), 1);  // b
    // A second panel lists the root after b and c left the file.
    Settings("[a]\nserver=x\n");
    EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection|a");
    // The first listing stands on the dropped entry b and goes on over what it had, without
    // touching freed memory.
    std::string rest;
    while (next(handle, &record) != 0)
        rest += U8(record.name) + ";";
    EXPECT_EQ(rest, "c;");
    EXPECT_EQ(close(handle), 0);
}

TEST_F(RootListing, SettingsPathIsTheHostsDirectoryWithOurFileName) {
    // The host's own file name does not survive: the plugin's file sits beside it.
    WriteFile(dir.File("morlo.ini"), "[host]\nserver=host\n");
    Settings("[ours]\nserver=x\n");
    EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection|ours");
}

TEST(SettingsPath, WithoutDirectoryOrBeforeDefaultParamsItIsTheBareNameInTheWorkingDirectory) {
    TempDir dir;
    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    WriteFile("vodarezazuv.ini", "[here]\nserver=x\n");
    {
        PluginHost host;
        host.Init();
        EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection|here") << "before";
        host.SetDefaultParams("morlo.ini");
        EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection|here") << "no slash";
    }
    ASSERT_EQ(chdir(old), 0);
}

TEST(SettingsPath, DirectoriesOfAnyNameAreFound) {
    const char* names[] = {
        "J\xC3\xBCrgen",  // UTF-8
        "J\xFCrgen",      // Latin-1: not UTF-8, still a name the system gives
        "caf\xC3\xA9 \xE6\x97\xA5",
    };
    for (const char* name : names) {
        TempDir dir;
        std::string sub = dir.File(name);
        ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
        WriteFile(sub + "/vodarezazuv.ini", "[found]\nserver=x\n");
        PluginHost host;
        host.Init();
        host.SetDefaultParams(sub + "/morlo.ini");
        EXPECT_EQ(host.ListNames(u"\\"), HelpFileName() + "|Quick connection|found") << name;
    }
}

TEST(RootName, IsWebDavCutToTheBuffer) {
    PluginHost host;
    auto rootName = host.Export<decltype(FsGetDefRootName)>("FsGetDefRootName");
    struct Case {
        int32_t size;
        const char* expected;
    } cases[] = {{260, "WebDAV"}, {7, "WebDAV"}, {4, "Web"}, {1, ""}};
    for (const Case& c : cases) {
        char buffer[300];
        std::memset(buffer, '#', sizeof buffer);
        rootName(buffer, c.size);
        EXPECT_STREQ(buffer, c.expected) << c.size;
        EXPECT_EQ(buffer[c.size], '#') << "wrote past the buffer of " << c.size;
    }
}

TEST(Language, HelpFileNameAndTextFollowTheLocale) {
    TempDir dir;
    PluginHost host;
    host.Init();
    host.SetDefaultParams(dir.File("morlo.ini"));
    auto records = host.List(u"\\");
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(U8(records[0].name), HelpFileName());
    EXPECT_EQ(records[0].sizeLow, HelpTextLength());
}

}  // namespace
