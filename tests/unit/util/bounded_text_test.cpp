#include "util/bounded_text.h"

#include <gtest/gtest.h>

#include <string>

namespace vodarezazuv {
namespace {

std::u16string Repeat(char16_t c, size_t n) {
    return std::u16string(n, c);
}

TEST(BoundedText, CopyCutsAtTheLimitAndTerminates) {
    struct Case {
        size_t sourceLength;
        size_t limit;
        size_t expectedLength;
    } cases[] = {
        {300, 259, 259},  // longer than the limit: cut, terminator at index 259
        {10, 259, 10},    // shorter: copied whole
        {259, 259, 259},  // exactly the limit
        {5, 0, 0},        // limit 0 writes only the terminator
    };
    for (const Case& c : cases) {
        std::u16string source = Repeat(u'x', c.sourceLength);
        char16_t buffer[400];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        CopyBoundedW(buffer, source.c_str(), c.limit);
        EXPECT_EQ(WideLength(buffer), c.expectedLength) << c.sourceLength << "/" << c.limit;
        EXPECT_EQ(buffer[c.expectedLength], 0);
        EXPECT_EQ(buffer[c.expectedLength + 1], u'#') << "wrote past the terminator";
    }
}

TEST(BoundedText, AppendKeepsTheResultWithinTheLimit) {
    struct Case {
        std::u16string start, tail;
        size_t limit;
        std::u16string expected;
    } cases[] = {
        {u"xyz", u"abcdef", 5, u"xyzab"},
        {Repeat(u'a', 259), u"b", 259, Repeat(u'a', 259)},  // already full: unchanged
        {u"", u"abc", 259, u"abc"},
        {u"abcdef", u"x", 3, u"abcdef"},  // longer than the limit already: nothing appended
    };
    for (const Case& c : cases) {
        char16_t buffer[300] = {};
        std::copy(c.start.begin(), c.start.end(), buffer);
        AppendBoundedW(buffer, c.tail.c_str(), c.limit);
        EXPECT_EQ(std::u16string(buffer), c.expected);
    }
    char narrow[8] = "xyz";
    EXPECT_STREQ(AppendBoundedA(narrow, "abcdef", 5), "xyzab");
}

TEST(BoundedText, ForwardSlashesReplacesEveryBackslash) {
    char16_t wide[] = u"\\dav\\dir";
    EXPECT_EQ(std::u16string(ForwardSlashesW(wide)), u"/dav/dir");
    char narrow[] = "\\a\\\\b/";
    EXPECT_STREQ(ForwardSlashesA(narrow), "/a//b/");
}

TEST(BoundedText, DuplicateTextCopiesWithTerminator) {
    auto copy = DuplicateText("abc");
    ASSERT_TRUE(copy);
    EXPECT_STREQ(copy.get(), "abc");
    EXPECT_STREQ(DuplicateText("").get(), "");
}

TEST(BoundedText, FormatWide) {
    char16_t out[64];
    struct Case {
        const char16_t* format;
        std::initializer_list<FormatArg> values;
        size_t capacity;
        std::u16string expected;
    } cases[] = {
        {u"proxy%d", {int32_t(3)}, 64, u"proxy3"},
        {u"%s%03d", {u"ab", int32_t(7)}, 64, u"ab007"},
        {u"%s%03d", {u"ab", int32_t(1234)}, 64, u"ab1234"},
        {u"%d|%u|%x|%X",
         {int32_t(-12), uint32_t(4000000000u), uint32_t(255), uint32_t(255)},
         64,
         u"-12|4000000000|ff|FF"},
        {u"[%5d][%-3s][%05d]", {int32_t(42), u"a", int32_t(-42)}, 64, u"[   42][a  ][-0042]"},
        {u"100%%", {}, 64, u"100%"},
        {u"proxy%d", {int32_t(12345)}, 8, u"proxy12"},       // cut at capacity - 1
        {u"%s and %s", {u"one"}, 64, u"one and "},           // missing value: nothing inserted
        {u"%ld|%s|%d", {u"a", int32_t(5)}, 64, u"%ld|a|5"},  // unknown: kept, uses no value
        {u"a%cb%cc", {u"text", int32_t(0)}, 64, u"abc"},     // %c never inserts a terminator
        {u"%c", {int32_t(0x41)}, 64, u"A"},
    };
    for (const Case& c : cases) {
        size_t n = FormatWide(out, c.capacity, c.format, c.values);
        EXPECT_EQ(std::u16string(out), c.expected);
        EXPECT_EQ(n, c.expected.size());
    }
}

TEST(BoundedText, CaseInsensitiveEqualityFoldsOnlyAsciiLetters) {
    EXPECT_TRUE(WideEqualNoCase(u"Quick Connection", u"quick connection"));
    EXPECT_FALSE(WideEqualNoCase(u"abc", u"abcd"));
    EXPECT_FALSE(WideEqualNoCase(u"\u00e4", u"\u00c4"));
    EXPECT_FALSE(WideEqualNoCase(u"[", u"{"));  // 0x5B and 0x7B differ by 32 but are no letters
    EXPECT_TRUE(WideEqual(u"a", u"a"));
    EXPECT_FALSE(WideEqual(u"a", u"A"));
}

}  // namespace
}  // namespace vodarezazuv
