#include "util/http_date.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace vodarezazuv {
namespace {

constexpr uint64_t kSecond = 10'000'000;
constexpr int64_t kDays1601To1970 = 134774;

// The FILETIME count of a UTC calendar time, computed with the standard calendar.
uint64_t At(int y, unsigned m, unsigned d, int hh = 0, int mm = 0, int ss = 0) {
    using namespace std::chrono;
    int64_t days = sys_days{year{y} / month{m} / day{d}}.time_since_epoch().count();
    int64_t seconds = (days + kDays1601To1970) * 86400 + int64_t{hh} * 3600 + int64_t{mm} * 60 + ss;
    return static_cast<uint64_t>(seconds) * kSecond;
}

TEST(ParseHttpDate, CountsFromTheFiletimeEpoch) {
    EXPECT_EQ(ParseHttpDate("1970-01-01"), 116444736000000000u);
    EXPECT_EQ(ParseHttpDate("1601-01-01 00:00:01"), kSecond);
}

TEST(ParseHttpDate, FindsTimeDateAndZoneAnywhereInTheText) {
    struct Case {
        const char* text;
        uint64_t expected;
    } cases[] = {
        {"Mon, 12 Jan 1998 09:25:56 GMT", At(1998, 1, 12, 9, 25, 56)},
        {"1997-12-01T17:42:21-08:00", At(1997, 12, 2, 1, 42, 21)},      // zone crosses midnight
        {"2011-05-06T12:34:56.789+02:00", At(2011, 5, 6, 10, 34, 56)},  // fraction stepped over
        {"2011-05-06T12:34:56Z", At(2011, 5, 6, 12, 34, 56)},
        {"2011-05-06 12:34:56 EST", At(2011, 5, 6, 12, 34, 56)},   // zone names are ignored
        {"2011-05-06T12:34:56+0200", At(2011, 5, 6, 12, 34, 56)},  // no separator: no zone
        {"2011-05-06T12:34:56+01.30", At(2011, 5, 6, 11, 4, 56)},
        {"+01:00 2011-05-06", At(2011, 5, 5, 23)},  // zone before the date
        {"2011-05-06 00:00:00 +99:99", At(2011, 5, 6) - (99 * 3600 + 99 * 60) * kSecond},
        {"06-11-1994", At(1994, 11, 6)},  // day first, midnight
        {"1994/11/06", At(1994, 11, 6)},
        {"2011/05-06", At(2011, 5, 6)},    // separators independent
        {"12 nov 1994", At(1994, 1, 12)},  // unknown name: January
        {"06 Dec 1994", At(1994, 12, 6)},
        {"2011-05-06 10:00:00 11:00:00 2012-01-01 +05:00 -01:00", At(2011, 5, 6, 5)},
        {"2000-02-29", At(2000, 2, 29)},
        {"2004-02-29 23:59:59", At(2004, 2, 29, 23, 59, 59)},
        {"15.11.1994 2000-01-01", At(2000, 1, 1, 15, 11, 19)},  // dots in a time; first time only
        {"01 JAN 2000", At(2000, 1, 1)},                        // names compare with case
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseHttpDate(c.text), c.expected) << c.text;
}

TEST(ParseHttpDate, ReadsEveryMonthName) {
    const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int month = 1; month <= 12; ++month) {
        std::string text = std::string("01 ") + names[month - 1] + " 2000";
        EXPECT_EQ(ParseHttpDate(text.c_str()), At(2000, month, 1)) << text;
    }
}

TEST(ParseHttpDate, GivesZeroWithoutAValidDate) {
    const char* texts[] = {
        "",
        "12:34:56",                        // a time alone is day 0 of January 1900
        "Sunday, 06-Nov-94 08:49:37 GMT",  // month name between hyphens, two-digit year
        "Sun Nov  6 08:49:37 1994",        // month name before the day
        "15.11.1994",                      // read as the time 15:11:19
        "2011-02-30",
        "2011-13-01",
        "2011-00-01",
        "2011-01-00",
        "1700-02-29",  // centuries are no leap years...
        "1800-02-29",
        "1900-02-29",
        "2100-02-29",
        "1600-12-31",  // before the first year
        "2011-05-06 24:00:00",
        "2011-05-06 23:60:00",
        "2011-05-06 23:59:60",
        "2011-05-0",   // piece cut by the terminator
        "1601-01-01",  // the epoch itself is the value 0
    };
    for (const char* text : texts)
        EXPECT_EQ(ParseHttpDate(text), 0u) << text;
}

// A zone ahead of UTC could take an early 1601 time below the epoch; the unsigned count
// must not wrap to a far-future date.
TEST(ParseHttpDate, ZoneBeforeTheEpochGivesZeroInsteadOfWrapping) {
    EXPECT_EQ(ParseHttpDate("1601-01-01T01:00:00+02:00"), 0u);
    EXPECT_EQ(ParseHttpDate("1601-01-01T02:00:00+02:00"), 0u);
    EXPECT_EQ(ParseHttpDate("1601-01-01T02:00:01+02:00"), kSecond);
    EXPECT_EQ(ParseHttpDate("1601-01-01T00:00:00-02:00"), 7200 * kSecond);
}

}  // namespace
}  // namespace vodarezazuv
