#include "settings/password.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/plugin_state.h"
#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testsupport::U8;

std::u16string Scramble(const std::u16string& password) {
    char16_t out[5 * 100 + 1];
    ScramblePassword(password.c_str(), out, std::size(out));
    return out;
}

std::u16string Unscramble(const std::u16string& text, int32_t size = 260) {
    std::vector<char16_t> out(static_cast<size_t>(size) + 1, u'#');
    UnscramblePassword(text.c_str(), out.data(), size);
    return out.data();
}

// A host password store that records its calls.
struct FakeStore {
    static inline std::vector<std::string> calls;
    static inline int32_t answer = 0;
    static int32_t Crypt(int32_t plugin, int32_t crypto, int32_t mode, char16_t* key,
                         char16_t* buffer, int32_t size) {
        calls.push_back(std::to_string(plugin) + "/" + std::to_string(crypto) + " mode " +
                        std::to_string(mode) + " " + U8(key) + " -> " +
                        (buffer ? U8(buffer) : "<none>") + " size " + std::to_string(size));
        return answer;
    }
};

class PasswordTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeStore::calls.clear();
        FakeStore::answer = 0;
    }
    void TearDown() override { Plugin() = saved; }
    PluginState saved = Plugin();
};

TEST_F(PasswordTest, ScrambledFormIsThreeDigitsPerCharacterFromTheLengthsKeyPosition) {
    const std::u16string key = u"Vq3Mh8Lr1Wz5Kt0Pd7Ny4Bs9Fg2Xc6Je8Ha3Uo5Ri1Tm7Ew0Lk+Z";
    auto group = [](unsigned value) {
        char16_t digits[4] = {char16_t(u'0' + value / 100), char16_t(u'0' + value / 10 % 10),
                              char16_t(u'0' + value % 10), 0};
        return std::u16string(digits);
    };
    EXPECT_EQ(Scramble(u""), u"");
    EXPECT_EQ(Unscramble(u""), u"");
    // One character: key position 1 ('q', 113); 'a' is 97, and 97 XOR 113 = 16.
    EXPECT_EQ(Scramble(u"a"), u"016");
    // 52 characters start at key position 0, 53 at position 1.
    std::u16string p52(52, u'x'), p53(53, u'x');
    EXPECT_EQ(Scramble(p52).substr(0, 3), group(u'x' ^ key[0]));
    EXPECT_EQ(Scramble(p53).substr(0, 3), group(u'x' ^ key[1]));
    EXPECT_EQ(Scramble(p53).substr(3 * 51, 6), group(u'x' ^ key[0]) + group(u'x' ^ key[1]))
        << "the position wraps to 0 after 51";
    EXPECT_EQ(Scramble(p53).size(), 3u * 53);
}

TEST_F(PasswordTest, EveryPasswordBelowU0300UpTo86CharactersComesBack) {
    // Every code unit at every key position, and mixed passwords of every length.
    for (char16_t c = 1; c < 0x300; ++c) {
        for (size_t n : {1u, 2u, 51u, 52u, 53u, 85u, 86u}) {
            std::u16string password(n, c);
            ASSERT_TRUE(PasswordSurvivesScrambling(password.c_str()));
            ASSERT_EQ(Unscramble(Scramble(password)), password) << int(c) << " x " << n;
        }
    }
    uint32_t seed = 12345;
    for (size_t n = 0; n <= kMaxScrambledPasswordLength; ++n) {
        for (int round = 0; round < 50; ++round) {
            std::u16string password;
            for (size_t i = 0; i < n; ++i) {
                seed = seed * 1103515245u + 12345u;
                password += static_cast<char16_t>(1 + (seed >> 8) % 0x2FF);
            }
            ASSERT_EQ(Unscramble(Scramble(password)), password) << n;
        }
    }
}

