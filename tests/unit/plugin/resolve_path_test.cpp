#include "plugin/resolve_path.h"

#include <gtest/gtest.h>

#include <string>

#include "http/connection.h"
#include "plugin/plugin_state.h"
#include "plugin/registry.h"
#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testsupport::U16;
using testsupport::U8;

class ResolvePathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::WriteFile(file, "[conn]\nserver=x\n[plain]\nserver=y\n[closed]\nserver=z\n");
        RefreshRegistry(Registry(), U16(file).c_str(), kQuickConnectionName);
        Open(u"conn", u"/dav");
        Open(u"plain", u"");
    }
    void TearDown() override {
        SetConnection(Registry(), u"conn", nullptr);
        SetConnection(Registry(), u"plain", nullptr);
    }
    static void Open(const char16_t* name, const char16_t* basePath) {
        ConnectionPtr connection(new Connection{});
        CopyBoundedW(connection->basePath, basePath, kNameLimit);
        ASSERT_EQ(SetConnection(Registry(), name, std::move(connection)), 1);
    }
    // The remote path for hostPath, or "<none>:" and the path when no connection is found.
    static std::string Resolve(const char16_t* hostPath, size_t limit = kLongPathLimit) {
        char16_t remote[kLongPathLimit + 1] = u"untouched";
        Connection* connection = ResolvePath(hostPath, remote, limit);
        return (connection != nullptr ? "" : "<none>:") + U8(remote);
    }

    testsupport::TempDir dir;
    std::string file = dir.File("vodarezazuv.ini");
};

TEST_F(ResolvePathTest, BasePathThenTheRestWithItsOwnSeparators) {
    struct Case {
        const char16_t* hostPath;
        const char* expected;
    } cases[] = {
        {u"\\conn\\a\\b.txt", "/dav\\a\\b.txt"},
        {u"/conn/a/b.txt", "/dav/a/b.txt"},
        {u"\\CONN\\a", "/dav\\a"},
        {u"\\conn", "/dav"},
        {u"\\conn\\", "/dav\\"},
        {u"\\\\conn\\x", "/dav\\x"},
        {u"\\plain", "\\"},
        {u"\\plain\\sub\\f", "\\sub\\f"},
        {u"\\", "<none>:\\"},
        {u"\\closed\\x", "<none>:\\"},
        {u"\\unknown", "<none>:\\"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Resolve(c.hostPath), c.expected) << U8(c.hostPath);
}

TEST_F(ResolvePathTest, TheLimitCutsTheRemotePath) {
    EXPECT_EQ(Resolve(u"\\conn\\abcdef", 6), "/dav\\a");
    char16_t untouched[] = u"keep";
    EXPECT_EQ(ResolvePath(u"\\unknown", untouched, 0), nullptr);
    EXPECT_EQ(U8(untouched), "keep") << "a limit of 0 writes nothing";
}

}  // namespace
}  // namespace vodarezazuv
