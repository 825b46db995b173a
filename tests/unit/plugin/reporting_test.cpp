#include "plugin/reporting.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "plugin/plugin_state.h"

namespace vodarezazuv {
namespace {

// The clock and the host as one small fake: the test moves the time, the host counts.
struct FakeHost {
    static inline uint32_t now = 0;
    static inline std::vector<int32_t> percents;
    static inline int32_t answer = 0;
    static inline std::vector<std::u16string> lines;

    static uint32_t Tick() { return now; }
    static int32_t Progress(int32_t, char16_t* source, char16_t* target, int32_t percent) {
        EXPECT_EQ(source, nullptr);
        EXPECT_EQ(target, nullptr);
        percents.push_back(percent);
        return answer;
    }
    static void Log(int32_t number, int32_t type, char16_t* text) {
        EXPECT_EQ(number, 11);
        EXPECT_EQ(type, LogTypeDetail);
        lines.emplace_back(text);
    }
};

class Reporting : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = Plugin();
        Plugin().pluginNumber = 11;
        Plugin().hostProgress = &FakeHost::Progress;
        Plugin().hostLog = &FakeHost::Log;
        Plugin().lastProgressTick = 0;
        FakeHost::percents.clear();
        FakeHost::lines.clear();
        FakeHost::answer = 0;
        SetTickSource(&FakeHost::Tick);
    }
    void TearDown() override {
        SetTickSource(nullptr);
        Plugin() = saved;
    }
    PluginState saved;
};

TEST_F(Reporting, ProgressReachesTheHostAtMostOncePer250Milliseconds) {
    struct Step {
        uint32_t now;
        int32_t percent;
        bool reaches;
    } steps[] = {
        {10000, 1, true},   // the first report of the process goes through at once
        {10100, 2, false},  // 100 ms later
        {10250, 3, false},  // exactly 250 ms after the last report is still skipped
        {10251, 4, true},   // 251 ms
        {10502, 5, true},  {10502, 6, false},
    };
    std::vector<int32_t> expected;
    for (const Step& step : steps) {
        FakeHost::now = step.now;
        EXPECT_EQ(ReportProgress(step.percent), 0);
        if (step.reaches)
            expected.push_back(step.percent);
    }
    EXPECT_EQ(FakeHost::percents, expected);
}

TEST_F(Reporting, TheThrottleSurvivesTheWrapOfTheTickCount) {
    Plugin().lastProgressTick = 0xFFFFFF00u;
    FakeHost::now = 0x00000010u;  // 0x110 = 272 ms later, across the wrap
    ReportProgress(1);
    FakeHost::now = 0x00000020u;
    ReportProgress(2);
    EXPECT_EQ(FakeHost::percents, std::vector<int32_t>{1});
    // A clock that seems to run backwards by a lot, even by half its range, still reports.
    Plugin().lastProgressTick = 0x80000000u;
    FakeHost::now = 0;
    ReportProgress(3);
    EXPECT_EQ(FakeHost::percents.back(), 3);
}

TEST_F(Reporting, AnAbortAnswerIsPassedOnAndTheTimeIsTakenAfterTheCall) {
    FakeHost::now = 5000;
    FakeHost::answer = 7;
    EXPECT_EQ(ReportProgress(50), 1);
    EXPECT_EQ(Plugin().lastProgressTick, 5000u);
    Plugin().hostProgress = nullptr;
    FakeHost::now = 9000;
    EXPECT_EQ(ReportProgress(60), 0) << "no callback: no abort";
}

TEST_F(Reporting, LogLinesGoToTheHostAsDetailLines) {
    LogLine(u"=================");
    Plugin().hostLog = nullptr;
    LogLine(u"nobody hears this");
    EXPECT_EQ(FakeHost::lines, std::vector<std::u16string>{u"================="});
}

}  // namespace
}  // namespace vodarezazuv
