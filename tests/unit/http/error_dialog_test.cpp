// The stand-in for the system's error dialog: who is asked what, and what an answer changes.
#include "http/error_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_recorder.h"
#include "platform/front_end.h"
#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testsupport::U16;
using testsupport::U8;

struct ScriptedFrontEnd : FrontEnd {
    bool confirm = true;
    bool giveCredentials = true;
    std::vector<std::string> asked;
    int32_t MessageBox(const char16_t* text, const char16_t*, MessageIcon) override {
        asked.push_back("box: " + U8(text));
        return kMessageBoxOk;
    }
    bool Confirm(const char16_t* question, const char16_t*) override {
        asked.push_back("confirm: " + U8(question));
        return confirm;
    }
    bool AskCredentials(const char16_t*, char16_t* user, char16_t* password,
                        size_t capacity) override {
        asked.push_back("credentials for " + U8(user));
        std::u16string u = u"alice", p = u"s3cret";
        EXPECT_GT(capacity, 10u);
        std::copy(u.begin(), u.end() + 1, user);
        std::copy(p.begin(), p.end() + 1, password);
        return giveCredentials;
    }
};

class ErrorDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session = NetOpen(u"zuzodudiru", kNetOpenTypeDirect, nullptr, nullptr, kNetFlagAsync);
        connect = NetConnect(session, u"127.0.0.1", 1, u"bob", u"old", kNetServiceHttp, 0, 0);
        request = NetOpenRequest(connect, u"PROPFIND", u"/", u"HTTP/1.1", nullptr, nullptr,
                                 kNetFlagKeepConnection, 0);
        ASSERT_NE(request, nullptr);
    }
    void TearDown() override {
        SetFrontEnd(nullptr);
        NetCloseHandle(session);
    }
    std::string Option(uint32_t option) {
        char16_t text[64] = u"";
        uint32_t length = 64;
        if (!NetQueryOption(request, option, text, &length))
            return "<error>";
        return U8(text);
    }

    testing_http::HostRecorder host;
    NetHandle session = nullptr, connect = nullptr, request = nullptr;
};

TEST_F(ErrorDialogTest, AnIncorrectPasswordAsksForCredentialsForTheRequest) {
    ScriptedFrontEnd frontEnd;
    SetFrontEnd(&frontEnd);
    EXPECT_EQ(RequestErrorDialog(request, kNetErrorIncorrectPassword, 7), 0u);
    EXPECT_EQ(Option(kNetOptionUsername), "alice");
    EXPECT_EQ(Option(kNetOptionPassword), "s3cret");

    frontEnd.giveCredentials = false;
    EXPECT_EQ(RequestErrorDialog(request, kNetErrorIncorrectPassword, 7), kNetErrorCancelled);
    EXPECT_EQ(frontEnd.asked.back(), "credentials for alice") << "starts from the current user";
}

TEST_F(ErrorDialogTest, WithoutAFrontEndEveryQuestionIsLoggedAndRefused) {
    for (uint32_t error : {kNetErrorInvalidCa, kNetErrorCertDateInvalid, kNetErrorIncorrectPassword,
                           kNetErrorRedirectNeedsConfirmation})
        EXPECT_EQ(RequestErrorDialog(request, error, 7), kNetErrorCancelled) << error;
    EXPECT_EQ(Option(kNetOptionUsername), "") << "no credentials were set";
    std::vector<std::string> lines = testing_http::HostRecorder::Lines();
    ASSERT_EQ(lines.size(), 3u) << "the three questions; credentials are not asked in the log";
    EXPECT_EQ(lines[0].rfind("Security warning: The server's certificate is not trusted: ", 0), 0u)
        << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].size() - 19), "Connect anyway? No.") << lines[0];
    EXPECT_EQ(lines[0].find('\n'), std::string::npos) << "one line";
}

TEST_F(ErrorDialogTest, ARevokedCertificateIsOnlyReportedAndUnknownErrorsAreNotAsked) {
    ScriptedFrontEnd frontEnd;
    SetFrontEnd(&frontEnd);
    EXPECT_EQ(RequestErrorDialog(request, kNetErrorSecCertRevoked, 7), kNetErrorCancelled);
    ASSERT_EQ(frontEnd.asked.size(), 1u);
    EXPECT_EQ(frontEnd.asked[0].rfind("box: ", 0), 0u);
    EXPECT_EQ(RequestErrorDialog(request, kNetErrorCannotConnect, 7), kNetErrorCancelled);
    EXPECT_EQ(frontEnd.asked.size(), 1u);
}

}  // namespace
}  // namespace vodarezazuv
