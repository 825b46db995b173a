// Copying, renaming and deleting connection sections, and what the root listing shows
// afterwards.
#include <gtest/gtest.h>

#include <string>

#include "platform/profile.h"
#include "plugin/plugin_state.h"
#include "plugin/registry.h"
#include "settings/connection_settings.h"
#include "temp_dir.h"
#include "vodarezazuv/fs_plugin.h"

namespace vodarezazuv {
namespace {

using testsupport::ReadFile;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFile;

class SectionOperations : public ::testing::Test {
  protected:
    void SetUp() override {
        CopyBoundedW(Plugin().settingsPath, path.c_str(), kNameLimit);
        Registry().head.reset();  // each test lists from an empty registry
    }
    void TearDown() override { Plugin() = saved; }

    CopySectionResult Copy(const char16_t* from, const char16_t* to, int32_t move,
                           int32_t overwrite) {
        return CopyConnectionSection(from, to, move, overwrite, path.c_str());
    }
    // The connection names of the root listing, through the exports as the host calls them.
    std::string Root() {
        char16_t root[] = u"\\";
        WIN32_FIND_DATAW record;
        void* handle = FsFindFirstW(root, &record);
        std::string names;
        while (FsFindNextW(handle, &record) != 0)
            names += (names.empty() ? "" : "|") + U8(record.name);
        FsFindClose(handle);
        return names;
    }

