#include "http/errors.h"

#include <gtest/gtest.h>

#include <string>

#include "host_recorder.h"
#include "platform/string_resources.h"
#include "util/bounded_text.h"

namespace vodarezazuv {
namespace {

using testing_http::HostRecorder;
using testsupport::U16;
using testsupport::U8;

TEST(ReportErrorTest, EachNumberFindsItsTextOrTheFallback) {
    struct Case {
        Language language;
        uint32_t error;
        const char* line;
    } cases[] = {
        {Language::English, 0, "HTTP error: "},
        {Language::English, 12029, "HTTP error: Cannot connect"},
        {Language::German, 12029, "HTTP error: Verbindung konnte nicht aufgebaut werden"},
        {Language::English, 12044, "HTTP error: A client certificate is needed for authentication"},
        {Language::English, 12001, "HTTP error: Out of handles"},
        {Language::English, 12053, "HTTP error: Insert CD-ROM"},
        // Numbers of the client outside the table come from the system catalogue.
        {Language::English, 1223, "HTTP error: The operation was canceled by the user."},
        {Language::German, 12170, "HTTP error: Das Serverzertifikat wurde gesperrt."},
        // Numbers nobody knows: the number and the lookup's failure.
        {Language::English, 12160, "HTTP error: Error 12160, FormatMessage error 317"},
        {Language::English, 12000, "HTTP error: Error 12000, FormatMessage error 317"},
        {Language::English, 12054, "HTTP error: Error 12054, FormatMessage error 317"},
        {Language::English, 0x80000000u, "HTTP error: Error -2147483648, FormatMessage error 317"},
    };
    HostRecorder host;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        SetProcessLanguage(c.language);
        HostRecorder::logs.clear();
        ReportError(kHttpErrorPrefix, c.error);
        EXPECT_EQ(HostRecorder::Lines(), std::vector<std::string>{c.line});
    }
    SetProcessLanguage(Language::English);
}

TEST(ReportErrorTest, ALongPrefixIsCutAndLeavesNoRoomForTheText) {
    std::u16string prefix(900, u'p');
    char16_t line[kLongPathLimit + 1];
    for (uint32_t error : {0u, 12029u, 12160u, 1223u, 12003u}) {
        SCOPED_TRACE(error);
        FormatErrorLine(prefix.c_str(), error, line);
        EXPECT_EQ(U8(line), std::string(kLongPathLimit, 'p'));
    }
    std::u16string almost(kLongPathLimit - 6, u'p');
    FormatErrorLine(almost.c_str(), 12029, line);
    EXPECT_EQ(U8(line), std::string(kLongPathLimit - 6, 'p') + "Cannot");
}

TEST(ReportErrorTest, NoLogCallbackNoLine) {
    HostRecorder host;
    Plugin().hostLog = nullptr;
    ReportError(kConnectFailedPrefix, 12029);
    EXPECT_TRUE(HostRecorder::logs.empty());
}

}  // namespace
}  // namespace vodarezazuv
