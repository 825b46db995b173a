#include "util/url_escape.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vodarezazuv {
namespace {

constexpr int kUtf8 = 1;
constexpr int kAnsi = 0;

struct Escaped {
    bool accepted;
    std::u16string text;
};

// Escapes path in a buffer of capacity elements followed by a guard that must survive.
Escaped Escape(const std::u16string& path, int utf8, size_t capacity = 779) {
    std::vector<char16_t> buffer(capacity + 1, u'#');
    std::copy(path.begin(), path.end(), buffer.begin());
    buffer[path.size()] = 0;
    char16_t* result = EscapeUrlPath(buffer.data(), capacity, utf8);
    EXPECT_TRUE(result == nullptr || result == buffer.data());
    EXPECT_EQ(buffer[capacity], u'#') << "wrote past the capacity";
    return {result != nullptr, std::u16string(buffer.data())};
}

TEST(EscapeUrlPath, EscapesTheFixedSetControlBytesAndBytesFrom0x7FAndTurnsBackslashes) {
    struct Case {
        std::u16string path;
        int utf8;
        std::u16string expected;
    } cases[] = {
        {u"\\dir\\a b.txt", kUtf8, u"/dir/a%20b.txt"},
        {u"\\\u00E4", kUtf8, u"/%c3%a4"},
        {u"\\\u00E4", kAnsi, u"/%e4"},  // Western code page
        {u"\\\u20AC", kAnsi, u"/%80"},
        {u"\\\U0001F600", kUtf8, u"/%f0%9f%98%80"},
        {u"100%", kUtf8, u"100%25"},
        {u"~user", kUtf8, u"%7euser"},
        {u"a\u007F", kUtf8, u"a%7f"},
        {u" %<>\"{}|^[]~`@=&#", kUtf8, u"%20%25%3c%3e%22%7b%7d%7c%5e%5b%5d%7e%60%40%3d%26%23"},
        {u"!$'()*+,-./:;_azAZ09", kUtf8, u"!$'()*+,-./:;_azAZ09"},  // copied as they are
        {u"a\u0001\u001F", kAnsi, u"a%01%1f"},                      // control bytes are escaped
        {u"\\a\r\nHost: x", kUtf8, u"/a%0d%0aHost:%20x"},           // no header injection
        {u"", kUtf8, u""},
    };
    for (const Case& c : cases) {
        Escaped e = Escape(c.path, c.utf8);
        EXPECT_TRUE(e.accepted);
        EXPECT_EQ(e.text, c.expected);
    }
}

TEST(EscapeUrlPath, RefusesPathsThatCannotBeSentFaithfully) {
    struct Case {
        std::u16string path;
        int utf8;
        std::u16string left;  // what the buffer holds after the refusal
    } cases[] = {
        {u"\\a?b", kUtf8, u"/a?b"},  // a question mark would start a query
        {u"\\a?b", kAnsi, u"/a?b"},
        {u"\\a b\u0100", kAnsi, u"/a%20b?"},  // not in the code page
        {u"\\\U0001F600", kAnsi, u"/?"},
    };
    for (const Case& c : cases) {
        Escaped e = Escape(c.path, c.utf8);
        EXPECT_FALSE(e.accepted);
        EXPECT_EQ(e.text, c.left);
    }
}

// A cut request target names another resource, so a path that does not fit the 1023-byte
// work area or the caller's capacity is refused; the buffer keeps the cut text.
TEST(EscapeUrlPath, RefusesAPathThatWouldBeCut) {
    struct Case {
        std::u16string path;
        int utf8;
        size_t capacity;
        bool accepted;
        std::u16string text;
    } cases[] = {
        {std::u16string(1023, u'a'), kUtf8, 1100, true, std::u16string(1023, u'a')},
        {std::u16string(1024, u'a'), kUtf8, 1100, false, std::u16string(1023, u'a')},
        {std::u16string(1023, u'a'), kAnsi, 1100, true, std::u16string(1023, u'a')},
        {std::u16string(1024, u'a'), kAnsi, 1100, false, std::u16string(1023, u'a')},
        // 512 two-byte characters: cut at the last whole one, 511 of them in 1022 bytes
        {std::u16string(512, u'\u00E4'), kUtf8, 4000, false,
         [] {
             std::u16string s;
             for (int i = 0; i < 511; ++i)
                 s += u"%c3%a4";
             return s;
         }()},
        // 300 blanks need 900 characters; 259 escapes (777) fit in 778
        {std::u16string(300, u' '), kUtf8, 779, false,
         [] {
             std::u16string s;
             for (int i = 0; i < 259; ++i)
                 s += u"%20";
             return s;
         }()},
        {u"a b", kUtf8, 6, true, u"a%20b"},  // exactly capacity - 1 characters
        {u"a b", kUtf8, 5, false, u"a%20"},  // one character short
        {u"a b", kUtf8, 4, false, u"a"},     // stops before an escape that does not fit whole
    };
    for (const Case& c : cases) {
        Escaped e = Escape(c.path, c.utf8, c.capacity);
        EXPECT_EQ(e.accepted, c.accepted) << c.path.size() << "/" << c.capacity;
        EXPECT_EQ(e.text, c.text) << c.path.size() << "/" << c.capacity;
    }
    char16_t untouched[] = u"a";
    EXPECT_EQ(EscapeUrlPath(untouched, 0, kUtf8), nullptr);
    EXPECT_EQ(untouched[0], u'a') << "capacity 0 writes nothing";
}

TEST(EnsureTrailingSlash, AppendsASlashOnlyWhereOneIsMissing) {
    struct Case {
        std::u16string path;
        size_t limit;
        std::u16string expected;
    } cases[] = {
        {u"", 779, u""},          {u"/", 779, u"/"},     {u"/dir/", 779, u"/dir/"},
        {u"/dir", 779, u"/dir/"}, {u"/dir", 4, u"/dir"},  // no room within the limit
    };
    for (const Case& c : cases) {
        char16_t buffer[16] = {};
        std::copy(c.path.begin(), c.path.end(), buffer);
        EXPECT_EQ(EnsureTrailingSlash(buffer, c.limit), buffer);
        EXPECT_EQ(std::u16string(buffer), c.expected);
    }
}

}  // namespace
}  // namespace vodarezazuv
