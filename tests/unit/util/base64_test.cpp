#include "util/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace vodarezazuv {
namespace {

std::string Repeat(const std::string& part, size_t count) {
    std::string s;
    for (size_t i = 0; i < count; ++i)
        s += part;
    return s;
}

struct Vector {
    std::string input;
    std::string encoded;
};

// RFC 4648 section 10, plus bytes that reach the ends of the alphabet.
const Vector kVectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    {"\xFF\xFE\xFD", "//79"},
    {"user:pa\xC3\x9F", "dXNlcjpwYcOf"},
};

TEST(Base64Encode, EncodesWholeGroupsAndPadsTheLastOne) {
    for (const Vector& v : kVectors) {
        size_t length = 99;
        auto text = Base64Encode(reinterpret_cast<const unsigned char*>(v.input.data()),
                                 v.input.size(), &length);
        ASSERT_NE(text, nullptr) << "an empty input still gives a text";
        EXPECT_EQ(length, v.encoded.size());
        EXPECT_EQ(std::string(text.get(), length), v.encoded);
        EXPECT_EQ(text[length], 0);
    }
    const unsigned char withZero[] = {0x00, 0x00, 0x3F};
    auto text = Base64Encode(withZero, sizeof withZero, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text.get(), 4), "AAA/") << "zero bytes are data, not an end";
}

TEST(Base64Encode, RefusesInputOfTwoToThe30GroupsOrMore) {
    const unsigned char byte = 0;
    const size_t groupLimit = size_t{1} << 30;
    // The sizes are refused before anything is read or allocated.
    for (size_t length : {3 * groupLimit, 3 * groupLimit - 2, ~size_t{0}}) {
        size_t outLength = 99;
        EXPECT_EQ(Base64Encode(&byte, length, &outLength), nullptr) << length;
        EXPECT_EQ(outLength, 0u);
    }
}

TEST(Base64EncodeText, EncodesTheTextWithinTheLimit) {
    for (const Vector& v : kVectors) {
        char out[32] = "stale";
        EXPECT_EQ(Base64EncodeText(v.input.c_str(), out, 31), out);
        EXPECT_EQ(std::string(out), v.encoded);
    }
    struct Case {
        std::string text;
        size_t limit;
        std::string expected;
    } cases[] = {
        {"foobar", 6, "Zm9vYm"},  // cut inside the second group
        {"foobar", 8, "Zm9vYmFy"},
        {"foobar", 0, ""},
        {std::string(300, 'a'), 259, Repeat("YWFh", 100).substr(0, 259)},
    };
    for (const Case& c : cases) {
        char out[512];
        std::fill(std::begin(out), std::end(out), '#');
        Base64EncodeText(c.text.c_str(), out, c.limit);
        EXPECT_EQ(std::string(out), c.expected);
        EXPECT_EQ(out[c.limit + 1], '#') << "wrote past the limit";
    }
}

}  // namespace
}  // namespace vodarezazuv