    PluginState saved = Plugin();
    testsupport::TempDir dir;
    std::string file = dir.File("vodarezazuv.ini");
    std::u16string path = U16(file);
};

TEST_F(SectionOperations, RenameCopiesEveryKeyInOrderAndRemovesTheOld) {
    WriteFile(file,
              "; my connections\n[a]\nserver=a.example\nuser=u\npassword=063023082037031065\n"
              "custom=kept\n\n[other]\nserver=o.example\n");
    ASSERT_EQ(Root(), "Quick connection|a|other");
    EXPECT_EQ(Copy(u"a", u"b", 1, 0), CopySectionDone);
    EXPECT_EQ(ReadFile(file),
              "; my connections\n\n[other]\nserver=o.example\n"
              "[b]\nserver=a.example\nuser=u\npassword=063023082037031065\ncustom=kept\n");
    EXPECT_EQ(Root(), "Quick connection|other|b");
}

TEST_F(SectionOperations, CopyKeepsTheSource) {
    WriteFile(file, "[a]\nserver=a.example\nuser=u\n");
    ASSERT_EQ(Root(), "Quick connection|a");
    EXPECT_EQ(Copy(u"a", u"copy of a", 0, 0), CopySectionDone);
    EXPECT_EQ(ReadFile(file),
              "[a]\nserver=a.example\nuser=u\n[copy of a]\nserver=a.example\nuser=u\n");
    EXPECT_EQ(Root(), "Quick connection|a|copy of a");
}

TEST_F(SectionOperations, AnExistingTargetIsLeftAloneWithoutOverwrite) {
    const std::string before = "[a]\nserver=a\n[b]\nserver=b\nuser=keep\n";
    WriteFile(file, before);
    EXPECT_EQ(Copy(u"a", u"B", 1, 0), CopySectionTargetExists);
    EXPECT_EQ(ReadFile(file), before);

    // A target with one long key name exists all the same.
    const std::string longKey = "[a]\nserver=a\n[b]\n" + std::string(150, 'k') + "=v\n";
    WriteFile(file, longKey);
    EXPECT_EQ(Copy(u"a", u"b", 1, 0), CopySectionTargetExists);
    EXPECT_EQ(ReadFile(file), longKey);

    // A section without keys is no target to protect.
    WriteFile(file, "[a]\nserver=a\n[b]\n");
    EXPECT_EQ(Copy(u"a", u"b", 0, 0), CopySectionDone);
    EXPECT_EQ(ReadFile(file), "[a]\nserver=a\n[b]\nserver=a\n");
}

TEST_F(SectionOperations, OverwriteRemovesTheOldTargetKeysFirst) {
    WriteFile(file, "[a]\nserver=a\n[b]\nserver=b\nuser=old\nproxynr=3\n");
    EXPECT_EQ(Copy(u"a", u"b", 1, 1), CopySectionDone);
    EXPECT_EQ(ReadFile(file), "[b]\nserver=a\n");
}

TEST_F(SectionOperations, RenamingToTheSameNameInOtherCaseChangesNothing) {
    const std::string before = "[conn]\nserver=x\n";
    WriteFile(file, before);
    EXPECT_EQ(Copy(u"conn", u"CONN", 1, 0), CopySectionDone);
    EXPECT_EQ(ReadFile(file), before);
}

TEST_F(SectionOperations, AMissingOrEmptySourceIsReported) {
    const std::string before = "[empty]\n; nothing here\n[b]\nserver=b\n";
    WriteFile(file, before);
    EXPECT_EQ(Copy(u"missing", u"c", 1, 1), CopySectionSourceMissing);
    EXPECT_EQ(Copy(u"empty", u"c", 1, 1), CopySectionSourceMissing);
    EXPECT_EQ(ReadFile(file), before);
}

TEST_F(SectionOperations, OnlyTheKeyNamesThatFitTheListAreCopied) {
    // Key names of 9 characters and a terminator: 1023 elements hold 102 names and the end.
    std::string section = "[a]\n";
    for (int i = 0; i < 150; ++i)
        section += "key" + std::to_string(100000 + i) + "=" + std::to_string(i) + "\n";
    WriteFile(file, section);
    ASSERT_EQ(Copy(u"a", u"b", 0, 0), CopySectionDone);
    char16_t keys[4096];
    ProfileGetString(u"b", nullptr, u"", keys, std::size(keys), path.c_str());
    size_t copied = 0;
    for (const char16_t* k = keys; *k != 0; k += std::char_traits<char16_t>::length(k) + 1)
        ++copied;
    EXPECT_EQ(copied, 102u);
    char16_t value[16];
    ProfileGetString(u"b", u"key100101", u"", value, std::size(value), path.c_str());
    EXPECT_EQ(U8(value), "101");
}

TEST_F(SectionOperations, AFailedWriteNeverRemovesTheSource) {
    const std::string before = "[a]\nserver=a.example\nuser=u\nssl=1\n[z]\nserver=z\n";
    WriteFile(file, before);
    struct Case {
        int32_t move;
        size_t room;  // bytes the file may grow by
    } cases[] = {
        {0, 0},
        {0, 24},  // "[b-renamed]" and the server line would fit, the rest not
        {1, 0},   // a move to a longer name grows the file by 8 bytes
        {1, 7},
    };
    for (const Case& c : cases) {
        CopySectionResult result;
        {
            testsupport::FileSizeLimit full(before.size() + c.room);
            result = Copy(u"a", u"b-renamed", c.move, 0);
        }
        EXPECT_EQ(result, CopySectionWriteFailed) << c.move << "/" << c.room;
        EXPECT_EQ(ReadFile(file), before) << "no half-copied target, a still there, z untouched";
    }
}

TEST_F(SectionOperations, NamesTheFileCannotHoldAreRefusedWithoutLoss) {
    const std::string before = "[a]\nserver=a.example\nuser=u\npassword=063023082037031065\n";
    WriteFile(file, before);
    struct Case {
        const char16_t* name;
        int32_t overwrite;
        CopySectionResult expected;
    } cases[] = {
        {u"a ", 0, CopySectionTargetExists},  // reads as a: the same section
        {u"a ", 1, CopySectionWriteFailed},   // and may not be written over itself
        {u" A", 1, CopySectionWriteFailed},
        {u"a\tb ", 1, CopySectionWriteFailed},
        {u"a\nserver=evil", 1, CopySectionWriteFailed},
        {u"a\xd800", 1, CopySectionWriteFailed},  // a lone surrogate has no UTF-8 form
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Copy(u"a", c.name, 1, c.overwrite), c.expected) << U8(c.name);
        EXPECT_EQ(ReadFile(file), before) << U8(c.name);
    }
}

TEST_F(SectionOperations, DeleteRemovesOnlyThatSection) {
    WriteFile(file, "[a]\nserver=a\n[b]\nserver=b\n[proxy]\nproxytype=1\n");
    ASSERT_EQ(Root(), "Quick connection|a|b");
    EXPECT_NE(DeleteSection(u"A", path.c_str()), 0);
    EXPECT_EQ(ReadFile(file), "[b]\nserver=b\n[proxy]\nproxytype=1\n");
    EXPECT_EQ(Root(), "Quick connection|b");
    EXPECT_NE(DeleteSection(u"never there", path.c_str()), 0);

    std::u16string asPath = U16(dir.path());
    EXPECT_EQ(DeleteSection(u"b", asPath.c_str()), 0) << "the platform's failure is passed on";
}

}  // namespace
}  // namespace vodarezazuv
