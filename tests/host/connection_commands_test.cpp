// Connections managed from the root as the host sees it: renaming, copying and removing one
// changes the next root listing and the host's password store.
#include <algorithm>

#include "plugin_host.h"

namespace {

using testsupport::CryptEntry;
using testsupport::PluginHost;
using testsupport::TempDir;
using testsupport::WriteFile;

class ConnectionCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        host.Init();
        host.SetCrypt();
        host.SetDefaultParams(dir.File("morlo.ini"));
        host.onCrypt = [](const CryptEntry&, char16_t*) { return 0; };
        WriteFile(dir.File("vodarezazuv.ini"),
                  "[a]\nserver=a.example\npassword=!\n[b]\nserver=b.example\n");
    }
    // The connections of the root listing, sorted: the registry keeps the places of names
    // it knew, so the order depends on earlier listings.
    std::string Connections() const {
        std::vector<std::string> names;
        for (const WIN32_FIND_DATAW& record : host.List(u"\\"))
            names.push_back(testsupport::U8(record.name));
        if (names.size() < 2)
            return "<no root listing>";
        std::sort(names.begin() + 2, names.end());  // after the help file and Quick connection
        std::string joined;
        for (size_t i = 2; i < names.size(); ++i)
            joined += (joined.empty() ? "" : "|") + names[i];
        return joined;
    }
    int32_t RenMov(const char16_t* from, const char16_t* to, int32_t move, int32_t overwrite) {
        std::u16string a = from, b = to;
        return host.Export<decltype(FsRenMovFileW)>("FsRenMovFileW")(a.data(), b.data(), move,
                                                                     overwrite, nullptr);
    }

    TempDir dir;
    PluginHost host;
};

struct Crypt {
    int32_t mode;
    std::string key, second;
    bool operator==(const Crypt&) const = default;
};

std::vector<Crypt> Calls(const std::vector<CryptEntry>& entries) {
    std::vector<Crypt> calls;
    for (const CryptEntry& entry : entries)
        calls.push_back({entry.mode, entry.key, entry.buffer});
    return calls;
}

TEST_F(ConnectionCommands, RenameAndCopyChangeTheListingAndTheStore) {
    struct Case {
        const char* name;
        const char16_t *from, *to;
        int32_t move, overwrite, expected;
        const char* listing;
        std::vector<Crypt> calls;
    } cases[] = {
        {"rename", u"\\a", u"\\c", 1, 0, FileOpOk, "b|c", {{StoreMove, "a", "c"}}},
        {"copy", u"\\a", u"\\c", 0, 0, FileOpOk, "a|b|c", {{StoreCopy, "a", "c"}}},
        {"onto an existing name", u"\\a", u"\\b", 1, 0, FileOpExists, "a|b", {}},
        {"a name without a section", u"\\x", u"\\y", 1, 0, FileOpNotFound, "a|b", {}},
    };
    std::string original = testsupport::ReadFile(dir.File("vodarezazuv.ini"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir.File("vodarezazuv.ini"), original);
        host.crypts.clear();
        EXPECT_EQ(RenMov(c.from, c.to, c.move, c.overwrite), c.expected);
        EXPECT_EQ(Calls(host.crypts), c.calls);
        EXPECT_EQ(Connections(), c.listing);
    }
    EXPECT_TRUE(host.logs.empty());
}

TEST_F(ConnectionCommands, RemovingAConnectionDropsItAndItsStoredPassword) {
    auto remove = host.Export<decltype(FsRemoveDirW)>("FsRemoveDirW");
    std::u16string a = u"\\a";
    EXPECT_EQ(remove(a.data()), 1);
    EXPECT_EQ(Calls(host.crypts), (std::vector<Crypt>{{StoreDelete, "a", "<none>"}}));
    EXPECT_EQ(Connections(), "b");
    EXPECT_EQ(host.cryptoNumberSeen, PluginHost::kCryptoNumber);
}

}  // namespace
