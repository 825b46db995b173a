#include "util/http_date.h"

#include <cstddef>

namespace vodarezazuv {

namespace {

// Broken-down time as read: month 0 for January, year counted from 1900.
struct DateFields {
    int32_t second = 0;
    int32_t minute = 0;
    int32_t hour = 0;
    int32_t day = 0;
    int32_t month = 0;
    int32_t year = 0;
};

struct Scan {
    DateFields fields;
    int32_t zoneOffset = 0;  // seconds to add to turn the written time into UTC
    bool timeFound = false;
    bool dateFound = false;
    bool zoneFound = false;
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Whether c fits one pattern position: 'd' a digit, 'a' a letter, ':' either ':' or '.',
// '-' either '-' or '/', '+' either '+' or '-'; any other position stands for itself.
bool Fits(char c, char position) {
    switch (position) {
        case 'd':
            return IsDigit(c);
        case 'a':
            return IsLetter(c);
        case ':':
            return c == ':' || c == '.';
        case '-':
            return c == '-' || c == '/';
        case '+':
            return c == '+' || c == '-';
        default:
            return c == position;
    }
}

// Stops at the first character that does not fit, so it never reads past the terminator.
bool Matches(const char* text, const char* pattern) {
    for (; *pattern != 0; ++pattern, ++text) {
        if (!Fits(*text, *pattern))
            return false;
    }
    return true;
}

int32_t Number(const char* digits, int count) {
    int32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value * 10 + (digits[i] - '0');
    return value;
}

// The index of a month name, exact and case-sensitive; an unknown name gives January.
int32_t MonthIndex(const char* name) {
    static constexpr char kNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    for (int32_t i = 0; i < 12; ++i) {
        const char* entry = kNames + ptrdiff_t{3} * i;
        if (name[0] == entry[0] && name[1] == entry[1] && name[2] == entry[2])
            return i;
    }
    return 0;
}

// Each piece returns the number of characters it took, or 0 when it does not match.
int TakeTime(const char* p, DateFields& f) {
    if (!Matches(p, "dd:dd:dd"))
        return 0;
    f.hour = Number(p, 2);
    f.minute = Number(p + 3, 2);
    f.second = Number(p + 6, 2);
    return 8;
}

int TakeDate(const char* p, DateFields& f) {
    if (Matches(p, "dddd-dd-dd")) {
        f.year = Number(p, 4) - 1900;
        f.month = Number(p + 5, 2) - 1;
        f.day = Number(p + 8, 2);
        return 10;
    }
    if (Matches(p, "dd-dd-dddd")) {
        f.day = Number(p, 2);
        f.month = Number(p + 3, 2) - 1;
        f.year = Number(p + 6, 4) - 1900;
        return 10;
    }
    if (Matches(p, "dd aaa dddd")) {
        f.day = Number(p, 2);
        f.month = MonthIndex(p + 3);
        f.year = Number(p + 7, 4) - 1900;
        return 11;
    }
    return 0;
}

// A "+" zone is ahead of UTC, so its offset is subtracted.
int TakeZone(const char* p, int32_t& offset) {
    if (!Matches(p, "+dd:dd"))
        return 0;
    int32_t seconds = Number(p + 1, 2) * 3600 + Number(p + 4, 2) * 60;
    offset = p[0] == '+' ? -seconds : seconds;
    return 6;
}

// Tries the pieces not yet found at p, time before date before zone; returns the number of
// characters to advance.
int Step(const char* p, Scan& s) {
    int taken = 0;
    if (!s.timeFound && (taken = TakeTime(p, s.fields)) > 0) {
        s.timeFound = true;
    } else if (!s.dateFound && (taken = TakeDate(p, s.fields)) > 0) {
        s.dateFound = true;
    } else if (!s.zoneFound && (taken = TakeZone(p, s.zoneOffset)) > 0) {
        s.zoneFound = true;
    } else {
        taken = 1;
    }
    return taken;
}

bool IsLeapYear(int32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int32_t DaysInMonth(int32_t year, int32_t month) {
    static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the given date; 1601 starts a 400-year Gregorian cycle.
int64_t DaysSince1601(int32_t year, int32_t month, int32_t day) {
    int64_t years = year - 1601;
    int64_t days = years * 365 + years / 4 - years / 100 + years / 400;
    for (int32_t m = 1; m < month; ++m)
        days += DaysInMonth(year, m);
    return days + day - 1;
}

constexpr int64_t kTicksPerSecond = 10000000;

// The count of 100-ns units since 1601 of the fields taken as a UTC calendar time, with the
// range checks of SystemTimeToFileTime; -1 when the time is not valid.
int64_t CalendarToCount(const DateFields& f) {
    int32_t year = f.year + 1900;
    int32_t month = f.month + 1;
    if (year < 1601 || year > 30827 || month < 1 || month > 12)
        return -1;
    if (f.day < 1 || f.day > DaysInMonth(year, month))
        return -1;
    if (f.hour < 0 || f.hour > 23 || f.minute < 0 || f.minute > 59)
        return -1;
    if (f.second < 0 || f.second > 59)
        return -1;
    int64_t seconds = DaysSince1601(year, month, f.day) * 86400 + int64_t{f.hour} * 3600 +
                      int64_t{f.minute} * 60 + f.second;
    return seconds * kTicksPerSecond;
}

}  // namespace

uint64_t ParseHttpDate(const char* text) {
    Scan s;
    for (const char* p = text; *p != 0;)
        p += Step(p, s);
    int64_t count = CalendarToCount(s.fields);
    if (count < 0)
        return 0;
    // A zone ahead of UTC can move a time early on 1601-01-01 before the epoch; the count
    // would wrap to a date tens of thousands of years ahead, so it counts as no date.
    int64_t utc = count + static_cast<int64_t>(s.zoneOffset) * kTicksPerSecond;
    return utc < 0 ? 0 : static_cast<uint64_t>(utc);
}

}  // namespace vodarezazuv
