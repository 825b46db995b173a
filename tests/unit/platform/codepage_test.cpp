#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace vodarezazuv {
namespace {

TEST(Codepage, EveryByteSurvivesTheRoundTrip) {
    char bytes[256];
    for (int b = 1; b < 256; ++b)
        bytes[b - 1] = static_cast<char>(b);
    bytes[255] = 0;
    char16_t wide[256];
    ASSERT_EQ(AnsiToWide(bytes, wide, 256), 255u);
    char back[256];
    bool replaced = true;
    ASSERT_EQ(WideToAnsi(wide, back, 256, &replaced), 255u);
    EXPECT_FALSE(replaced);
    EXPECT_EQ(std::string(back), std::string(bytes));
}

TEST(Codepage, BytesMapToTheirWindows1252Characters) {
    struct Case {
        unsigned char byte;
        char16_t character;
    } cases[] = {
        {0x41, u'A'},   {0x7F, 0x007F}, {0x80, 0x20AC},  // euro sign
        {0x81, 0x0081},                                  // undefined: C1 control
        {0x8A, 0x0160}, {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xE4, 0x00E4}, {0xFF, 0x00FF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AnsiCharToWide(c.byte), c.character) << int(c.byte);
        const char16_t text[2] = {c.character, 0};
        char out[2];
        WideToAnsi(text, out, 2);
        EXPECT_EQ(static_cast<unsigned char>(out[0]), c.byte);
    }
}

TEST(Codepage, MissingCharacterBecomesOneQuestionMarkAndIsReported) {
    struct Case {
        std::u16string text;
        std::string expected;
        bool replaced;
    } cases[] = {
        {u"plain", "plain", false},
        {u"a\u0100b", "a?b", true},      // Latin A with macron has no byte
        {u"a\U0001F600b", "a?b", true},  // one "?" for the whole pair
        {{0xD800, u'b'}, "?b", true},    // lone high surrogate keeps what follows
        {{u'a', 0xDC00}, "a?", true},    // lone low surrogate
        {u"\u20AC\u2122", "\x80\x99", false},
        // C1 controls whose bytes Windows-1252 gives to other characters (0x80 is the euro
        // sign): sent as those bytes they would name another file.
        {u"\u0080\u0082\u009E", "???", true},
        {u"\u0081\u008D\u008F\u0090\u009D", "\x81\x8D\x8F\x90\x9D", false},  // undefined bytes
    };
    for (const Case& c : cases) {
        char out[16];
        bool replaced = !c.replaced;
        size_t n = WideToAnsi(c.text.c_str(), out, sizeof out, &replaced);
        EXPECT_EQ(std::string(out), c.expected);
        EXPECT_EQ(n, c.expected.size());
        EXPECT_EQ(replaced, c.replaced) << c.expected;
    }
}

TEST(Codepage, ConversionsStopAtCapacityAndTerminate) {
    struct Case {
        std::u16string text;
        size_t capacity;
        std::string expected;
    } cases[] = {
        {u"abcdef", 4, "abc"},
        {u"abc", 4, "abc"},
        {u"abc", 1, ""},
        {u"ab\U0001F600c", 4, "ab?"},  // the pair takes one byte
    };
    for (const Case& c : cases) {
        char out[8];
        std::fill(std::begin(out), std::end(out), '#');
        EXPECT_EQ(WideToAnsi(c.text.c_str(), out, c.capacity), c.expected.size());
        EXPECT_EQ(std::string(out), c.expected);
        EXPECT_EQ(out[c.capacity], '#') << "wrote past the capacity";
    }
    char16_t wide[8];
    std::fill(std::begin(wide), std::end(wide), u'#');
    EXPECT_EQ(AnsiToWide("abcdef", wide, 4), 3u);
    EXPECT_EQ(std::u16string(wide), u"abc");
    EXPECT_EQ(wide[4], u'#');

    char narrow[1] = {'#'};
    EXPECT_EQ(WideToAnsi(u"abc", narrow, 0), 0u);
    EXPECT_EQ(AnsiToWide("abc", wide, 0), 0u);
    EXPECT_EQ(narrow[0], '#') << "capacity 0 writes nothing";
}

}  // namespace
}  // namespace vodarezazuv