TEST_F(PasswordTest, APasswordThatWouldNotComeBackIsNeverWritten) {
    struct Case {
        const char* what;
        std::u16string password;
    } cases[] = {
        {"Cyrillic", u"\u043f\u0430\u0440\u043e\u043b\u044c"},
        {"CJK", u"\u5bc6\u7801"},
        {"ASCII and one CJK character", u"secret\u5bc6"},
        {"87 characters", std::u16string(87, u'a')},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(PasswordSurvivesScrambling(c.password.c_str())) << c.what;
        char16_t out[600] = u"old";
        EXPECT_EQ(ScramblePassword(c.password.c_str(), out, std::size(out)), ScrambleNotRestorable)
            << c.what;
        EXPECT_EQ(std::u16string(out), u"") << c.what;
    }
    // The check is exact: from U+0300 on, a character survives exactly where its value
    // XOR the key fits three digits.
    for (char16_t c = 0x300; c < 0x420; ++c) {
        for (size_t n : {1u, 2u, 7u}) {
            std::u16string password(n, c);
            bool survives = PasswordSurvivesScrambling(password.c_str());
            std::u16string scrambled = Scramble(password);
            EXPECT_EQ(survives, !scrambled.empty()) << int(c);
            if (survives) {
                EXPECT_EQ(Unscramble(scrambled), password) << int(c);
            }
        }
    }
    char16_t small[6];
    EXPECT_EQ(ScramblePassword(u"abc", small, std::size(small)), ScrambleNotRestorable);
    EXPECT_EQ(std::u16string(small), u"") << "too small a buffer gives no partial value";
}

TEST_F(PasswordTest, UnscramblingReadsWholeGroupsOnly) {
    const std::u16string abc = Scramble(u"abc");
    struct Case {
        const char* what;
        std::u16string text;
        int32_t size;
        std::u16string expected;
    } cases[] = {
        {"3n + 1 characters", abc + u"1", 260, u"abc"},
        {"3n + 2 characters", abc + u"12", 260, u"abc"},
        {"a non-digit in a group", abc.substr(0, 4) + u"x" + abc.substr(5), 260, u""},
        {"a non-digit in the cut tail", abc + u"x", 260, u"abc"},
        {"no whole group", u"!!", 260, u""},
        {"size 1", abc, 1, u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Unscramble(c.text, c.size), c.expected) << c.what;

    // A small buffer keeps the first characters, each correct: the key position follows
    // the whole text, not the cut.
    std::u16string long10 = u"0123456789";
    EXPECT_EQ(Unscramble(Scramble(long10), 5), u"0123");
}

TEST_F(PasswordTest, TheStoredMarkerNeedsAPasswordStore) {
    Plugin().hostCrypt = nullptr;
    EXPECT_EQ(Unscramble(u"!"), u"");
    Plugin().hostCrypt = &FakeStore::Crypt;
    std::u16string marker = Unscramble(u"!");
    EXPECT_EQ(marker, std::u16string(1, u'\u0001'));
    EXPECT_TRUE(IsStoreMarker(marker.c_str()));
    EXPECT_FALSE(IsStoreMarker(u"\u0001x"));
    EXPECT_FALSE(IsStoreMarker(u""));
    EXPECT_EQ(Unscramble(u"!!"), u"");
    EXPECT_TRUE(FakeStore::calls.empty()) << "unscrambling never asks the store";
}

TEST_F(PasswordTest, StoredPasswordsFollowACopyOrAMove) {
    Plugin().hostCrypt = nullptr;
    EXPECT_EQ(CopyStoredPassword(u"a", u"b", 1), 0);

    Plugin().pluginNumber = 4;
    Plugin().cryptoNumber = 9;
    Plugin().hostCrypt = &FakeStore::Crypt;
    EXPECT_EQ(CopyStoredPassword(u"a", u"b", 1), 1);
    EXPECT_EQ(CopyStoredPassword(u"a", u"c", 0), 1);
    FakeStore::answer = 1;
    EXPECT_EQ(CopyStoredPassword(u"a", u"d", 0), 0) << "the host's failure";
    EXPECT_EQ(FakeStore::calls,
              (std::vector<std::string>{"4/9 mode 5 a -> b size 0", "4/9 mode 4 a -> c size 0",
                                        "4/9 mode 4 a -> d size 0"}));
}

TEST_F(PasswordTest, ProxyStoreKeys) {
    char16_t key[260];
    struct Case {
        int32_t number;
        std::u16string expected;
    } cases[] = {{1, u"proxy$$pass"},
                 {0, u"proxy$$pass"},
                 {2, u"proxy2$$pass"},
                 {3, u"proxy3$$pass"},
                 {12, u"proxy12$$pass"}};
    for (const Case& c : cases) {
        ProxyStoreKey(c.number, key, 259);
        EXPECT_EQ(std::u16string(key), c.expected);
    }
}

}  // namespace
}  // namespace vodarezazuv
