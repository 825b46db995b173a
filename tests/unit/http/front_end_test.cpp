#include "platform/front_end.h"

#include <gtest/gtest.h>

#include <string>

#include "host_recorder.h"

namespace vodarezazuv {
namespace {

using testing_http::HostRecorder;

struct AnsweringFrontEnd : FrontEnd {
    std::string seen;
    int32_t MessageBox(const char16_t* text, const char16_t* caption, MessageIcon) override {
        seen = testsupport::U8(caption) + "|" + testsupport::U8(text);
        return 2;
    }
};

TEST(FrontEndTest, MessageBoxesGoToTheFrontEndOrElseToTheLog) {
    HostRecorder host;
    EXPECT_EQ(ShowMessageBox(u"Failed to load password!", u"Error", MessageIcon::Error),
              kMessageBoxOk);
    EXPECT_EQ(HostRecorder::Lines(), std::vector<std::string>{"Error: Failed to load password!"});

    AnsweringFrontEnd frontEnd;
    SetFrontEnd(&frontEnd);
    HostRecorder::logs.clear();
    EXPECT_EQ(ShowMessageBox(u"text", u"caption", MessageIcon::Information), 2);
    SetFrontEnd(nullptr);
    EXPECT_EQ(frontEnd.seen, "caption|text");
    EXPECT_TRUE(HostRecorder::logs.empty());
}

}  // namespace
}  // namespace vodarezazuv
