// The receiver's current time, the time-stamp forms of the logs and the
// firmware's conversion to Linux time, on the stand-in's clock.
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "emutest.h"
#include "support/velalib.h"

namespace {

constexpr dword kMjd20160229 = 57447;
constexpr dword kReference = (kMjd20160229 << 16) | (13 << 8) | 5;  // 2016-02-29 13:05

// Seconds since 1970 of a date and time in UTC, the stand-in's zone.
long long linuxTime(int year, int month, int day, int hour, int minute, int second) {
    struct tm t = {};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
    t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
    return (long long)timegm(&t);
}

dword mjdOf(int year, int month, int day) { return (dword)(linuxTime(year, month, day, 0, 0, 0) / 86400 + 40587); }

std::string format(dword fwTime, byte second, unsigned code) {
    char buffer[40];
    memset(buffer, 'x', sizeof buffer);
    char *result = TimeFormat(fwTime, second, code, buffer);
    EXPECT_EQ(buffer, result);
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

struct FormatCase {
    dword fwTime;
    byte second;
    unsigned code;
    const char *expected;
};

std::ostream &operator<<(std::ostream &o, const FormatCase &c) {
    return o << "time 0x" << std::hex << c.fwTime << std::dec << " second " << (int)c.second << " code "
             << c.code;
}

const std::vector<FormatCase> kFormats = {
    // Every code for 2016-02-29 13:05:09.
    {kReference, 9, 0, ""},
    {kReference, 9, 1, "13:05"},
    {kReference, 9, 2, "13:05:09"},
    {kReference, 9, 3, "2016-02-29"},
    {kReference, 9, 4, "2016-02-29 13:05"},
    {kReference, 9, 5, "2016-02-29 13:05:09"},
    {kReference, 9, 6, "20160229_1305"},
    {kReference, 9, 7, ""},
    {kReference, 9, 255, ""},
    {kReference, 9, 0xFFFFFFFFu, ""},
    // No date below 0x10000: the date prints as zeros.
    {0x0D05, 9, 3, "00-00-00"},
    {0x0D05, 9, 4, "0000-00-00 13:05"},
    {0x0D05, 9, 5, "0000-00-00 13:05:09"},
    {0x0D05, 9, 6, "00000000_1305"},
    {0x0D05, 9, 2, "13:05:09"},
    {0, 0, 5, "0000-00-00 00:00:00"},
    // Hour, minute and second print as they are.
    {(kMjd20160229 << 16) | (25 << 8) | 5, 9, 1, "25:05"},
    {(kMjd20160229 << 16) | 0xFFFF, 255, 5, "2016-02-29 255:255:255"},
    {(kMjd20160229 << 16) | (0 << 8) | 60, 61, 2, "00:60:61"},
    // Other days.
    {40587u << 16, 0, 5, "1970-01-01 00:00:00"},
    {(51544u << 16) | (23 << 8) | 59, 59, 6, "20000101_2359"},
    {51603u << 16, 0, 3, "2000-02-29"},
    {1u << 16, 0, 3, "1858-11-18"},
    {(65535u << 16) | (8 << 8) | 30, 1, 5, "2038-04-22 08:30:01"},
};

class TimeFormatTest : public EmuTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(TimeFormatTest, PrintsTheStampOfItsCode) {
    EXPECT_EQ(GetParam().expected, format(GetParam().fwTime, GetParam().second, GetParam().code)) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(TimeFormat, TimeFormatTest, ::testing::ValuesIn(kFormats));

using TimeFormatBuffer = EmuTest;

TEST_F(TimeFormatBuffer, NullBufferGivesNull) {
    for (unsigned code = 0; code <= 7; code++) EXPECT_EQ(nullptr, TimeFormat(kReference, 9, code, nullptr)) << code;
}

TEST_F(TimeFormatBuffer, WidestStampFitsInTwentyThreeBytes) {
    char buffer[40];
    memset(buffer, 'x', sizeof buffer);
    TimeFormat((65535u << 16) | 0xFFFF, 255, TIMESTAMP_YMDHMS, buffer);
    EXPECT_EQ(22u, strlen(buffer));
    for (size_t i = 23; i < sizeof buffer; i++) EXPECT_EQ('x', buffer[i]) << "byte " << i;
}

// The receiver's clock at different times.
struct ClockCase {
    int year, month, day, hour, minute, second;
    const char *stamp;
};

std::ostream &operator<<(std::ostream &o, const ClockCase &c) { return o << "clock " << c.stamp; }

const std::vector<ClockCase> kClocks = {
    {2016, 2, 29, 13, 5, 9, "2016-02-29 13:05:09"},
    {1999, 12, 31, 23, 59, 59, "1999-12-31 23:59:59"},
    {2000, 1, 1, 0, 0, 0, "2000-01-01 00:00:00"},
    {1970, 1, 1, 0, 0, 0, "1970-01-01 00:00:00"},
    {2038, 1, 19, 3, 14, 7, "2038-01-19 03:14:07"},
};

class Clock : public EmuTest, public ::testing::WithParamInterface<ClockCase> {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        const ClockCase &c = GetParam();
        emuSetTime(c.year, c.month, c.day, c.hour, c.minute, c.second);
    }
};

TEST_P(Clock, NowGivesTheFirmwareTimeAndSecond) {
    const ClockCase &c = GetParam();
    dword expected = (mjdOf(c.year, c.month, c.day) << 16) | (c.hour << 8) | c.minute;
    byte second = 0xEE;
    EXPECT_EQ(expected, Now(&second)) << c;
    EXPECT_EQ(c.second, second) << c;
    EXPECT_EQ(expected, Now(nullptr)) << c;
}

TEST_P(Clock, NowFormatsAsTheLogStamp) {
    byte second = 0;
    dword now = Now(&second);
    EXPECT_EQ(GetParam().stamp, format(now, second, TIMESTAMP_YMDHMS)) << GetParam();
}

TEST_P(Clock, PvrTimeToLinuxGivesTheWholeMinute) {
    const ClockCase &c = GetParam();
    long long expected = linuxTime(c.year, c.month, c.day, c.hour, c.minute, 0);
    EXPECT_EQ(expected, (long long)PvrTimeToLinux(Now(nullptr))) << c;
}

INSTANTIATE_TEST_SUITE_P(Time, Clock, ::testing::ValuesIn(kClocks));

using PvrTimeToLinuxTest = EmuTest;

TEST_F(PvrTimeToLinuxTest, UsesTheFirmwareRoutineNotItself) {
    void *routine = FIS_fwTimeToLinux();
    ASSERT_NE(nullptr, routine);
    EXPECT_NE((void *)&PvrTimeToLinux, routine);
    EXPECT_EQ(1456751100u, PvrTimeToLinux(kReference));
}

TEST_F(PvrTimeToLinuxTest, LooksTheRoutineUpOnceInAll) {
    for (int i = 0; i < 5; i++) EXPECT_EQ(1456751100u, PvrTimeToLinux(kReference)) << "call " << i;
    EXPECT_EQ(1u, emuLookupCount("PvrTimeToLinux"));
}

TEST_F(PvrTimeToLinuxTest, WithoutTheRoutineGivesFE00AndLooksAgain) {
    emuHideSymbol("PvrTimeToLinux", 1);
    for (dword t : {0u, kReference, 0xFFFFFFFFu}) EXPECT_EQ(0xFE00u, PvrTimeToLinux(t)) << t;
    EXPECT_EQ(3u, emuLookupCount("PvrTimeToLinux"));
    EXPECT_EQ(nullptr, FIS_fwTimeToLinux());
    EXPECT_EQ(4u, emuLookupCount("PvrTimeToLinux"));

    emuHideSymbol("PvrTimeToLinux", 0);
    EXPECT_EQ(1456751100u, PvrTimeToLinux(kReference));
    EXPECT_EQ(1456751100u, PvrTimeToLinux(kReference));
    EXPECT_EQ(5u, emuLookupCount("PvrTimeToLinux"));
}

}  // namespace
