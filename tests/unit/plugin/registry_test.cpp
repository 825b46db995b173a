#include "plugin/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/connection.h"
#include "plugin/plugin_state.h"
#include "temp_dir.h"
#include "vodarezazuv/fs_plugin.h"

namespace vodarezazuv {
namespace {

using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFile;

class RegistryTest : public ::testing::Test {
  protected:
    std::string Names() {
        std::string names;
        char16_t name[kNameLimit + 1];
        for (auto entry = FirstEntryName(registry, name, kNameLimit); entry;
             entry = NextEntryName(entry, name, kNameLimit)) {
            names += (names.empty() ? "" : "|") + U8(name);
        }
        return names;
    }
    void Refresh(const std::string& settings) {
        WriteFile(file, settings);
        RefreshRegistry(registry, path.c_str(), kQuickConnectionName);
    }
    static ConnectionPtr Open() { return ConnectionPtr(new Connection); }

    testsupport::TempDir dir;
    std::string file = dir.File("vodarezazuv.ini");
    std::u16string path = U16(file);
    ConnectionRegistry registry;
};

TEST_F(RegistryTest, AnOpenConnectionKeepsItsEntryUntilItIsDropped) {
    Refresh("[a]\nserver=x\n[b]\nserver=y\n");
    ASSERT_EQ(Names(), "Quick connection|a|b");
    EXPECT_EQ(SetConnection(registry, u"A", Open()), 1);
    EXPECT_NE(FindConnection(registry, u"a"), nullptr);

    Refresh("[b]\nserver=y\n");
    EXPECT_EQ(Names(), "Quick connection|a|b") << "a's connection is open";
    EXPECT_EQ(SetConnection(registry, u"a", nullptr), 1);
    Refresh("[b]\nserver=y\n");
    EXPECT_EQ(Names(), "Quick connection|b");
    EXPECT_EQ(SetConnection(registry, u"a", Open()), 0) << "no entry, nothing stored";
    EXPECT_EQ(FindConnection(registry, u"a"), nullptr);
}

TEST_F(RegistryTest, QuickConnectionComesFirstAndOnlyOnce) {
    Refresh("[a]\nserver=x\n[quick CONNECTION]\nserver=q\n[b]\nserver=y\n");
    EXPECT_EQ(Names(), "Quick connection|a|b") << "one entry, with the pseudo entry's name";
    Refresh("[a]\nserver=x\n[b]\nserver=y\n");
    EXPECT_EQ(Names(), "Quick connection|a|b") << "the pseudo entry is never dropped";
    Refresh("");
    EXPECT_EQ(Names(), "Quick connection");
}

TEST_F(RegistryTest, WithoutPseudoNameOnlyConnectionsAreListed) {
    WriteFile(file, "[a]\nserver=x\n");
    RefreshRegistry(registry, path.c_str(), nullptr);
    EXPECT_EQ(Names(), "a");
}

TEST_F(RegistryTest, SectionNamesBeyondTheListBufferAreNotSeen) {
    std::string settings;
    for (int i = 0; i < 900; ++i)
        settings += "[connection" + std::to_string(1000 + i) + "]\nserver=x\n";
    Refresh(settings);
    size_t entries = 0;
    for (auto entry = registry.head; entry; entry = entry->next)
        ++entries;
    // 14 characters and a terminator each: 8192 elements hold 546 names and the list's end.
    EXPECT_EQ(entries, 1u + 546u);
}

TEST(ConnectionNameOf, TakesTheFirstComponent) {
    struct Case {
        std::u16string path;
        size_t limit;
        std::u16string expected;
    } cases[] = {
        {u"\\conn\\dir", 259, u"conn"},
        {u"/conn/dir", 259, u"conn"},
        {u"\\\\/conn\\dir", 259, u"conn"},
        {u"\\conn", 259, u"conn"},
        {u"conn/x", 259, u"conn"},
        {u"\\", 259, u""},
        {u"", 259, u""},
        {u"\\connection\\x", 4, u"conn"},
    };
    for (const Case& c : cases) {
        char16_t buffer[300];
        ConnectionNameOf(c.path.c_str(), buffer, c.limit);
        EXPECT_EQ(std::u16string(buffer), c.expected) << U8(c.path);
    }
}

// FsDisconnectW on the plugin-wide registry.
struct DisconnectLog {
    static inline std::vector<std::pair<int32_t, std::u16string>> lines;
    static void Log(int32_t, int32_t type, char16_t* text) { lines.emplace_back(type, text); }
};

TEST_F(RegistryTest, DisconnectLogsAndDropsTheOpenConnection) {
    Registry().head.reset();
    PluginState saved = Plugin();
    Plugin().hostLog = &DisconnectLog::Log;
    WriteFile(file, "[a]\nserver=x\n");
    RefreshRegistry(Registry(), path.c_str(), kQuickConnectionName);
    ASSERT_EQ(SetConnection(Registry(), u"a", Open()), 1);

    std::u16string host = u"\\a\\dir";
    EXPECT_EQ(FsDisconnectW(host.data()), 1);
    EXPECT_EQ(FindConnection(Registry(), u"a"), nullptr);
    ASSERT_EQ(DisconnectLog::lines.size(), 1u);
    EXPECT_EQ(DisconnectLog::lines[0].first, LogTypeDisconnect);
    EXPECT_EQ(DisconnectLog::lines[0].second, u"DISCONNECT \\a");
    EXPECT_EQ(FsDisconnectW(host.data()), 1) << "a second time: nothing open, nothing logged";
    EXPECT_EQ(DisconnectLog::lines.size(), 1u);

    // With the connection closed, the entry of a deleted section goes at the next rebuild.
    ASSERT_EQ(SetConnection(Registry(), u"a", Open()), 1);
    WriteFile(file, "");
    RefreshRegistry(Registry(), path.c_str(), kQuickConnectionName);
    EXPECT_NE(FindConnection(Registry(), u"a"), nullptr) << "open: kept";
    EXPECT_EQ(FsDisconnectW(host.data()), 1);
    RefreshRegistry(Registry(), path.c_str(), kQuickConnectionName);
    char16_t name[kNameLimit + 1];
    auto first = FirstEntryName(Registry(), name, kNameLimit);
    ASSERT_TRUE(first);
    EXPECT_EQ(std::u16string(name), u"Quick connection");
    EXPECT_FALSE(first->next) << "a is gone";
    Plugin() = saved;
}

}  // namespace
}  // namespace vodarezazuv
