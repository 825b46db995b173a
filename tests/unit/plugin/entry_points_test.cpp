#include <gtest/gtest.h>

#include "plugin/plugin_state.h"
#include "vodarezazuv/fs_plugin.h"

namespace vodarezazuv {
namespace {

class EntryPoints : public ::testing::Test {
  protected:
    void TearDown() override { Plugin() = saved; }
    PluginState saved = Plugin();
};

TEST_F(EntryPoints, StatusInfoMarksRootDeletesAndMovesOnly) {
    struct Step {
        std::u16string dir;
        int32_t startEnd, operation;
        bool activeAfter;
    } steps[] = {
        {u"\\", StatusStart, StatusOpDelete, true},
        {u"\\", StatusEnd, StatusOpDelete, false},
        {u"\\", StatusStart, StatusOpRenameMoveMulti, true},
        {u"\\conn", StatusEnd, StatusOpRenameMoveMulti, true},  // below the root: no change
        {u"\\", StatusEnd, 5, true},                            // another operation: no change
        {u"", StatusEnd, StatusOpRenameMoveMulti, false},       // "" is the root as well
    };
    for (Step& step : steps) {
        FsStatusInfoW(step.dir.data(), step.startEnd, step.operation);
        EXPECT_EQ(Plugin().rootOperationActive, step.activeAfter);
    }
}

TEST_F(EntryPoints, InitAndCryptCallbackStoreWhatTheHostGives) {
    auto progress = [](int32_t, char16_t*, char16_t*, int32_t) -> int32_t { return 0; };
    auto crypt = [](int32_t, int32_t, int32_t, char16_t*, char16_t*, int32_t) -> int32_t {
        return 0;
    };
    EXPECT_EQ(FsInitW(42, progress, nullptr, nullptr), 0);
    EXPECT_EQ(Plugin().pluginNumber, 42);
    EXPECT_EQ(Plugin().hostProgress, +progress);
    FsSetCryptCallbackW(crypt, 9, 0x3);
    EXPECT_EQ(Plugin().cryptoNumber, 9);
    EXPECT_TRUE(Plugin().masterPasswordSet);
    FsSetCryptCallbackW(crypt, 9, 0x2);
    EXPECT_FALSE(Plugin().masterPasswordSet) << "only bit 0 counts";
}

TEST_F(EntryPoints, DefaultParamsGiveTheDirectoryOfTheHostsFile) {
    struct Case {
        std::string hostPath;
        std::u16string expected;
    } cases[] = {
        {"/home/u/.config/morlo/morlo.ini", u"/home/u/.config/morlo/vodarezazuv.ini"},
        {"morlo.ini", u"vodarezazuv.ini"},
        {"/morlo.ini", u"/vodarezazuv.ini"},
        {"/dir/", u"/dir/vodarezazuv.ini"},
        {"/J\xC3\xBCrgen/m.ini", u"/J\u00fcrgen/vodarezazuv.ini"},  // UTF-8 file names
        {"/J\xFCrgen/m.ini", u"/J\xdcfcrgen/vodarezazuv.ini"},      // not UTF-8: kept as bytes
        {"C:\\morlo\\morlo.ini", u"vodarezazuv.ini"},               // "/" separates here
        {std::string(250, 'd') + "/x.ini",                          // cut at 259 characters
         std::u16string(250, u'd') + u"/vodareza"},
    };
    for (const Case& c : cases) {
        FsDefaultParams params{};
        c.hostPath.copy(params.settingsPath, sizeof params.settingsPath - 1);
        FsSetDefaultParams(&params);
        EXPECT_EQ(std::u16string(Plugin().settingsPath), c.expected) << c.hostPath;
    }
    // A path that fills all 260 bytes without a terminator is read no further.
    FsDefaultParams full{};
    std::fill(std::begin(full.settingsPath), std::end(full.settingsPath), 'x');
    full.settingsPath[0] = '/';
    FsSetDefaultParams(&full);
    EXPECT_EQ(std::u16string(Plugin().settingsPath), u"/vodarezazuv.ini");
}

}  // namespace
}  // namespace vodarezazuv
