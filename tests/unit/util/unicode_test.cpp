#include "util/unicode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vodarezazuv {
namespace {

using Bytes = std::vector<unsigned char>;
using Units = std::u16string;

std::string AsChars(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(Utf16ToUtf8, EncodesEachCharacterByItsLength) {
    struct Case {
        Units input;
        Bytes expected;
    } cases[] = {
        {u"A", {0x41}},
        {Units(1, u'\0'), {0x00}},                     // a terminator in the range becomes a 0 byte
        {u"\u00E4", {0xC3, 0xA4}},                     // two bytes
        {u"\u07FF", {0xDF, 0xBF}},                     // last two-byte value
        {u"\u0800", {0xE0, 0xA0, 0x80}},               // first three-byte value
        {u"\u20AC", {0xE2, 0x82, 0xAC}},               // euro sign
        {u"\uFFFF", {0xEF, 0xBF, 0xBF}},               // last three-byte value
        {{0xD83D, 0xDE00}, {0xF0, 0x9F, 0x98, 0x80}},  // U+1F600 from its pair
        {{0xDBFF, 0xDFFF}, {0xF4, 0x8F, 0xBF, 0xBF}},  // U+10FFFF
        {{0xD800, u'A'}, {0xED, 0xA0, 0x80, 0x41}},    // high surrogate without a low one
        {{0xD800}, {0xED, 0xA0, 0x80}},                // high surrogate as the last unit
        {{0xDC00, u'A'}, {0xED, 0xB0, 0x80, 0x41}},    // lone low surrogate
    };
    for (const Case& c : cases) {
        char buffer[16];
        const char16_t* in = c.input.data();
        char* out = buffer;
        EXPECT_EQ(Utf16ToUtf8(in, in + c.input.size(), out, buffer + sizeof buffer), ConvDone);
        EXPECT_EQ(in, c.input.data() + c.input.size());
        EXPECT_EQ(std::string(buffer, out), AsChars(c.expected));
    }
}

TEST(Utf16ToUtf8, StopsBeforeACharacterThatDoesNotFit) {
    struct Case {
        Units input;
        size_t room;
        size_t unitsTaken;
        Bytes written;
    } cases[] = {
        {u"a\u00E4", 2, 1, {0x61}},              // the two-byte character needs one more byte
        {{u'a', 0xD83D, 0xDE00}, 4, 1, {0x61}},  // the pair stays whole in the input
        {u"ab", 0, 0, {}},
    };
    for (const Case& c : cases) {
        char buffer[8] = {};
        const char16_t* in = c.input.data();
        char* out = buffer;
        EXPECT_EQ(Utf16ToUtf8(in, in + c.input.size(), out, buffer + c.room), ConvOutputFull);
        EXPECT_EQ(in, c.input.data() + c.unitsTaken);
        EXPECT_EQ(std::string(buffer, out), AsChars(c.written));
    }
}

TEST(Utf8ToUtf16, DecodesLenientlyByTheLeadByteTable) {
    struct Case {
        Bytes input;
        Units expected;
    } cases[] = {
        {{0x61}, u"a"},
        {{0xC3, 0xA4}, u"\u00E4"},
        {{0xA4}, u"\u00A4"},          // stray continuation byte stands for itself
        {{0xC0, 0x80}, Units(1, 0)},  // overlong form accepted
        {{0xE2, 0x82, 0xAC}, u"\u20AC"},
        {{0xED, 0xA0, 0x80}, {0xD800}},                       // surrogate value written unchanged
        {{0xF0, 0x9F, 0x98, 0x80}, {0xD83D, 0xDE00}},         // pair for a value above 0xFFFF
        {{0xF4, 0x8F, 0xBF, 0xBF}, {0xDBFF, 0xDFFF}},         // U+10FFFF is still a pair
        {{0xF4, 0x90, 0x80, 0x80}, u"\uFFFD"},                // U+110000 is beyond Unicode
        {{0xF8, 0x88, 0x80, 0x80, 0x80}, u"\uFFFD"},          // five-byte form
        {{0xFC, 0x80, 0x80, 0x80, 0x80, 0x80}, Units(1, 0)},  // six-byte form wraps to 0
        {{0xFC, 0x80, 0x80, 0x80, 0x81, 0x81}, u"A"},
        {{0xFF, 0x80, 0x80, 0x80, 0x80, 0x80}, u"\uFFFD"},
        {{0xC3, 0x41}, u"\u0081"},  // continuation byte not checked
    };
    for (const Case& c : cases) {
        char16_t buffer[8];
        const char* in = reinterpret_cast<const char*>(c.input.data());
        char16_t* out = buffer;
        EXPECT_EQ(Utf8ToUtf16(in, in + c.input.size(), out, buffer + 8), ConvDone);
        EXPECT_EQ(Units(buffer, out), c.expected);
    }
}

TEST(Utf8ToUtf16, LeavesCursorsAtTheSequenceItCannotFinish) {
    struct Case {
        Bytes input;
        size_t room;
        ConvResult result;
        size_t bytesTaken;
        Units written;
    } cases[] = {
        {{0x61, 0x62, 0xC3}, 8, ConvInputCut, 2, u"ab"},  // C3 is the last byte of the range
        {{0xE2, 0x82}, 8, ConvInputCut, 0, u""},
        {{0xF0, 0x9F, 0x98, 0x80}, 1, ConvOutputFull, 0, u""},  // pair needs two units
        {{0x61, 0x62}, 1, ConvOutputFull, 1, u"a"},
        {{0x61}, 0, ConvOutputFull, 0, u""},
    };
    for (const Case& c : cases) {
        char16_t buffer[8] = {};
        const char* begin = reinterpret_cast<const char*>(c.input.data());
        const char* in = begin;
        char16_t* out = buffer;
        EXPECT_EQ(Utf8ToUtf16(in, begin + c.input.size(), out, buffer + c.room), c.result);
        EXPECT_EQ(in, begin + c.bytesTaken);
        EXPECT_EQ(Units(buffer, out), c.written);
    }
}

TEST(WidenWithPlaceholder, ShowsThePlaceholderOnlyForAnAbsentText) {
    struct Case {
        int utf8;
        const char* text;
        size_t capacity;
        Units expected;
    } cases[] = {
        {1, nullptr, 1023, u"-"},
        {0, nullptr, 1023, u"-"},
        {1, "", 1023, u""},
        {0, "", 1023, u""},
        {1, "M\xC3\xBCller", 1023, u"M\u00FCller"},
        {0, "M\xFCller \x80", 1023, u"M\u00FCller \u20AC"},  // Windows-1252
        {1, "abcdef", 4, u"abc"},                            // cut at capacity - 1
        {0, "abcdef", 4, u"abc"},
        {1, "a\xF0\x9F\x98\x80", 3, u"a"},  // the pair does not fit in the last unit
        {1, "ab\xC3", 1023, u"ab"},         // a sequence cut by the end is dropped
        {1, nullptr, 1, u""},
    };
    for (const Case& c : cases) {
        char16_t buffer[1024];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        WidenWithPlaceholder(c.utf8, c.text, buffer, c.capacity, u"-");
        EXPECT_EQ(Units(buffer), c.expected) << (c.text ? c.text : "(absent)");
    }
    char16_t untouched[1] = {u'#'};
    WidenWithPlaceholder(1, "abc", untouched, 0, u"-");
    EXPECT_EQ(untouched[0], u'#') << "capacity 0 writes nothing";
}

}  // namespace
}  // namespace vodarezazuv
