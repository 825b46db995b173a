#include "http/auth.h"

#include <gtest/gtest.h>

#include <string>

#include "temp_dir.h"
#include "util/bounded_text.h"

namespace vodarezazuv {
namespace {

using testsupport::U16;
using testsupport::U8;

TEST(ProxyHeaderTest, BasicCredentialsAreAppendedInTheAnsiCodePage) {
    struct Case {
        const char16_t* before;
        const char16_t* user;
        const char16_t* password;
        size_t capacity;
        const char* after;
    } cases[] = {
        {u"", u"user", u"pass", 511, "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n"},
        {u"", u"user", u"", 511, "Proxy-Authorization: Basic dXNlcjo=\r\n"},
        {u"", u"", u"pass", 511, ""},
        {u"Depth: 1\r\n", u"user", u"pass", 511,
         "Depth: 1\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n"},
        // "ü" is the byte 0xFC in Windows-1252: "\xfc:\xfc" is "/Dr8".
        {u"", u"\u00fc", u"\u00fc", 511, "Proxy-Authorization: Basic /Dr8\r\n"},
        {u"Depth: 1\r\n", u"user", u"pass", 20, "Depth: 1\r\nProxy-Auth"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(U8(c.user) + ":" + U8(c.password));
        char16_t headers[kLongHeaderLimit + 1];
        CopyBoundedW(headers, c.before, kLongHeaderLimit);
        AddProxyBasicHeader(headers, c.user, c.password, c.capacity);
        EXPECT_EQ(U8(headers), c.after);
    }
}

TEST(ProxyHeaderTest, TheLineStaysWithin259Bytes) {
    std::u16string user(300, u'u');
    char16_t headers[kLongHeaderLimit + 1] = u"";
    AddProxyBasicHeader(headers, user.c_str(), u"p", kLongHeaderLimit);
    std::string line = U8(headers);
    EXPECT_EQ(line.size(), kNameLimit);
    EXPECT_EQ(line.rfind("Proxy-Authorization: Basic dXV1", 0), 0u);
}

TEST(ProxyHeaderTest, CredentialOptionsAreSetOnlyWhenGiven) {
    struct Case {
        const char16_t* user;
        const char16_t* password;
        const char* userOption;
        const char* passwordOption;
    } cases[] = {
        {u"pu", u"pp", "pu", "pp"},
        {u"", u"pp", "old user", "pp"},
        {u"pu", u"", "pu", "old password"},
        {u"", u"", "old user", "old password"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(U8(c.user) + ":" + U8(c.password));
        NetHandle session = NetOpen(u"t", kNetOpenTypeDirect, nullptr, nullptr, kNetFlagAsync);
        ASSERT_NE(session, nullptr);
        ASSERT_TRUE(NetSetOption(session, kNetOptionProxyUsername, u"old user", 9));
        ASSERT_TRUE(NetSetOption(session, kNetOptionProxyPassword, u"old password", 13));
        SetProxyCredentials(session, c.user, c.password);
        char16_t text[64];
        uint32_t length = 64;
        ASSERT_TRUE(NetQueryOption(session, kNetOptionProxyUsername, text, &length));
        EXPECT_EQ(U8(text), c.userOption);
        length = 64;
        ASSERT_TRUE(NetQueryOption(session, kNetOptionProxyPassword, text, &length));
        EXPECT_EQ(U8(text), c.passwordOption);
        NetCloseHandle(session);
    }
}

}  // namespace
}  // namespace vodarezazuv
