/*
 * The receiver's clock (UTC; it stands still when it is fixed) and the
 * firmware's date and time calls, among them the routine that TAPs look
 * up by name, PvrTimeToLinux.
 */
#include <time.h>

#include "entries.h"

/* Firmware time MJD<<16 | hour<<8 | minute to Linux seconds; the
 * receiver's clock runs in UTC. */
EMU_EXPORT dword PvrTimeToLinux(dword fwTime) {
    long long days = (long long)(fwTime >> 16) - 40587;
    long long seconds = days * 86400 + ((fwTime >> 8) & 0xFF) * 3600 + (fwTime & 0xFF) * 60;
    return (dword)seconds;
}

long emuMjdFromDate(long year, int month, int day) {
    // days from civil (proleptic Gregorian), then shifted to MJD
    long y = year - (month <= 2);
    long era = (y >= 0 ? y : y - 399) / 400;
    long yoe = y - era * 400;
    long mp = (month + 9) % 12;
    long doy = (153 * mp + 2) / 5 + day - 1;
    long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long unixDays = era * 146097 + doe - 719468;
    return unixDays + 40587;
}

void emuDateFromMjd(long mjd, long *year, int *month, int *day) {
    long z = mjd - 40587 + 719468;
    long era = (z >= 0 ? z : z - 146096) / 146097;
    long doe = z - era * 146097;
    long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long mp = (5 * doy + 2) / 153;
    int d = (int)(doy - (153 * mp + 2) / 5 + 1);
    int m = (int)(mp < 10 ? mp + 3 : mp - 9);
    *year = yoe + era * 400 + (m <= 2);
    *month = m;
    *day = d;
}

/* The fixed clock in Linux seconds, while the receiver's clock stands. */
static bool fixedTime = false;
static long long fixedSeconds = 0;

void callsResetClock(void) {
    fixedTime = false;
    if (emu.options.fixedTime)
        emuSetTime(emu.options.year, emu.options.month, emu.options.day, emu.options.hour, emu.options.minute,
                   emu.options.second);
}

long long emuNowSeconds(void) {
    if (fixedTime) return fixedSeconds;
    return (long long)time(nullptr);
}

void emuSetTime(int year, int month, int day, int hour, int minute, int second) {
    fixedTime = true;
    fixedSeconds = (long long)(emuMjdFromDate(year, month, day) - 40587) * 86400 + hour * 3600 +
                       minute * 60 + second;
}

static std::string outValue(const void *p, long long v) { return p ? num(v) : "NULL"; }

int fwGetTime(word *mjd, byte *hour, byte *minute, byte *second) {
    long long t = emuNowSeconds();
    long long days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
    long long rest = t - days * 86400;
    word m = (word)(days + 40587);
    byte h = (byte)(rest / 3600), mi = (byte)(rest / 60 % 60), s = (byte)(rest % 60);
    if (mjd) *mjd = m;
    if (hour) *hour = h;
    if (minute) *minute = mi;
    if (second) *second = s;
    traceLine("TAP_GetTime " + outValue(mjd, m) + " " + outValue(hour, h) + " " + outValue(minute, mi) + " " +
              outValue(second, s) + " -> 0");
    return 0;
}

int fwExtractMjd(word mjd, word *year, byte *month, byte *day, byte *weekDay) {
    long y;
    int mo, d;
    emuDateFromMjd(mjd, &y, &mo, &d);
    byte wd = (byte)((mjd + 3) % 7);  // MJD 0 was a Wednesday; 0 is Sunday
    if (year) *year = (word)y;
    if (month) *month = (byte)mo;
    if (day) *day = (byte)d;
    if (weekDay) *weekDay = wd;
    traceLine("TAP_ExtractMjd " + num(mjd) + " " + outValue(year, y) + " " + outValue(month, mo) + " " +
              outValue(day, d) + " " + outValue(weekDay, wd) + " -> 0");
    return 0;
}

static int daysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

word fwMakeMjd(word year, byte month, byte day) {
    word r = 0;
    if (month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month)) {
        long mjd = emuMjdFromDate(year, month, day);
        if (mjd >= 0 && mjd <= 0xFFFF) r = (word)mjd;
    }
    traceLine("TAP_MakeMjd " + num(year) + " " + num(month) + " " + num(day) + " -> " + num(r));
    return r;
}
